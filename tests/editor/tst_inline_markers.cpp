#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <cmath>
#include <optional>

namespace {

// Half-open ranges of UTF-16 offsets, written "2-4,8-10".
QList<std::pair<int, int>> rangesOf(const QString &written)
{
    QList<std::pair<int, int>> out;
    for (const QString &range : written.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = range.split(QLatin1Char('-'));
        out.append({ends.at(0).toInt(), ends.at(1).toInt()});
    }
    return out;
}

bool inAny(const QList<std::pair<int, int>> &ranges, int at)
{
    return std::any_of(ranges.begin(), ranges.end(),
                       [at](const auto &r) { return at >= r.first && at < r.second; });
}

// Where the caret stands before the character at `at`, as laid out on screen.
qreal xAt(const RichTextEditor &editor, int at)
{
    const QTextBlock block = editor.document()->findBlock(at);
    const QTextLine line = block.layout()->lineForTextPosition(at - block.position());
    return line.cursorToX(at - block.position());
}

QTextCharFormat drawnFormat(const RichTextEditor &editor, int at)
{
    const QTextBlock block = editor.document()->findBlock(at);
    QTextCharFormat format = block.charFormat();
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (at - block.position() >= range.start && at - block.position() < range.start + range.length)
            format.merge(range.format);
    }
    return format;
}

bool drawn(const RichTextEditor &editor, int at)
{
    const QTextCharFormat format = drawnFormat(editor, at);
    return !format.hasProperty(QTextFormat::ForegroundBrush) || format.foreground().color().alpha() > 0;
}

// The colour the character at `at` shows in once the selection is drawn over it: the text view draws
// its extra selections, then its own, each filling its background and drawing its text; nothing when
// no pass draws the character.
std::optional<QColor> selectedColour(const RichTextEditor &editor, int at)
{
    QList<QTextEdit::ExtraSelection> passes = editor.extraSelections();
    QTextEdit::ExtraSelection own;
    own.cursor = editor.textCursor();
    own.format.setBackground(editor.palette().brush(QPalette::Active, QPalette::Highlight));
    own.format.setForeground(editor.palette().brush(QPalette::Active, QPalette::HighlightedText));
    passes.append(own);
    std::optional<QColor> shown;
    for (const QTextEdit::ExtraSelection &pass : passes) {
        if (at < pass.cursor.selectionStart() || at >= pass.cursor.selectionEnd())
            continue;
        const QColor fill = pass.format.background().color();
        const QColor ink = pass.format.foreground().color();
        if (pass.format.background().style() != Qt::NoBrush && fill.alpha() > 0)
            shown.reset();
        if (pass.format.foreground().style() != Qt::NoBrush && ink.alpha() > 0)
            shown = ink;
    }
    return shown;
}

} // namespace

// The inline markers of a block's text as the page draws them: hidden, taking no room on the line,
// while everything else is drawn and takes its room.
class TestInlineMarkers : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void markersTakeNoRoom_data();
    void markersTakeNoRoom();
    void selectedMarkersStayHidden_data();
    void selectedMarkersStayHidden();
};

void TestInlineMarkers::initTestCase()
{
    QVERIFY(startService());
}

void TestInlineMarkers::init()
{
    openDevice();
}

void TestInlineMarkers::cleanup()
{
    closeDevice();
}

void TestInlineMarkers::markersTakeNoRoom_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hidden");

    QTest::newRow("bold") << "text"
                          << "a **word** b"
                          << "2-4,8-10";
    QTest::newRow("bold at the end") << "text"
                                     << "a **word**"
                                     << "2-4,8-10";
    QTest::newRow("italic") << "text"
                            << "a *word* b"
                            << "2-3,7-8";
    QTest::newRow("underline") << "text"
                               << "a __word__ b"
                               << "2-4,8-10";
    QTest::newRow("strike-through") << "text"
                                    << "a ~~word~~ b"
                                    << "2-4,8-10";
    QTest::newRow("code") << "text"
                          << "a `word` b"
                          << "2-3,7-8";
    QTest::newRow("link") << "text"
                          << "see [docs](https://d.io) now"
                          << "4-5,9-24";
    QTest::newRow("link to one bare word, as written") << "text"
                                                       << "[link](groc)"
                                                       << "";
    QTest::newRow("markers inside code") << "text"
                                         << "`a **b** c`"
                                         << "0-1,3-5,6-8,10-11";
    QTest::newRow("bold inside a link label") << "text"
                                              << "[a **b**](http://x.io)"
                                              << "0-1,3-5,6-8,8-22";
    QTest::newRow("heading") << "h1"
                             << "The **plan**"
                             << "4-6,10-12";
    QTest::newRow("checked to-do") << "todo"
                                   << "buy **milk**"
                                   << "4-6,10-12";
    QTest::newRow("second line") << "text"
                                 << "one\ntwo **b**"
                                 << "8-10,11-13";
}

void TestInlineMarkers::markersTakeNoRoom()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, hidden);
    const Opened opened = openActive({{kind, text, 0}});
    QVERIFY(opened.view);
    BlockRow *row = opened.view->row(opened.blocks.first());
    if (kind == QStringLiteral("todo"))
        row->model().toggleChecked(false);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(editor);
    QCOMPARE(editor->toRawText(), text);

    const QList<std::pair<int, int>> ranges = rangesOf(hidden);
    for (const auto &[from, to] : ranges) {
        const QString where = QStringLiteral("%1-%2").arg(from).arg(to);
        QVERIFY2(std::abs(xAt(*editor, to) - xAt(*editor, from)) < 0.5, qPrintable(where));
        for (int at = from; at < to; ++at)
            QVERIFY2(!drawn(*editor, at), qPrintable(QString::number(at)));
    }
    for (int at = 0; at < text.size(); ++at) {
        if (inAny(ranges, at) || text.at(at) == QLatin1Char('\n'))
            continue;
        const QString where = QString::number(at);
        QVERIFY2(drawn(*editor, at), qPrintable(where));
        QVERIFY2(xAt(*editor, at + 1) - xAt(*editor, at) >= 1, qPrintable(where));
    }
}

void TestInlineMarkers::selectedMarkersStayHidden_data()
{
    markersTakeNoRoom_data();
}

void TestInlineMarkers::selectedMarkersStayHidden()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, hidden);
    const Opened opened = openActive({{kind, text, 0}});
    QVERIFY(opened.view);
    RichTextEditor *editor = opened.view->row(opened.blocks.first())->richEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(editor->textCursor().selectedText().size(), text.size());

    // Selected, the markers still show nothing; everything else shows in the selection's colours.
    const QList<std::pair<int, int>> ranges = rangesOf(hidden);
    for (int at = 0; at < text.size(); ++at) {
        if (text.at(at) == QLatin1Char('\n'))
            continue;
        const std::optional<QColor> colour = selectedColour(*editor, at);
        QVERIFY2(inAny(ranges, at) ? !colour.has_value() : colour.has_value(),
                 qPrintable(QString::number(at)));
    }
}

QTEST_MAIN(TestInlineMarkers)
#include "tst_inline_markers.moc"
