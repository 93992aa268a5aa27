#include "fake-service/fake_demo_media.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace {

// No text is drawn: the standalone service runs without a GUI application, so it has no fonts.
QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void sky(QPainter &p, const QRectF &r, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(r, g);
}

} // namespace

namespace FakeDemoMedia {

QByteArray tramPhoto()
{
    QImage image(640, 360, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, image.rect(), QColor(0x2a, 0x3b, 0x6e), QColor(0xf4, 0xa2, 0x61));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd6, 0x8a));
    p.drawEllipse(QPointF(480, 150), 46, 46);

    // Houses climbing the hill, then the street the tram runs on.
    const QColor walls[] = {QColor(0xe9, 0xc4, 0x6a), QColor(0xe7, 0x6f, 0x51), QColor(0xf1, 0xfa, 0xee),
                            QColor(0x8a, 0xb1, 0x7d), QColor(0xd6, 0x8c, 0x45)};
    for (int i = 0; i < 9; ++i) {
        const qreal x = i * 72 - 10;
        const qreal top = 120 + i * 14;
        p.setBrush(walls[i % 5]);
        p.drawRect(QRectF(x, top, 70, 360 - top));
        p.setBrush(QColor(0x9c, 0x3d, 0x2b));
        p.drawPolygon(QPolygonF({QPointF(x - 4, top), QPointF(x + 35, top - 22), QPointF(x + 74, top)}));
        p.setBrush(QColor(0x3d, 0x40, 0x5b));
        for (int w = 0; w < 2; ++w)
            p.drawRect(QRectF(x + 12 + w * 28, top + 18, 16, 22));
    }
    QPainterPath street;
    street.moveTo(0, 300);
    street.lineTo(640, 250);
    street.lineTo(640, 360);
    street.lineTo(0, 360);
    p.setBrush(QColor(0x6d, 0x67, 0x5f));
    p.drawPath(street);

    p.save();
    p.translate(250, 262);
    p.rotate(-4.5);
    p.setBrush(QColor(0xf6, 0xc3, 0x2b));
    p.drawRoundedRect(QRectF(0, -70, 170, 70), 10, 10);
    p.setBrush(QColor(0xfa, 0xfa, 0xf5));
    p.drawRect(QRectF(0, -18, 170, 8));
    p.setBrush(QColor(0x26, 0x46, 0x53));
    for (int w = 0; w < 5; ++w)
        p.drawRoundedRect(QRectF(10 + w * 32, -60, 24, 30), 3, 3);
    p.setBrush(QColor(0x22, 0x22, 0x22));
    p.drawEllipse(QPointF(35, 2), 11, 11);
    p.drawEllipse(QPointF(135, 2), 11, 11);
    p.setPen(QPen(QColor(0x22, 0x22, 0x22), 3));
    p.drawLine(QPointF(85, -70), QPointF(110, -120));
    p.restore();
    p.end();
    return png(image);
}

QByteArray coverPicture()
{
    QImage image(1200, 300, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, QRectF(0, 0, 1200, 190), QColor(0xff, 0x9a, 0x76), QColor(0xff, 0xd5, 0x8e));
    sky(p, QRectF(0, 190, 1200, 110), QColor(0x1d, 0x6a, 0x96), QColor(0x0b, 0x35, 0x5a));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xf1, 0xc1));
    p.drawEllipse(QPointF(820, 190), 70, 70);
    sky(p, QRectF(0, 190, 1200, 110), QColor(0x1d, 0x6a, 0x96, 230), QColor(0x0b, 0x35, 0x5a));
    p.setPen(QPen(QColor(0xff, 0xe4, 0xa8, 160), 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 7; ++i)
        p.drawLine(QPointF(760 + i * 6, 205 + i * 12), QPointF(880 - i * 6, 205 + i * 12));
    p.end();
    return png(image);
}

QByteArray previewCard()
{
    QImage image(480, 250, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, image.rect(), QColor(0x00, 0x5f, 0x73), QColor(0x0a, 0x93, 0x96));
    p.setPen(Qt::NoPen);
    // Azulejo tiles: the blue and white squares the city is known for.
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 8; ++col) {
            const QRectF tile(24 + col * 56, 20 + row * 56, 50, 50);
            p.setBrush(QColor(0xf1, 0xf5, 0xf9));
            p.drawRect(tile);
            p.setBrush(QColor(0x1d, 0x4e, 0x89));
            p.drawEllipse(tile.center(), 14, 14);
            p.setBrush(QColor(0xf1, 0xf5, 0xf9));
            p.drawEllipse(tile.center(), 6, 6);
        }
    }
    p.end();
    return png(image);
}

QByteArray chime()
{
    constexpr int rate = 22050;
    constexpr int samples = rate * 3 / 2;
    QByteArray pcm;
    pcm.reserve(samples * 2);
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / rate;
        // Two bell-like notes (E5, then B5), each fading out.
        const double first = std::sin(2 * std::numbers::pi * 659.25 * t) * std::exp(-3.0 * t);
        const double late = t - 0.45;
        const double second =
            late < 0 ? 0 : std::sin(2 * std::numbers::pi * 987.77 * late) * std::exp(-3.0 * late);
        const auto v = qint16(std::lround(9000 * (first + second)));
        pcm.append(char(v & 0xff));
        pcm.append(char((v >> 8) & 0xff));
    }
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    out.writeRawData(pcm.constData(), int(pcm.size()));
    return wav;
}

QByteArray briefText()
{
    return QByteArrayLiteral("# Project Kestrel: brief\n\n"
                             "Kestrel is the new offline mode of the field app: surveyors keep working in "
                             "the hills and everything syncs when they are back in range.\n\n"
                             "## Goals\n\n"
                             "- Every form works without a connection.\n"
                             "- Sync finishes in under ten seconds for a day's work.\n"
                             "- No surveyor ever loses an entry.\n\n"
                             "## Dates\n\n"
                             "- Beta: 24 February\n"
                             "- Launch: 14 March\n");
}

} // namespace FakeDemoMedia
