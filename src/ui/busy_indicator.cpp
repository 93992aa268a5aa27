#include "ui/busy_indicator.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kSteps = 12;
constexpr int kFrameMs = 80;

} // namespace

BusyIndicator::BusyIndicator(int size, QObject *parent)
    : QObject(parent)
    , m_size(size)
{
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSteps;
        Q_EMIT frameChanged();
    });
}

void BusyIndicator::setRunning(bool running)
{
    if (running == m_timer.isActive())
        return;
    if (running)
        m_timer.start();
    else
        m_timer.stop();
    Q_EMIT frameChanged();
}

QIcon BusyIndicator::frame(qreal devicePixelRatio) const
{
    QPixmap pixmap(QSize(m_size, m_size) * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = qMax(1.5, m_size / 8.0);
    const QRectF box = QRectF(0, 0, m_size, m_size).adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
    QColor track = m_color;
    track.setAlphaF(0.25);
    painter.setPen(QPen(track, pen));
    painter.drawEllipse(box);
    painter.setPen(QPen(m_color, pen, Qt::SolidLine, Qt::RoundCap));
    const int start = 90 * 16 - m_step * (360 * 16 / kSteps);
    painter.drawArc(box, start, -100 * 16);
    painter.end();
    return QIcon(pixmap);
}

void BusyIndicator::showIn(QLabel *label)
{
    const auto update = [label, this] {
        label->setPixmap(frame(label->devicePixelRatioF()).pixmap(label->size(), label->devicePixelRatioF()));
    };
    connect(this, &BusyIndicator::frameChanged, label, update);
    update();
}
