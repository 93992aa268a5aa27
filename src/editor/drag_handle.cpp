#include "editor/drag_handle.h"

#include "ui/app_style.h"

#include <QPainter>

namespace {

constexpr qreal kDotDiameter = 3.0;
constexpr qreal kDotPitch = 5.0;

} // namespace

DragHandle::DragHandle(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(kWidth, kHeight);
    setCursor(Qt::OpenHandCursor);
    setFocusPolicy(Qt::NoFocus);
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    hide();
}

void DragHandle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(AppStyle::tertiary(this));
    // Two columns of three, centred on the first line of the row's text.
    const QPointF centre(width() / 2.0, height() / 2.0);
    for (int column = 0; column < 2; ++column) {
        for (int line = -1; line <= 1; ++line) {
            const QPointF dot(centre.x() + (column - 0.5) * kDotPitch, centre.y() + line * kDotPitch);
            painter.drawEllipse(dot, kDotDiameter / 2, kDotDiameter / 2);
        }
    }
}
