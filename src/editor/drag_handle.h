#pragma once

#include <QWidget>

// The grip at the start of a top-level block row: six dots, shown while the pointer is over the row.
// It handles no mouse event itself, so a press on it reaches the row and starts the block's drag.
// Its room is kept while it is hidden: the row's text never moves when it comes and goes.
class DragHandle : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 12;
    static constexpr int kHeight = 22;

    explicit DragHandle(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent *event) override;
};
