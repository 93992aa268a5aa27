#include "editor/marker_highlighter.h"
#include "editor/marker_spans.h"
#include "editor/rich_text_editor.h"

#include <QAbstractTextDocumentLayout>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// What a reader sees of a line: the characters not hidden, and for each style the runs of visible
// characters carrying it ("B=bold|again;I=it").
struct Seen {
    QString visible;
    QString styled;
};

Seen seen(const QString &line)
{
    const QList<MarkerSpans::Styles> styles = MarkerSpans::styles(line);
    QString visible;
    QList<MarkerSpans::Styles> visibleStyles;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (!(styles[i] & MarkerSpans::HiddenMarker)) {
            visible += line[i];
            visibleStyles << styles[i];
        }
    }
    const std::pair<MarkerSpans::Style, QChar> names[] = {
        {MarkerSpans::Code, u'C'},      {MarkerSpans::Bold, u'B'},          {MarkerSpans::Italic, u'I'},
        {MarkerSpans::Underline, u'U'}, {MarkerSpans::Strikethrough, u'S'}, {MarkerSpans::Link, u'L'},
    };
    QStringList parts;
    for (const auto &[style, name] : names) {
        QStringList runs;
        QString run;
        for (qsizetype i = 0; i <= visible.size(); ++i) {
            if (i < visible.size() && (visibleStyles[i] & style)) {
                run += visible[i];
            } else if (!run.isEmpty()) {
                runs << run;
                run.clear();
            }
        }
        if (!runs.isEmpty())
            parts << QString(name) + QLatin1Char('=') + runs.join(QLatin1Char('|'));
    }
    return {visible, parts.join(QLatin1Char(';'))};
}

QTextCharFormat formatAt(const QTextBlock &block, int position)
{
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (position >= range.start && position < range.start + range.length)
            return range.format;
    }
    return {};
}

} // namespace

class TestMarkerSpans : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void spans_data();
    void spans();
    void hiddenMarkersTakeNoRoom();
    void strikethroughCoversTheWholeText();
    void splitKeepsPairsWhole_data();
    void splitKeepsPairsWhole();
};

void TestMarkerSpans::spans_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("visible");
    QTest::addColumn<QString>("styled");

    QTest::newRow("bold in a sentence") << "a **b** c"
                                        << "a b c"
                                        << "B=b";
    QTest::newRow("bold is not italic") << "**bold** and *it*"
                                        << "bold and it"
                                        << "B=bold;I=it";
    QTest::newRow("underline, strike") << "__u__ ~~s~~"
                                       << "u s"
                                       << "U=u;S=s";
    QTest::newRow("adjacent bold pairs") << "**a****b**"
                                         << "ab"
                                         << "B=ab";
    QTest::newRow("adjacent italic and code") << "*a*`b`"
                                              << "ab"
                                              << "C=b;I=a";
    QTest::newRow("code nested in bold") << "**a `c` b**"
                                         << "a c b"
                                         << "C=c;B=a c b";
    QTest::newRow("italic inside bold") << "**a *b* c**"
                                        << "a b c"
                                        << "B=a b c;I=b";
    QTest::newRow("single star inside bold") << "**a*b**"
                                             << "a*b"
                                             << "B=a*b";
    QTest::newRow("bold inside italic") << "*a **b** c*"
                                        << "a b c"
                                        << "B=b;I=a b c";
    QTest::newRow("bold inside italic, no spaces") << "*a**b**c*"
                                                   << "abc"
                                                   << "B=b;I=abc";
    QTest::newRow("italic right after bold") << "**q***z*"
                                             << "qz"
                                             << "B=q;I=z";
    QTest::newRow("italic at bold's end") << "**q*z***"
                                          << "qz"
                                          << "B=qz;I=z";
    QTest::newRow("bold and italic at once") << "***x***"
                                             << "x"
                                             << "B=x;I=x";
    QTest::newRow("crossed pairs: the first closed wins") << "*a **b* c**"
                                                          << "a **b c**"
                                                          << "I=a **b";
    QTest::newRow("empty bold pair") << "a****b"
                                     << "a****b"
                                     << "";
    QTest::newRow("unclosed bold") << "**open"
                                   << "**open"
                                   << "";
    QTest::newRow("unclosed italic") << "a *b"
                                     << "a *b"
                                     << "";
    QTest::newRow("unclosed code") << "`x **y**"
                                   << "`x y"
                                   << "B=y";
    QTest::newRow("empty code") << "``"
                                << "``"
                                << "";
    QTest::newRow("markers inside code are read") << "`**x** *y*`"
                                                  << "x y"
                                                  << "C=x y;B=x;I=y";
    QTest::newRow("pair across a line break") << "**a\nb**"
                                              << "**a\nb**"
                                              << "";
    QTest::newRow("link") << "see [label](https://e.com/a?b=1)"
                          << "see label"
                          << "L=label";
    QTest::newRow("bracket inside label") << "[a[b](http://x.y)"
                                          << "a[b"
                                          << "L=a[b";
    QTest::newRow("brackets before link") << "[x] [a](https://x.y)"
                                          << "[x] a"
                                          << "L=a";
    QTest::newRow("bracket after link") << "[a](https://x.y)]"
                                        << "a]"
                                        << "L=a";
    QTest::newRow("nested brackets are no link") << "[[a]](https://x.y)"
                                                 << "[[a]](https://x.y)"
                                                 << "";
    QTest::newRow("bold inside link label") << "[**b**](https://x.y)"
                                            << "b"
                                            << "B=b;L=b";
    QTest::newRow("bare host is no link") << "[a](example.com)"
                                          << "[a](example.com)"
                                          << "";
    QTest::newRow("space in address") << "[a](https://x y)"
                                      << "[a](https://x y)"
                                      << "";
    QTest::newRow("no-break space in address")
        << QString::fromUtf8("[a](https://x\u00a0y)") << QString::fromUtf8("[a](https://x\u00a0y)") << "";
    QTest::newRow("emoji") << QString::fromUtf8("**\U0001F600**") << QString::fromUtf8("\U0001F600")
                           << QString::fromUtf8("B=\U0001F600");
}

void TestMarkerSpans::spans()
{
    QFETCH(QString, line);
    QFETCH(QString, visible);
    QFETCH(QString, styled);
    const Seen result = seen(line);
    QCOMPARE(result.visible, visible);
    QCOMPARE(result.styled, styled);
}

void TestMarkerSpans::hiddenMarkersTakeNoRoom()
{
    RichTextEditor editor;
    editor.resize(600, 100);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    // Styles that leave the advances alone, so the line must be exactly as wide as its visible text.
    const QString raw = QStringLiteral("x __word__ ~~s~~ [site](https://e.com/p) y\u00a0z");
    editor.setRawText(raw);
    QCOMPARE(editor.toRawText(), raw);

    const QTextBlock block = editor.document()->firstBlock();
    QCOMPARE(formatAt(block, 2).foreground().color().alpha(), 0);
    QVERIFY(formatAt(block, 4).fontUnderline());

    editor.document()->documentLayout()->blockBoundingRect(block); // lays the block out
    QCOMPARE(block.layout()->lineCount(), 1);
    const qreal shown = block.layout()->lineAt(0).naturalTextWidth();
    QTextLayout visible(QStringLiteral("x word s site y\u00a0z"), editor.font());
    visible.beginLayout();
    visible.createLine();
    visible.endLayout();
    const qreal expected = visible.lineAt(0).naturalTextWidth();
    QVERIFY2(qAbs(shown - expected) < 1.0, qPrintable(QStringLiteral("%1 vs %2").arg(shown).arg(expected)));
}

void TestMarkerSpans::strikethroughCoversTheWholeText()
{
    RichTextEditor editor;
    editor.setRawText(QStringLiteral("plain **b**"));
    const QTextBlock block = editor.document()->firstBlock();
    QVERIFY(!formatAt(block, 0).fontStrikeOut());
    editor.setStrikethrough(true);
    QVERIFY(formatAt(block, 0).fontStrikeOut());
    QVERIFY(formatAt(block, 8).fontStrikeOut());
    QVERIFY(formatAt(block, 8).fontWeight() >= QFont::Bold);
    editor.setStrikethrough(false);
    QVERIFY(!formatAt(block, 0).fontStrikeOut());
}

void TestMarkerSpans::splitKeepsPairsWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("tail");

    QTest::newRow("plain") << "hello world" << 5 << "hello"
                           << " world";
    QTest::newRow("inside bold") << "a **bold** b" << 6 << "a **bo**"
                                 << "**ld** b";
    QTest::newRow("inside the opening marker") << "a **bold** b" << 3 << "a "
                                               << "**bold** b";
    QTest::newRow("right after the opening marker") << "a **bold** b" << 4 << "a "
                                                    << "**bold** b";
    QTest::newRow("right before the closing marker") << "a **bold** b" << 8 << "a **bold**"
                                                     << " b";
    QTest::newRow("underline inside bold") << "**x __yz__ w**" << 7 << "**x __y__**"
                                           << "**__z__ w**";
    QTest::newRow("in a marker that opens where another's text starts") << "**__yz__ w**" << 3 << ""
                                                                        << "**__yz__ w**";
    QTest::newRow("code") << "run `make all` now" << 9 << "run `make`"
                          << "` all` now";
    QTest::newRow("link label") << "[docs](https://x.org)" << 3 << "[do](https://x.org)"
                                << "[cs](https://x.org)";
    QTest::newRow("inside a link's address") << "see [d](https://x.org) ok" << 12 << "see [d](https://x.org)"
                                             << " ok";
    QTest::newRow("on a later line") << "**a**\nb __cd__" << 11 << "**a**\nb __c__"
                                     << "__d__";
    QTest::newRow("an unclosed marker is text") << "a **b" << 4 << "a **"
                                                << "b";
    QTest::newRow("past the end") << "abc" << 9 << "abc"
                                  << "";
}

void TestMarkerSpans::splitKeepsPairsWhole()
{
    QFETCH(QString, text);
    QFETCH(int, at);
    QFETCH(QString, head);
    QFETCH(QString, tail);

    const MarkerSpans::Split split = MarkerSpans::split(text, at);
    QCOMPARE(split.head, head);
    QCOMPARE(split.tail, tail);
    // Nothing the reader sees is lost or doubled.
    const QString lastLine = text.section(QLatin1Char('\n'), -1);
    if (!text.contains(QLatin1Char('\n')))
        QCOMPARE(seen(split.head).visible + seen(split.tail).visible, seen(lastLine).visible);
}

QTEST_MAIN(TestMarkerSpans)
#include "tst_marker_spans.moc"
