#pragma once

#include <QFrame>

#include <functional>

// A frame that runs an action on a left click released inside it: a card or a row that opens a
// link as a whole, with the pointing-hand cursor.
class ClickableFrame : public QFrame
{
public:
    explicit ClickableFrame(std::function<void()> onClick, QWidget *parent = nullptr);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::function<void()> m_onClick;
};
