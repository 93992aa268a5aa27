#pragma once

#include <QToolButton>

// The row's comment button: an outline bubble while the block has no comment, else a filled bubble
// with the count on a small accent badge at its top-trailing corner.
class CommentButton : public QToolButton
{
    Q_OBJECT
public:
    static constexpr int kSize = 18;

    explicit CommentButton(QWidget *parent = nullptr);

    void setCount(int count);
    int count() const { return m_count; }
    // The number on the badge; empty when none is drawn.
    QString badgeText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_count = 0;
};
