#include "ui/clickable_frame.h"

#include <QMouseEvent>

ClickableFrame::ClickableFrame(std::function<void()> onClick, QWidget *parent)
    : QFrame(parent)
    , m_onClick(std::move(onClick))
{
    setCursor(Qt::PointingHandCursor);
}

void ClickableFrame::mouseReleaseEvent(QMouseEvent *event)
{
    // Released outside is the user changing their mind.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_onClick)
        m_onClick();
    QFrame::mouseReleaseEvent(event);
}
