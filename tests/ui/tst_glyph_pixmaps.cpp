#include "ui/app_style.h"
#include "ui/glyph_pixmaps.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QTest>

class TestGlyphPixmaps : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void drawnOncePerLook_data();
    void drawnOncePerLook();
};

void TestGlyphPixmaps::drawnOncePerLook_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("emoji in a row") << QStringLiteral("📝") << 13 << 1.0;
    QTest::newRow("emoji on a card, high density") << QStringLiteral("📁") << 38 << 2.0;
    QTest::newRow("a letter") << QStringLiteral("A") << 24 << 1.5;
}

// The text is drawn into the pixmap at the screen's density, and asking again gives the same one;
// another colour or size is another look.
void TestGlyphPixmaps::drawnOncePerLook()
{
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(qreal, ratio);
    const QFont font = AppStyle::system(size);
    const QPixmap made = GlyphPixmaps::pixmap(text, font, Qt::black, ratio);
    QVERIFY(!made.isNull());
    QCOMPARE(made.devicePixelRatio(), ratio);
    const QFontMetricsF metrics(font);
    QCOMPARE(made.deviceIndependentSize().height(), std::ceil(metrics.height()));
    const QImage image = made.toImage().convertToFormat(QImage::Format_ARGB32);
    bool inked = false;
    for (int y = 0; y < image.height() && !inked; ++y) {
        for (int x = 0; x < image.width() && !inked; ++x)
            inked = qAlpha(image.pixel(x, y)) > 0;
    }
    QVERIFY(inked);

    const int held = GlyphPixmaps::cachedCount();
    QCOMPARE(GlyphPixmaps::pixmap(text, font, Qt::black, ratio).cacheKey(), made.cacheKey());
    QCOMPARE(GlyphPixmaps::cachedCount(), held);
    QVERIFY(GlyphPixmaps::pixmap(text, font, Qt::white, ratio).cacheKey() != made.cacheKey());
    QVERIFY(GlyphPixmaps::pixmap(text, AppStyle::system(size + 1), Qt::black, ratio).cacheKey() !=
            made.cacheKey());
    QCOMPARE(GlyphPixmaps::cachedCount(), held + 2);
    QVERIFY(GlyphPixmaps::pixmap(QString(), font, Qt::black, ratio).isNull());
}

QTEST_MAIN(TestGlyphPixmaps)
#include "tst_glyph_pixmaps.moc"
