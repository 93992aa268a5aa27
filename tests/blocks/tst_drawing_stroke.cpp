#include "blocks/drawing_stroke.h"

#include <QTest>

#include <cmath>
#include <limits>

// The drawing's stroke text: what the writer produces, what the lenient reader makes of any text,
// and the colours strokes are painted in.
class TestDrawingStroke : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void write_data();
    void write();
    void roundTrip_data();
    void roundTrip();
    void colour_data();
    void colour();
};

namespace {

// "#27ae60 5 0: 1,2 3,4" per stroke, strokes joined by " / ", at full precision.
QString describe(const std::vector<DrawingStroke> &strokes)
{
    QStringList out;
    for (const DrawingStroke &stroke : strokes) {
        QStringList points;
        for (const QPointF &p : stroke.points)
            points << QString::number(p.x(), 'g', 17) + QLatin1Char(',') + QString::number(p.y(), 'g', 17);
        out << QStringLiteral("%1 %2 %3: %4")
                   .arg(stroke.color, QString::number(stroke.width, 'g', 17), stroke.erase ? "1" : "0",
                        points.join(QLatin1Char(' ')));
    }
    return out.join(QStringLiteral(" / "));
}

DrawingStroke stroke(std::vector<QPointF> points, double width = 2, const QString &color = "#222222",
                     bool erase = false)
{
    return DrawingStroke{std::move(points), color, width, erase};
}

} // namespace

void TestDrawingStroke::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("strokes");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("only separators") << "|||"
                                     << "";
    QTest::newRow("only blanks") << "   "
                                 << "";
    QTest::newRow("as written") << "color=#27ae60 w=5 e=0 path=M1,2 L3,4"
                                << "#27ae60 5 0: 1,2 3,4";
    QTest::newRow("attributes in another order") << "w=4 color=#0a64eb path=M0,0 L5,5"
                                                 << "#0a64eb 4 0: 0,0 5,5";
    QTest::newRow("path alone: defaults") << "M10,10 L20,20"
                                          << "#222222 2 0: 10,10 20,20";
    QTest::newRow("empty path") << "color=#222222 w=2 e=0 path="
                                << "";
    QTest::newRow("no path") << "color=#222222 w=2 e=0"
                             << "";
    QTest::newRow("unreadable width, erase") << "color=#222222 w=abc e=1 path=M1,1"
                                             << "#222222 2 1: 1,1";
    QTest::newRow("e=true is not erase") << "color=#222222 w=5 e=true path=M1,1"
                                         << "#222222 5 0: 1,1";
    QTest::newRow("last attribute wins") << "w=3 e=1 color=#111111 w=7 e=0 color=#333333 path=M1,1"
                                         << "#333333 7 0: 1,1";
    QTest::newRow("a failed width resets") << "w=5 w=x path=M1,1"
                                           << "#222222 2 0: 1,1";
    QTest::newRow("empty colour kept") << "color= w=3 path=M1,1"
                                       << " 3 0: 1,1";
    QTest::newRow("other tokens ignored") << "xcolor=#111111 z=9 path=M1,1"
                                          << "#222222 2 0: 1,1";
    QTest::newRow("color= at the start needs no path=") << "color=#111111 M1,1"
                                                        << "#111111 2 0: 1,1";
    QTest::newRow("skipped point tokens") << "M1,2,3 M1 Mx,2 M100000,5 M1e6,1 M5,6 M-100000,1 M1,100000"
                                          << "#222222 2 0: 5,6";
    QTest::newRow("just inside the limit") << "M99999.5,-99999.5"
                                           << "#222222 2 0: 99999.5,-99999.5";
    QTest::newRow("M and L anywhere") << "LM7,8 1L,2M"
                                      << "#222222 2 0: 7,8 1,2";
    QTest::newRow("empty parts dropped") << "M1,,2 M,3,4,"
                                         << "#222222 2 0: 1,2 3,4";
    QTest::newRow("signs and exponents") << "M+5,-3 L1.5e2,.5 L-0,7."
                                         << "#222222 2 0: 5,-3 150,0.5 0,7";
    QTest::newRow("non-finite points skipped") << "Minf,1 Lnan,1 L1,-infinity L1e400,1 L2,2"
                                               << "#222222 2 0: 2,2";
    QTest::newRow("underflow reads as zero") << "M1e-400,5"
                                             << "#222222 2 0: 0,5";
    QTest::newRow("blank inside a number") << "M1, 2 L3,4"
                                           << "#222222 2 0: 3,4";
    QTest::newRow("sign twice") << "M+-1,2 L--1,2 L++1,2 L3,4"
                                << "#222222 2 0: 3,4";
    QTest::newRow("hex and locale forms refused") << "M0x10,1 L1;5,2 L3,4"
                                                  << "#222222 2 0: 3,4";
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("M１,2 L3,4") << "#222222 2 0: 3,4";
    QTest::newRow("spaced separators")
        << "color=#111111 w=1 e=0 path=M1,1 L2,2 | color=#222222 w=3 e=1 path=M3,3"
        << "#111111 1 0: 1,1 2,2 / #222222 3 1: 3,3";
    QTest::newRow("empty and blank pieces") << "|M1,1| |M2,2||"
                                            << "#222222 2 0: 1,1 / #222222 2 0: 2,2";
    QTest::newRow("unicode blanks trimmed") << QString::fromUtf8("\u00a0\tM1,1\u3000") << "#222222 2 0: 1,1";
    QTest::newRow("line breaks not trimmed") << "\nM1,1"
                                             << "";
    QTest::newRow("padded pieces read attributes") << "  color=#111111 w=4 path=M1,1  "
                                                   << "#111111 4 0: 1,1";
    QTest::newRow("width +5") << "w=+5 path=M1,1"
                              << "#222222 5 0: 1,1";
    QTest::newRow("width -3.5") << "w=-3.5 path=M1,1"
                                << "#222222 -3.5 0: 1,1";
    QTest::newRow("width with a blank") << "w= 5 path=M1,1"
                                        << "#222222 2 0: 1,1";
    QTest::newRow("width 9e18 fits") << "w=9e18 path=M1,1"
                                     << "#222222 9e+18 0: 1,1";
    QTest::newRow("width -2^63 fits") << "w=-9223372036854775808 path=M1,1"
                                      << "#222222 -9.2233720368547758e+18 0: 1,1";
    QTest::newRow("width 2^63 is 2") << "w=9223372036854775808 path=M1,1"
                                     << "#222222 2 0: 1,1";
    QTest::newRow("huge width is 2") << "w=1e300 path=M1,1"
                                     << "#222222 2 0: 1,1";
    QTest::newRow("overflowing width is 2") << "w=1e400 path=M1,1"
                                            << "#222222 2 0: 1,1";
    QTest::newRow("infinite width is 2") << "w=inf path=M1,1"
                                         << "#222222 2 0: 1,1";
    QTest::newRow("negative infinite width is 2") << "w=-Infinity path=M1,1"
                                                  << "#222222 2 0: 1,1";
    QTest::newRow("NaN width is 2") << "w=nan path=M1,1"
                                    << "#222222 2 0: 1,1";
}

void TestDrawingStroke::read()
{
    QFETCH(QString, text);
    QFETCH(QString, strokes);
    QCOMPARE(describe(DrawingBlock::parseStrokes(text)), strokes);
}

void TestDrawingStroke::write_data()
{
    QTest::addColumn<std::vector<DrawingStroke>>("strokes");
    QTest::addColumn<QString>("text");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("no strokes") << std::vector<DrawingStroke>{} << "";
    QTest::newRow("the example") << std::vector{stroke({{10.6, 20.2}, {-4.9, 7}, {12, 7}}, 3.8, "#b33025")}
                                 << "color=#b33025 w=3 e=0 path=M10,20 L-4,7 L12,7";
    QTest::newRow("truncated toward zero")
        << std::vector{stroke({{0.9, -0.9}}, 3.9)} << "color=#222222 w=3 e=0 path=M0,0";
    QTest::newRow("no points") << std::vector{stroke({})} << "color=#222222 w=2 e=0 path=";
    QTest::newRow("erase") << std::vector{stroke({{1, 2}}, 2, "#222222", true)}
                           << "color=#222222 w=2 e=1 path=M1,2";
    QTest::newRow("negative width") << std::vector{stroke({{1, 1}}, -3.5)}
                                    << "color=#222222 w=-3 e=0 path=M1,1";
    QTest::newRow("joined by |") << std::vector{stroke({{1, 1}}, 1, "#111111"), stroke({{2, 2}, {3, 3}})}
                                 << "color=#111111 w=1 e=0 path=M1,1|color=#222222 w=2 e=0 path=M2,2 L3,3";
    // Read back, the path would start inside the colour; the painted colour is the same.
    QTest::newRow("colour holding path=")
        << std::vector{stroke({{1, 1}}, 2, "#ff0000path=M5,5")} << "color=#ff0000 w=2 e=0 path=M1,1";
    QTest::newRow("width 9e18") << std::vector{stroke({{1, 1}}, 9e18)}
                                << "color=#222222 w=9000000000000000000 e=0 path=M1,1";
    QTest::newRow("infinite width") << std::vector{stroke({{1, 1}}, inf)}
                                    << "color=#222222 w=2 e=0 path=M1,1";
    QTest::newRow("NaN width") << std::vector{stroke({{1, 1}}, std::nan(""))}
                               << "color=#222222 w=2 e=0 path=M1,1";
    QTest::newRow("huge width") << std::vector{stroke({{1, 1}}, -1e300)} << "color=#222222 w=2 e=0 path=M1,1";
    QTest::newRow("coordinates beyond 64 bits") << std::vector{stroke({{1e300, -inf}, {std::nan(""), 5}})}
                                                << "color=#222222 w=2 e=0 path=M9223372036854775807,"
                                                   "-9223372036854775808 L0,5";
}

void TestDrawingStroke::write()
{
    QFETCH(std::vector<DrawingStroke>, strokes);
    QFETCH(QString, text);
    QCOMPARE(DrawingBlock::serializeStrokes(strokes), text);
    if (strokes.size() == 1)
        QCOMPARE(strokes.front().serialized(), text);
}

void TestDrawingStroke::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("one") << "color=#27ae60 w=5 e=0 path=M1,2 L3,4";
    QTest::newRow("several, erase kept") << "color=#b33025 w=3 e=0 path=M10,20 L-4,7 L12,7|"
                                            "color=#ffffff w=12 e=1 path=M0,0|color=#0a64eb w=1 e=0 "
                                            "path=M99999,-99999 L-5,0";
    QTest::newRow("odd colour kept") << "color=rgb(1;2;3) w=-4 e=0 path=M1,1";
    QTest::newRow("wide") << "color=#222222 w=9000000000000000000 e=0 path=M1,1";
}

void TestDrawingStroke::roundTrip()
{
    QFETCH(QString, text);
    const std::vector<DrawingStroke> strokes = DrawingBlock::parseStrokes(text);
    QCOMPARE(DrawingBlock::serializeStrokes(strokes), text);
    QCOMPARE(DrawingBlock::parseStrokes(DrawingBlock::serializeStrokes(strokes)), strokes);
}

void TestDrawingStroke::colour_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const QColor blue(0x0a, 0x64, 0xeb);
    QTest::newRow("empty") << "" << black;
    QTest::newRow("#") << "#" << black;
    QTest::newRow("zz") << "zz" << black;
    QTest::newRow("#gg0000") << "#gg0000" << black;
    QTest::newRow("padded white") << "  #ffffff " << white;
    QTest::newRow("0x") << "0x0a64eb" << blue;
    QTest::newRow("#0X upper case") << "#0X0A64EB" << blue;
    QTest::newRow("without #") << "0a64eb" << blue;
    QTest::newRow("blank after #") << "# 0a64eb" << blue;
    QTest::newRow("line break skipped by the scanner") << "\n0a64eb" << blue;
    QTest::newRow("trailing junk") << "#0a64ebzz" << blue;
    QTest::newRow("#fff is not expanded") << "#fff" << QColor(0, 15, 255);
    QTest::newRow("eight digits keep the last six") << "#80b33025" << QColor(0xb3, 0x30, 0x25);
    QTest::newRow("overflow saturates") << "#10000000000000000000" << white;
    QTest::newRow("sixteen digits do not overflow") << "#1000000000000000" << black;
    QTest::newRow("palette green") << "#27ae60" << QColor(0x27, 0xae, 0x60);
    QTest::newRow("palette purple") << "#9b59b6" << QColor(0x9b, 0x59, 0xb6);
}

void TestDrawingStroke::colour()
{
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    const QColor parsed = parseHexColor(text);
    QCOMPARE(parsed, colour);
    QCOMPARE(parsed.alpha(), 255);
}

QTEST_APPLESS_MAIN(TestDrawingStroke)
#include "tst_drawing_stroke.moc"
