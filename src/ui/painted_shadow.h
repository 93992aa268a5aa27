#pragma once

#include <QPointer>
#include <QWidget>

// A soft shadow under a floating widget, painted beside it as a sibling that follows its place,
// stacking and visibility. A QGraphicsDropShadowEffect would instead render the widget afresh on
// every repaint of anything it overlaps, and each render visits every widget of the window.
class PaintedShadow : public QWidget
{
    Q_OBJECT
public:
    // Follows `target`, which must have a parent, and goes with it.
    PaintedShadow(QWidget *target, int radius, int blur, QPoint offset, QColor color);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow();

    QPointer<QWidget> m_target;
    int m_radius;
    int m_blur;
    QPoint m_offset;
    QColor m_color;
};
