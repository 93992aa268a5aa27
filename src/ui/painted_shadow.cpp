#include "ui/painted_shadow.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

PaintedShadow::PaintedShadow(QWidget *target, int radius, int blur, QPoint offset, QColor color)
    : QWidget(target->parentWidget())
    , m_target(target)
    , m_radius(radius)
    , m_blur(std::max(1, blur))
    , m_offset(offset)
    , m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    connect(target, &QObject::destroyed, this, &QObject::deleteLater);
    target->installEventFilter(this);
    follow();
}

bool PaintedShadow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ZOrderChange:
    case QEvent::ParentChange:
        follow();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void PaintedShadow::follow()
{
    if (!m_target)
        return;
    if (parentWidget() != m_target->parentWidget()) {
        setParent(m_target->parentWidget());
    }
    const QRect around = m_target->geometry().translated(m_offset).adjusted(-m_blur, -m_blur, m_blur, m_blur);
    if (geometry() != around)
        setGeometry(around);
    setVisible(m_target->isVisible());
    stackUnder(m_target);
}

void PaintedShadow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Rings of falling strength from the widget's edge outwards stand in for a blur.
    const QRectF inner = QRectF(rect()).adjusted(m_blur, m_blur, -m_blur, -m_blur);
    for (int ring = m_blur; ring >= 1; --ring) {
        QColor shade = m_color;
        shade.setAlphaF(m_color.alphaF() * (1.0 - double(ring - 1) / m_blur) / m_blur * 2);
        painter.setBrush(shade);
        const QRectF r = inner.adjusted(-ring, -ring, ring, ring);
        painter.drawRoundedRect(r, m_radius + ring, m_radius + ring);
    }
}
