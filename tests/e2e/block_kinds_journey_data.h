#pragma once

// What the block kinds journey types, picks and expects to see.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <QString>
#include <QStringList>

namespace blockKindsJourney {

inline const QString kEmail = QStringLiteral("sam@example.com");
inline const QString kPassword = QStringLiteral("hunter22");
inline const QString kName = QStringLiteral("Sam Baker");
inline const QString kPageTitle = QStringLiteral("Sourdough");
inline const QString kOtherTitle = QStringLiteral("Pantry");
inline const QString kSourceText = QStringLiteral("Feed the starter the night before");
inline const QString kLatex = QStringLiteral("h = \\frac{w}{f}");
inline const QString kPrompt = QStringLiteral("Summarise this page");
inline const QString kButtonLabel = QStringLiteral("Ask about the bread");
// Loopback addresses only, the port refused: nothing here resolves a host name or reaches the web.
inline const QString kEmbedURL = QStringLiteral("http://127.0.0.1:9/embed/loaf");
inline const QString kBookmarkURL = QStringLiteral("http://127.0.0.1:9/guides/crumb");

// The kinds as the user leaves them, one line a block, top to bottom: what the window shows and
// what the service holds both read like this.
inline const QStringList kTextKinds{
    QStringLiteral("text: ") + kSourceText,
    QStringLiteral("h1: Bread"),
    QStringLiteral("h2: Ingredients"),
    QStringLiteral("h3: Method"),
    QStringLiteral("bullet: Flour"),
    QStringLiteral("number: Mix"),
    QStringLiteral("todo: [x] Buy rye"),
    QStringLiteral("quote: Patience makes bread"),
    QStringLiteral("callout: Keep it warm"),
    QStringLiteral("code: bake(230)"),
    QStringLiteral("divider: "),
    QStringLiteral("toggle: Notes"),
};

// A wide photo-like picture: a loaf on a board, as PNG.
inline QByteArray loafPicture()
{
    QImage image(960, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 240);
    sky.setColorAt(0, QColor(0xf4, 0xe6, 0xcc));
    sky.setColorAt(1, QColor(0xc8, 0x9b, 0x62));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x8a, 0x5a, 0x2b));
    painter.drawRoundedRect(QRect(300, 170, 360, 40), 12, 12);
    painter.setBrush(QColor(0xb0, 0x6a, 0x2c));
    painter.drawEllipse(QRect(340, 70, 280, 120));
    painter.setPen(QPen(QColor(0xe8, 0xc8, 0x98), 6, Qt::SolidLine, Qt::RoundCap));
    for (int x = 400; x <= 540; x += 70)
        painter.drawLine(x, 100, x + 40, 150);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace blockKindsJourney
