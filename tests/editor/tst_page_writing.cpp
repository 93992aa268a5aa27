#include "editor/block_row.h"
#include "editor/format_toolbar.h"
#include "editor/page_row_list.h"
#include "editor/raw_text.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <optional>

namespace {

// Each format as the user reaches it: its key, or its button on the format toolbar.
struct Format {
    const char *name;
    Qt::Key key; // Qt::Key_unknown: only on the toolbar
    int button;
    const char *marker;
};

const Format kFormats[] = {
    {"bold", Qt::Key_B, 0, "**"},
    {"italic", Qt::Key_I, 1, "*"},
    {"underline", Qt::Key_U, 2, "__"},
    {"strike-through", Qt::Key_unknown, 3, "~~"},
    {"inline code", Qt::Key_unknown, 4, "`"},
};

} // namespace

// Writing in the page as a user does it: format keys pressed again, a press below the last block,
// and typing at the page's end, in the real page view over a device's store and the fake service.
class TestPageWriting : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void formatPressedAgainStepsOutOfThePair_data();
    void formatPressedAgainStepsOutOfThePair();
    void formatOnAWrappedSelectionTakesThePairOff_data();
    void formatOnAWrappedSelectionTakesThePairOff();
    void formatPressedTwiceOnASelectionTakesItsMarkersOff_data();
    void formatPressedTwiceOnASelectionTakesItsMarkersOff();
    void formatPressedInAnOpeningMarkerStepsOutOfThePair_data();
    void formatPressedInAnOpeningMarkerStepsOutOfThePair();
    void emptyPairLeftUntypedLeavesNoMarkers_data();
    void emptyPairLeftUntypedLeavesNoMarkers();
    void pressBelowTheLastBlockWritesInABlock_data();
    void pressBelowTheLastBlockWritesInABlock();
    void typingAtThePagesEndKeepsTheLinesInPlace();
    void typingKeepsTheCaretInView_data();
    void typingKeepsTheCaretInView();
    void pressOnAPageJustOpenedLandsOnItsRow();

private:
    // Presses the format's key, or its toolbar button when it has no key (or `byToolbar`).
    static void press(PageView &view, const Format &format, bool byToolbar);
    static QString rawSelection(const RichTextEditor &editor);
    // The synced page with one text block, open in an active window.
    Opened openSynced(const FNPage &page, const QString &text);
    // The keyboard in the opened page's first block, its caret at `caret` when given; the block's
    // editor, null when it does not take the keyboard.
    static RichTextEditor *keysInFirstBlock(const Opened &opened, std::optional<int> caret = std::nullopt);
    QString serverText(qint64 pageServerID) const;
};

void TestPageWriting::initTestCase()
{
    QVERIFY(startService());
}

void TestPageWriting::init()
{
    openDevice();
}

void TestPageWriting::cleanup()
{
    closeDevice();
}

void TestPageWriting::press(PageView &view, const Format &format, bool byToolbar)
{
    if (format.key != Qt::Key_unknown && !byToolbar) {
        QTest::keyClick(keyboard(), format.key, Qt::ControlModifier);
        return;
    }
    QTRY_VERIFY(view.formatToolbar()->isVisible());
    QTest::mouseClick(view.formatToolbar()->buttons().at(format.button), Qt::LeftButton);
}

QString TestPageWriting::rawSelection(const RichTextEditor &editor)
{
    return rawSelectedText(editor.textCursor());
}

PageViewFixture::Opened TestPageWriting::openSynced(const FNPage &page, const QString &text)
{
    Opened opened;
    opened.blocks = addBlocks(page.localID, {{"text", text, 0}});
    opened.view = openView(page.localID);
    if (!opened.view)
        return {};
    QApplication::setActiveWindow(opened.view.get());
    if (!QTest::qWaitForWindowActive(opened.view.get()))
        return {};
    return opened;
}

RichTextEditor *TestPageWriting::keysInFirstBlock(const Opened &opened, std::optional<int> caret)
{
    RichTextEditor *editor = opened.view ? opened.view->row(opened.blocks[0])->richEditor() : nullptr;
    if (!editor || !EditorFixture::focusOn(editor))
        return nullptr;
    if (caret) {
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(*caret);
        editor->setTextCursor(cursor);
    }
    return editor;
}

QString TestPageWriting::serverText(qint64 pageServerID) const
{
    const std::vector<FakeServiceState::Block> blocks = m_fake.storedBlocks(pageServerID);
    return blocks.empty() ? QStringLiteral("(none)") : textOf(blocks.front());
}

void TestPageWriting::formatPressedAgainStepsOutOfThePair_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("byToolbar");
    QTest::addColumn<QString>("between"); // typed between the two presses
    QTest::addColumn<QString>("expected");

    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        const Format &f = kFormats[i];
        const QString m = QString::fromLatin1(f.marker);
        for (const bool byToolbar : {false, true}) {
            if (!byToolbar && f.key == Qt::Key_unknown)
                continue;
            const char *via = byToolbar ? "toolbar" : "key";
            QTest::addRow("%s by %s", f.name, via) << i << byToolbar << "q"
                                                   << "p " + m + "q" + m + " r";
            // Nothing was formatted: no pair is left behind.
            QTest::addRow("%s by %s, nothing typed between", f.name, via) << i << byToolbar << ""
                                                                          << "p  r";
        }
    }
}

void TestPageWriting::formatPressedAgainStepsOutOfThePair()
{
    QFETCH(int, format);
    QFETCH(bool, byToolbar);
    QFETCH(QString, between);
    QFETCH(QString, expected);
    const Format &f = kFormats[format];
    const FNPage page = syncedPage("Formats");
    const Opened opened = openSynced(page, "p ");
    RichTextEditor *editor = keysInFirstBlock(opened, 2); // at its end
    QVERIFY(editor);
    const auto &view = opened.view;
    const QString block = opened.blocks[0];

    press(*view, f, byToolbar);
    // The empty pair shows nothing, and what is typed into it shows formatted.
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("p "));
    QTest::keyClicks(keyboard(), between);
    QCOMPARE(EditorFixture::drawnText(*editor), "p " + between);
    press(*view, f, byToolbar);
    QTest::keyClicks(keyboard(), " r");
    QCOMPARE(editor->toRawText(), expected);
    // Return after it carries no pair into the next line.
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::keyClicks(keyboard(), "s");
    QTRY_COMPARE(view->model().blocks().topLevelBlocks().size(), size_t(2));
    const QString next = view->model().blocks().topLevelBlocks().back().localID;
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(next)), QStringLiteral("s"));
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(block)), expected);

    m_device->engine().start();
    QTRY_COMPARE(serverText(serverIDOf(page.localID)), expected);
}

void TestPageWriting::formatOnAWrappedSelectionTakesThePairOff_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("byToolbar");
    QTest::addColumn<bool>("withMarkers"); // the selection takes in the hidden markers too

    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        const Format &f = kFormats[i];
        for (const bool withMarkers : {false, true}) {
            const char *what = withMarkers ? "word and markers" : "word";
            if (f.key != Qt::Key_unknown)
                QTest::addRow("%s by key, %s", f.name, what) << i << false << withMarkers;
            QTest::addRow("%s by toolbar, %s", f.name, what) << i << true << withMarkers;
        }
    }
}

void TestPageWriting::formatOnAWrappedSelectionTakesThePairOff()
{
    QFETCH(int, format);
    QFETCH(bool, byToolbar);
    QFETCH(bool, withMarkers);
    const Format &f = kFormats[format];
    const QString m = QString::fromLatin1(f.marker);
    const QString wrapped = "one " + m + "two" + m + " three";
    auto opened = openActive({{"text", wrapped, 0}});
    RichTextEditor *editor = keysInFirstBlock(opened);
    QVERIFY(editor);
    const int from = withMarkers ? 4 : 4 + int(m.size());
    const int to = withMarkers ? 4 + 3 + 2 * int(m.size()) : from + 3;
    EditorFixture::select(*editor, from, to);

    press(*opened.view, f, byToolbar);
    QCOMPARE(editor->toRawText(), QStringLiteral("one two three"));
    QCOMPARE(rawSelection(*editor), QStringLiteral("two"));
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), QStringLiteral("one two three"));
    // Pressed again, the word is formatted again.
    press(*opened.view, f, byToolbar);
    QCOMPARE(editor->toRawText(), wrapped);
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), wrapped);
    QVERIFY(editor->hasFocus());
}

void TestPageWriting::formatPressedTwiceOnASelectionTakesItsMarkersOff_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("byToolbar");
    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        if (kFormats[i].key != Qt::Key_unknown)
            QTest::addRow("%s by key", kFormats[i].name) << i << false;
        QTest::addRow("%s by toolbar", kFormats[i].name) << i << true;
    }
}

// The first press formats the selected word and leaves it selected; the second takes the format
// off again, on screen, in the store and on the service.
void TestPageWriting::formatPressedTwiceOnASelectionTakesItsMarkersOff()
{
    QFETCH(int, format);
    QFETCH(bool, byToolbar);
    const Format &f = kFormats[format];
    const QString m = QString::fromLatin1(f.marker);
    const FNPage page = syncedPage("Twice");
    const Opened opened = openSynced(page, "sel word here");
    RichTextEditor *editor = keysInFirstBlock(opened);
    QVERIFY(editor);
    const auto &view = opened.view;
    const QString block = opened.blocks[0];
    EditorFixture::select(*editor, 4, 8);

    press(*view, f, byToolbar);
    const QString wrapped = "sel " + m + "word" + m + " here";
    QCOMPARE(editor->toRawText(), wrapped);
    QCOMPARE(rawSelection(*editor), QStringLiteral("word"));
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("sel word here"));
    QVERIFY(!EditorFixture::drawnFormat(*editor, 4 + int(m.size())).properties().isEmpty());
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(block)), wrapped);

    press(*view, f, byToolbar);
    QCOMPARE(editor->toRawText(), QStringLiteral("sel word here"));
    QCOMPARE(rawSelection(*editor), QStringLiteral("word"));
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("sel word here"));
    QVERIFY(EditorFixture::drawnFormat(*editor, 4).properties().isEmpty());
    QVERIFY(editor->hasFocus());
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(block)), QStringLiteral("sel word here"));
    m_device->engine().start();
    QTRY_COMPARE(serverText(serverIDOf(page.localID)), QStringLiteral("sel word here"));
}

void TestPageWriting::formatPressedInAnOpeningMarkerStepsOutOfThePair_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("byToolbar");
    QTest::addColumn<int>("intoMarker"); // how far into the opening marker the caret is
    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        const Format &f = kFormats[i];
        for (int into = 1; into <= int(qstrlen(f.marker)); ++into) {
            const char *where = into == int(qstrlen(f.marker)) ? "right after the marker" : "in the marker";
            if (f.key != Qt::Key_unknown)
                QTest::addRow("%s by key, %s", f.name, where) << i << false << into;
            QTest::addRow("%s by toolbar, %s", f.name, where) << i << true << into;
        }
    }
}

// The caret at a formatted word's start, inside its hidden opening marker: the press steps out of
// the pair, and what is typed next goes before it unformatted, with no marker drawn.
void TestPageWriting::formatPressedInAnOpeningMarkerStepsOutOfThePair()
{
    QFETCH(int, format);
    QFETCH(bool, byToolbar);
    QFETCH(int, intoMarker);
    const Format &f = kFormats[format];
    const QString m = QString::fromLatin1(f.marker);
    const QString text = "c " + m + "bold" + m + " d";
    auto opened = openActive({{"text", text, 0}});
    RichTextEditor *editor = keysInFirstBlock(opened, 2 + intoMarker);
    QVERIFY(editor);

    press(*opened.view, f, byToolbar);
    QTest::keyClicks(keyboard(), "X");
    const QString expected = "c X" + m + "bold" + m + " d";
    QCOMPARE(editor->toRawText(), expected);
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("c Xbold d"));
    QVERIFY(EditorFixture::drawnFormat(*editor, 2).properties().isEmpty());
    QVERIFY(!EditorFixture::drawnFormat(*editor, 3 + int(m.size())).properties().isEmpty());
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), expected);
}

void TestPageWriting::emptyPairLeftUntypedLeavesNoMarkers_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("leaving");  // how the caret leaves the empty pair
    QTest::addColumn<QString>("expected"); // the first block's text, "|" where the caret ends
    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        const Format &f = kFormats[i];
        if (f.key == Qt::Key_unknown)
            continue;
        QTest::addRow("%s, Left", f.name) << i << "left"
                                          << "p |q";
        QTest::addRow("%s, Right", f.name) << i << "right"
                                           << "p |q";
        QTest::addRow("%s, Backspace", f.name) << i << "backspace"
                                               << "p |q";
        QTest::addRow("%s, Return", f.name) << i << "return"
                                            << "p ";
        QTest::addRow("%s, into the next block", f.name) << i << "down"
                                                         << "p q";
    }
}

// Ctrl+B with nothing selected, then the caret goes elsewhere before anything is typed: the empty
// pair waits in the editor alone, so no literal marker is stored, shown, or sent, while it waits or
// after.
void TestPageWriting::emptyPairLeftUntypedLeavesNoMarkers()
{
    QFETCH(int, format);
    QFETCH(QString, leaving);
    QFETCH(QString, expected);
    const Format &f = kFormats[format];
    const FNPage page = syncedPage("Held");
    Opened opened;
    opened.blocks = addBlocks(page.localID, {{"text", "p q", 0}, {"text", "next", 0}});
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    opened.view = openView(page.localID);
    QVERIFY(opened.view);
    QApplication::setActiveWindow(opened.view.get());
    QVERIFY(QTest::qWaitForWindowActive(opened.view.get()));
    RichTextEditor *editor = keysInFirstBlock(opened, 2);
    QVERIFY(editor);

    press(*opened.view, f, false);
    QCOMPARE(editor->toRawText(), QStringLiteral("p q"));
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("p q"));
    // A cycle while the pair waits: the service and the other device see the line as it was.
    QVERIFY(m_device->sync());
    QCOMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), QStringLiteral("p q"));
    QCOMPARE(serverText(serverIDOf(page.localID)), QStringLiteral("p q"));
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    QVERIFY(other.sync());
    const FNBlock *there = other.store().liveBlockWithServerID(m_device->block(opened.blocks[0])->serverID);
    QVERIFY(there);
    QCOMPARE(TestDevice::textOf(*there), QStringLiteral("p q"));
    QVERIFY(!editor->heldOpening().isEmpty());
    if (leaving == "left")
        QTest::keyClick(keyboard(), Qt::Key_Left);
    else if (leaving == "right")
        QTest::keyClick(keyboard(), Qt::Key_Right);
    else if (leaving == "backspace")
        QTest::keyClick(keyboard(), Qt::Key_Backspace);
    else if (leaving == "return")
        QTest::keyClick(keyboard(), Qt::Key_Return);
    else
        QTest::keyClick(keyboard(), Qt::Key_Down);

    QString text = expected;
    const qsizetype at = text.indexOf(u'|');
    text.remove(u'|');
    QCOMPARE(editor->toRawText(), text);
    QCOMPARE(EditorFixture::drawnText(*editor), text);
    if (at >= 0) {
        // Left or Right then moves from where the pair was; Backspace took only the pair.
        const int shift = leaving == "left" ? -1 : (leaving == "right" ? 1 : 0);
        QCOMPARE(editor->textCursor().position(), int(at) + shift);
    }
    if (leaving == "return") {
        QTRY_COMPARE(opened.view->model().blocks().topLevelBlocks().size(), size_t(3));
        QTest::keyClicks(keyboard(), "s");
        const QString added = opened.view->model().blocks().topLevelBlocks()[1].localID;
        QTRY_COMPARE(TestDevice::textOf(*m_device->block(added)), QStringLiteral("sq"));
    }
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), text);
}

void TestPageWriting::pressBelowTheLastBlockWritesInABlock_data()
{
    QTest::addColumn<QString>("lastKind");
    QTest::addColumn<bool>("fromTitle"); // the keyboard was in the title, else in the first block
    QTest::addColumn<bool>("newBlock");  // the keys go into a new text block after the last

    QTest::newRow("after a divider") << "divider" << false << true;
    QTest::newRow("after a divider, keyboard in the title") << "divider" << true << true;
    QTest::newRow("after text") << "text" << false << false;
}

void TestPageWriting::pressBelowTheLastBlockWritesInABlock()
{
    QFETCH(QString, lastKind);
    QFETCH(bool, fromTitle);
    QFETCH(bool, newBlock);
    auto opened = openActive({{"text", "first", 0}, {lastKind, lastKind == "text" ? "last" : "", 0}});
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    if (fromTitle)
        QVERIFY(EditorFixture::focusOn(view.titleField()));
    else
        QVERIFY(EditorFixture::focusOn(view.row(opened.blocks[0])->richEditor()));

    // On the page's ground below the rows, above the "Add block" button's line.
    QWidget *viewport = view.scrollArea()->viewport();
    const int listBottom = view.topLevelList()->mapTo(viewport, QPoint(0, view.topLevelList()->height())).y();
    const int buttonTop = view.addBlockButton()->mapTo(viewport, QPoint(0, 0)).y();
    QVERIFY(buttonTop > listBottom + 1);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier,
                      QPoint(viewport->width() / 2, listBottom + 1));
    QTest::keyClicks(keyboard(), "typed");

    const std::vector<FNBlock> blocks = view.model().blocks().topLevelBlocks();
    QCOMPARE(blocks.size(), size_t(newBlock ? 3 : 2));
    QCOMPARE(blocks[1].localID, opened.blocks[1]);
    QCOMPARE(blocks[1].type, lastKind);
    const QString into = blocks.back().localID;
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(into)),
                 newBlock ? QStringLiteral("typed") : QStringLiteral("lasttyped"));
    QCOMPARE(TestDevice::textOf(*m_device->block(opened.blocks[0])), QStringLiteral("first"));
    QVERIFY(view.row(into)->richEditor()->hasFocus());
}

void TestPageWriting::typingAtThePagesEndKeepsTheLinesInPlace()
{
    BlockSpecs blocks;
    for (int i = 0; i < 40; ++i)
        blocks.append({"text", QStringLiteral("line %1").arg(i), 0});
    auto opened = openActive(blocks);
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    QScrollBar *bar = view.scrollArea()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    QTRY_VERIFY(view.isLaidOut());
    QCOMPARE(bar->value(), bar->maximum());

    BlockRow *row = view.row(opened.blocks.back());
    RichTextEditor *editor = row->richEditor();
    QWidget *viewport = view.scrollArea()->viewport();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier,
                      EditorSteps::pointAt(*editor, "39"));
    QTRY_VERIFY(editor->hasFocus());
    editor->moveCursor(QTextCursor::End);
    // Where the row's first line is on screen.
    const auto firstLineY = [&] {
        QTextCursor start(editor->document());
        return editor->viewport()->mapTo(viewport, editor->cursorRect(start).topLeft()).y();
    };
    const int before = firstLineY();
    const int startHeight = row->height();

    // Typed over three wraps: the lines typed stay where they are, and the caret in sight.
    for (int wraps = 0, keys = 0; wraps < 3 && keys < 2000; ++keys) {
        const int height = row->height();
        QTest::keyClicks(keyboard(), keys % 6 == 5 ? QStringLiteral(" ") : QStringLiteral("m"));
        if (QTest::qWaitFor([&] { return row->height() != height; }, 0))
            ++wraps;
    }
    QTRY_VERIFY(view.isLaidOut());
    QVERIFY(row->height() > startHeight);
    QCOMPARE(firstLineY(), before);
    const auto caretShown = [&] {
        const QRect caret = editor->cursorRect();
        return viewport->rect().contains(
            QRect(editor->viewport()->mapTo(viewport, caret.topLeft()), caret.size()));
    };
    QVERIFY(caretShown());

    // On past the view's bottom: the view follows the caret.
    const int startValue = bar->value();
    for (int keys = 0;
         row->mapTo(viewport, QPoint(0, row->height())).y() <= viewport->height() && keys < 4000; ++keys) {
        QTest::keyClicks(keyboard(), keys % 6 == 5 ? QStringLiteral(" ") : QStringLiteral("m"));
        QTest::qWaitFor([] { return false; }, 0);
    }
    QTRY_VERIFY(view.isLaidOut());
    QVERIFY(bar->value() > startValue);
    QVERIFY(caretShown());
}

void TestPageWriting::typingKeepsTheCaretInView_data()
{
    QTest::addColumn<QString>("start"); // where the writing begins
    QTest::newRow("first block of a page shorter than the window") << "first";
    QTest::newRow("below a trailing image") << "image";
    QTest::newRow("a row in the middle of a long page") << "middle";
    // Scrolled away from the caret before typing: the first key brings it back in sight.
    QTest::newRow("a row scrolled out of sight") << "away";
}

// One long paragraph typed from wherever the view was: the row grows past the window's bottom and
// the view follows, the caret in sight at every new line.
void TestPageWriting::typingKeepsTheCaretInView()
{
    QFETCH(QString, start);
    BlockSpecs blocks;
    if (start == "first") {
        blocks = {{"text", "one", 0}, {"text", "two", 0}, {"text", "three", 0}};
    } else if (start == "image") {
        blocks = {{"text", "one", 0}, {"image", "", 0}};
    } else {
        for (int i = 0; i < 40; ++i)
            blocks.append({"text", QStringLiteral("line %1").arg(i), 0});
    }
    auto opened = openActive(blocks);
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    QWidget *viewport = view.scrollArea()->viewport();
    QScrollBar *bar = view.scrollArea()->verticalScrollBar();
    if (start == "first") {
        QCOMPARE(bar->maximum(), 0);
        RichTextEditor *first = view.row(opened.blocks[0])->richEditor();
        QTest::mouseClick(first->viewport(), Qt::LeftButton, Qt::NoModifier,
                          EditorSteps::pointAt(*first, "one"));
    } else if (start == "image") {
        const int listBottom =
            view.topLevelList()->mapTo(viewport, QPoint(0, view.topLevelList()->height())).y();
        QVERIFY(listBottom + 1 < viewport->height());
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier,
                          QPoint(viewport->width() / 2, listBottom + 1));
    } else if (start == "away") {
        RichTextEditor *top = view.row(opened.blocks[1])->richEditor();
        QTest::mouseClick(top->viewport(), Qt::LeftButton, Qt::NoModifier,
                          EditorSteps::pointAt(*top, "line"));
        QTRY_VERIFY(top->hasFocus());
        bar->setValue(bar->maximum());
        QTRY_VERIFY(view.isLaidOut());
        QVERIFY(top->mapTo(viewport, QPoint(0, top->height())).y() < 0);
    } else {
        bar->setValue(bar->maximum() / 2);
        QTRY_VERIFY(view.isLaidOut());
        // The row nearest the view's middle.
        RichTextEditor *middle = nullptr;
        for (const QString &id : opened.blocks) {
            BlockRow *row = view.row(id);
            if (row && row->mapTo(viewport, QPoint(0, 0)).y() >= viewport->height() / 2) {
                middle = row->richEditor();
                break;
            }
        }
        QVERIFY(middle);
        QTest::mouseClick(middle->viewport(), Qt::LeftButton, Qt::NoModifier,
                          EditorSteps::pointAt(*middle, "line"));
    }
    auto *editor = qobject_cast<AutoHeightTextView *>(keyboard());
    QVERIFY(editor);
    editor->moveCursor(QTextCursor::End);
    const auto caretShown = [&] {
        const QRect caret = editor->cursorRect();
        return viewport->rect().contains(
            QRect(editor->viewport()->mapTo(viewport, caret.topLeft()), caret.size()));
    };
    QCOMPARE(caretShown(), start != "away");
    const int startValue = bar->value();

    QString typed = QStringLiteral("m");
    QTest::keyClicks(keyboard(), typed);
    QTRY_VERIFY(caretShown());
    if (start == "away") {
        QVERIFY(bar->value() < startValue);
        return;
    }
    for (int keys = 0; editor->height() < viewport->height() * 3 / 2 && keys < 8000; ++keys) {
        const int height = editor->height();
        typed += keys % 6 == 5 ? QLatin1Char(' ') : QLatin1Char('m');
        QTest::keyClicks(keyboard(), typed.right(1));
        if (editor->height() != height)
            QTRY_VERIFY2(caretShown(), qPrintable(QStringLiteral("after %1 keys").arg(keys + 1)));
    }
    QVERIFY(editor->height() >= viewport->height() * 3 / 2);
    QTRY_VERIFY(caretShown());
    QVERIFY(bar->value() > startValue);
    QVERIFY(editor->toRawText().endsWith(typed));
}

// A page opened as the main window opens one: put into a splitter of the shown window and entered
// before the splitter has given it its final size. A toolbar that fits beside the first row's short
// line moves no row, so a press made right then lands on the row it was made on.
void TestPageWriting::pressOnAPageJustOpenedLandsOnItsRow()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Welcome to the page");
    const QStringList ids = addBlocks(
        page.localID, {{"h1", "Start here", 0},
                       {"text", QStringLiteral("These pages show every kind of block ").repeated(3), 0},
                       {"text", "third", 0}});
    m_device->setToken(std::nullopt);
    QWidget window;
    auto *split = new QSplitter(&window);
    (new QVBoxLayout(&window))->addWidget(split);
    split->addWidget(new QWidget);
    window.resize(1000, 600);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *view = new PageView(context(), page.localID, nullptr, EditorSteps::fastTiming());
    split->insertWidget(0, view);
    view->show();
    view->model().enterPage();
    split->setSizes({800, 200});
    QTRY_VERIFY(view->isLaidOut() && view->row(ids[1]));
    QTRY_VERIFY(view->formatToolbar()->isVisible());
    RichTextEditor *first = view->row(ids[0])->richEditor();
    RichTextEditor *second = view->row(ids[1])->richEditor();
    QVERIFY(first->hasFocus());
    QVERIFY(EditorFixture::waitPastTextDelay());
    const QPoint shownAt = second->mapTo(&window, QPoint());
    // Where the rows are with nothing of the toolbar's: the keyboard in the title.
    view->titleField()->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(!view->formatToolbar()->isVisible());
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(second->mapTo(&window, QPoint()), shownAt);

    first->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(view->formatToolbar()->isVisible());
    QTest::mouseClick(second->viewport(), Qt::LeftButton, Qt::NoModifier,
                      EditorSteps::pointAt(*second, "kind"));
    QTest::keyClicks(keyboard(), "W");
    QVERIFY(second->hasFocus());
    QVERIFY(second->toRawText().contains(QStringLiteral("kiWnd")) ||
            second->toRawText().contains(QStringLiteral("kinWd")));
    QCOMPARE(first->toRawText(), QStringLiteral("Start here"));
}

QTEST_MAIN(TestPageWriting)
#include "tst_page_writing.moc"
