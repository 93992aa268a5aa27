#include "editor/auto_height_text_view.h"
#include "editor/block_row.h"
#include "editor/editable_text.h"
#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using EditorSteps::fastTiming;

// The kinds whose row edits text.
const QStringList &textKinds()
{
    static const QStringList kinds{"text", "h1",    "h2",      "h3",   "bullet", "number",
                                   "todo", "quote", "callout", "code", "toggle"};
    return kinds;
}

} // namespace

// Typing in the page editor: after Return, Backspace, Tab, a slash pick or a new block, the next
// keystroke lands where the user expects it.
class TestPageViewKeys : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void focusLandsOnTheNewBlock();
    void slashPickByMouseTakesTheTyping_data();
    void slashPickByMouseTakesTheTyping();
    void slashPickByKeyboardTakesTheTyping_data();
    void slashPickByKeyboardTakesTheTyping();
    void slashPickWithoutTextMovesOnToTheNextBlock_data();
    void slashPickWithoutTextMovesOnToTheNextBlock();
    void backspaceInAnEmptyBlockKeepsTheTyping_data();
    void backspaceInAnEmptyBlockKeepsTheTyping();
    void returnSplitsIntoANewBlock_data();
    void returnSplitsIntoANewBlock();
    void returnAtALineStartPutsANewLineAbove_data();
    void returnAtALineStartPutsANewLineAbove();
    void returnInAnEmptyListItemEndsTheList_data();
    void returnInAnEmptyListItemEndsTheList();
    void lineBreakStaysInTheBlock_data();
    void lineBreakStaysInTheBlock();
    void tabIndents_data();
    void tabIndents();
    void addBlockTakesTheTyping();
    void upAndDownKeepTheCaretsPlaceAcrossBlocks_data();
    void upAndDownKeepTheCaretsPlaceAcrossBlocks();
    void titleKeysGoOnToTheFirstBlock_data();
    void titleKeysGoOnToTheFirstBlock();
};

void TestPageViewKeys::initTestCase()
{
    QVERIFY(startService());
}

void TestPageViewKeys::init()
{
    openDevice();
}

void TestPageViewKeys::cleanup()
{
    closeDevice();
}

void TestPageViewKeys::focusLandsOnTheNewBlock()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Focus");
    const FNBlock first = m_device->addBlock(page.localID, "first", 0);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    QApplication::setActiveWindow(view.get());
    QVERIFY(QTest::qWaitForWindowActive(view.get()));

    view->model().insertBlockAfter(*m_device->block(first.localID));
    const QString added = view->model().blocks().topLevelBlocks().back().localID;
    QVERIFY(added != first.localID);
    QTRY_VERIFY(view->row(added) && view->row(added)->richEditor()->hasFocus());
    QCOMPARE(view->model().focus().focusedBlock(), std::optional<QString>(added));

    view->model().addChildBlock(*m_device->block(first.localID));
    const QString child = view->model().blocks().childBlocks(*m_device->block(first.localID)).front().localID;
    // A text block shows no children: its row never comes, the tries end and the focus stays.
    QSignalSpy applied(&view->model(), &PageViewModel::focusApplied);
    QVERIFY(!applied.wait(200));
    QVERIFY(!view->row(child));
    QCOMPARE(view->model().focus().focusedBlock(), std::optional<QString>(added));
    QVERIFY(view->row(added)->richEditor()->hasFocus());
}

void TestPageViewKeys::slashPickByMouseTakesTheTyping_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString &kind : textKinds())
        QTest::newRow(qPrintable(kind)) << kind;
}

void TestPageViewKeys::slashPickByMouseTakesTheTyping()
{
    QFETCH(QString, kind);
    auto opened = openActive({{"text", "", 0}, {"text", "below", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    BlockRow *row = opened.view->row(id);
    QVERIFY(EditorFixture::focusOn(row->richEditor()));
    QTest::keyClicks(keyboard(), "/");
    QTRY_VERIFY(row->slashMenu() && row->slashMenu()->isVisible());
    QPushButton *choice = nullptr;
    for (QPushButton *button : row->slashMenu()->findChildren<QPushButton *>()) {
        if (button->property("kind").toString() == kind)
            choice = button;
    }
    QVERIFY(choice);
    QTest::mouseClick(choice, Qt::LeftButton);
    QCOMPARE(m_device->block(id)->type, kind);

    QTRY_VERIFY(keyboard() && row->content() && row->content()->isAncestorOf(keyboard()));
    QTest::keyClicks(keyboard(), "typed");
    QTRY_COMPARE(textOf(*m_device->block(id)), QStringLiteral("typed"));
    QCOMPARE(textOf(*m_device->block(opened.blocks[1])), QStringLiteral("below"));
}

void TestPageViewKeys::slashPickByKeyboardTakesTheTyping_data()
{
    slashPickByMouseTakesTheTyping_data();
}

void TestPageViewKeys::slashPickByKeyboardTakesTheTyping()
{
    QFETCH(QString, kind);
    auto opened = openActive({{"text", "", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    QVERIFY(EditorFixture::focusOn(opened.view->row(id)->richEditor()));
    QTest::keyClicks(keyboard(), "/");
    const std::vector<BlockType> listed = SlashMenu::filteredKinds(QString());
    const auto at =
        std::find_if(listed.begin(), listed.end(), [&](BlockType k) { return k.rawValue() == kind; });
    QVERIFY(at != listed.end());
    for (auto i = listed.begin(); i != at; ++i)
        QTest::keyClick(keyboard(), Qt::Key_Down);
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QCOMPARE(m_device->block(id)->type, kind);
    QCOMPARE(m_device->liveBlocks(opened.view->pageLocalID()).size(), size_t(1));

    BlockRow *row = opened.view->row(id);
    QTRY_VERIFY(keyboard() && row->content() && row->content()->isAncestorOf(keyboard()));
    QTest::keyClicks(keyboard(), "typed");
    QTRY_COMPARE(textOf(*m_device->block(id)), QStringLiteral("typed"));
}

void TestPageViewKeys::slashPickWithoutTextMovesOnToTheNextBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("last");
    for (const char *kind : {"divider", "image", "toc"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 before a block").arg(kind))) << kind << false;
        QTest::newRow(qPrintable(QStringLiteral("%1 as the last block").arg(kind))) << kind << true;
    }
}

void TestPageViewKeys::slashPickWithoutTextMovesOnToTheNextBlock()
{
    QFETCH(QString, kind);
    QFETCH(bool, last);
    QList<std::tuple<QString, QString, int>> blocks{{"text", "above", 0}, {"text", "", 0}};
    if (!last)
        blocks.append({"text", "below", 0});
    auto opened = openActive(blocks);
    QVERIFY(opened.view);
    const QString id = opened.blocks[1];
    QVERIFY(EditorFixture::focusOn(opened.view->row(id)->richEditor()));
    QTest::keyClicks(keyboard(), "/" + kind);
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QCOMPARE(m_device->block(id)->type, kind);

    // Typed at once: the keys go on at the start of the writing after the picked block.
    QVERIFY(keyboard());
    QTest::keyClicks(keyboard(), "x");
    const std::vector<FNBlock> live = m_device->liveBlocks(opened.view->pageLocalID());
    QCOMPARE(live.size(), size_t(3));
    QCOMPARE(live[1].localID, id);
    QCOMPARE(live[2].type, QStringLiteral("text"));
    QTRY_COMPARE(textOf(*m_device->block(live[2].localID)),
                 last ? QStringLiteral("x") : QStringLiteral("xbelow"));
    QCOMPARE(m_device->block(id)->type, kind);
    QCOMPARE(textOf(*m_device->block(id)), QString());
    QCOMPARE(textOf(*m_device->block(opened.blocks[0])), QStringLiteral("above"));
}

void TestPageViewKeys::backspaceInAnEmptyBlockKeepsTheTyping_data()
{
    QTest::addColumn<BlockSpecs>("blocks");
    QTest::addColumn<int>("start");        // the block the caret starts in, at its end
    QTest::addColumn<bool>("returnFirst"); // Return makes the empty block
    QTest::addColumn<int>("landing");      // the block the typing lands in; -1 for the title
    QTest::addColumn<QString>("landed");

    using Blocks = BlockSpecs;
    QTest::newRow("End, Return, Backspace") << Blocks{{"text", "one", 0}} << 0 << true << 0 << "oneQ";
    QTest::newRow("empty block after a list item")
        << Blocks{{"text", "one", 0}, {"bullet", "two", 0}, {"text", "", 0}} << 2 << false << 1 << "twoQ";
    QTest::newRow("past a divider") << Blocks{{"text", "one", 0}, {"divider", "", 0}, {"text", "", 0}} << 2
                                    << false << 0 << "oneQ";
    QTest::newRow("the first block") << Blocks{{"text", "", 0}, {"text", "two", 0}} << 0 << false << -1
                                     << "KeysQ";
}

void TestPageViewKeys::backspaceInAnEmptyBlockKeepsTheTyping()
{
    QFETCH(BlockSpecs, blocks);
    QFETCH(int, start);
    QFETCH(bool, returnFirst);
    QFETCH(int, landing);
    QFETCH(QString, landed);
    auto opened = openActive(blocks);
    QVERIFY(opened.view);
    QVERIFY(EditorFixture::focusOn(opened.view->row(opened.blocks[start])->richEditor()));
    QTest::keyClick(keyboard(), Qt::Key_End);
    if (returnFirst) {
        QTest::keyClick(keyboard(), Qt::Key_Return);
        QCOMPARE(m_device->liveBlocks(opened.view->pageLocalID()).size(), size_t(blocks.size() + 1));
    }
    QTest::keyClick(keyboard(), Qt::Key_Backspace);
    QCOMPARE(m_device->liveBlocks(opened.view->pageLocalID()).size(),
             size_t(blocks.size() - (returnFirst ? 0 : 1)));

    QVERIFY(keyboard());
    QTest::keyClicks(keyboard(), "Q");
    if (landing < 0)
        QTRY_COMPARE(m_device->page(opened.view->pageLocalID())->title, landed);
    else
        QTRY_COMPARE(textOf(*m_device->block(opened.blocks[landing])), landed);
}

void TestPageViewKeys::returnSplitsIntoANewBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("newKind");
    QTest::addColumn<QString>("tail");

    QTest::newRow("middle of text") << "text"
                                    << "hello world" << 5 << "hello"
                                    << "text"
                                    << " world";
    QTest::newRow("end of text") << "text"
                                 << "hello" << 5 << "hello"
                                 << "text"
                                 << "";
    QTest::newRow("inside a bold span") << "text"
                                        << "a **bold** b" << 6 << "a **bo**"
                                        << "text"
                                        << "**ld** b";
    QTest::newRow("inside a link label") << "quote"
                                         << "[docs](https://x.org) end" << 3 << "[do](https://x.org)"
                                         << "text"
                                         << "[cs](https://x.org) end";
    QTest::newRow("bullet") << "bullet"
                            << "one two" << 3 << "one"
                            << "bullet"
                            << " two";
    QTest::newRow("number") << "number"
                            << "first" << 5 << "first"
                            << "number"
                            << "";
    QTest::newRow("ticked to-do") << "todo"
                                  << "buy milk" << 3 << "buy"
                                  << "todo"
                                  << " milk";
    QTest::newRow("heading") << "h2"
                             << "Title" << 5 << "Title"
                             << "text"
                             << "";
    QTest::newRow("callout") << "callout"
                             << "note" << 2 << "no"
                             << "text"
                             << "te";
}

void TestPageViewKeys::returnSplitsIntoANewBlock()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QString, head);
    QFETCH(QString, newKind);
    QFETCH(QString, tail);

    auto opened = openActive({{kind, text, 2}, {"text", "last", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    if (kind == QLatin1String("todo"))
        opened.view->row(id)->model().toggleChecked(false);
    RichTextEditor *editor = opened.view->row(id)->richEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    EditorFixture::select(*editor, caret, caret);
    QTest::keyClick(keyboard(), Qt::Key_Return);

    const std::vector<FNBlock> top = opened.view->model().blocks().topLevelBlocks();
    QCOMPARE(top.size(), size_t(3));
    QCOMPARE(top[0].localID, id);
    QCOMPARE(textOf(top[0]), head);
    const FNBlock added = top[1];
    QCOMPARE(added.type, newKind);
    QCOMPARE(added.indentLevel, qint64(2));
    QCOMPARE(top[2].localID, opened.blocks[1]);
    QVERIFY(!BlockContent::readBool(BlockContent::decode(added.contentJSON), QStringLiteral("checked")));

    // The caret is at the start of the new block at once: keys typed right after Return land there.
    QTest::keyClicks(keyboard(), "X");
    QVERIFY(opened.view->row(added.localID) && opened.view->row(added.localID)->richEditor()->hasFocus());
    QTRY_COMPARE(textOf(*m_device->block(added.localID)), "X" + tail);
    QCOMPARE(textOf(*m_device->block(id)), head);
}

void TestPageViewKeys::returnAtALineStartPutsANewLineAbove_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("newKind");
    QTest::addColumn<bool>("typedFirst"); // "!" typed at the line's end just before

    QTest::newRow("start of text") << "text"
                                   << "hello" << 0 << "text" << false;
    QTest::newRow("in the opening marker of a bold start") << "text"
                                                           << "**hello** x" << 1 << "text" << false;
    QTest::newRow("ticked to-do") << "todo"
                                  << "buy milk" << 0 << "todo" << false;
    QTest::newRow("heading") << "h2"
                             << "Title" << 0 << "text" << false;
    QTest::newRow("typed into just before") << "text"
                                            << "hello" << 0 << "text" << true;
}

// The line keeps its block untouched; the new empty block goes above it, at its indent, and the
// caret stays at the line's start until Up takes it to the new line.
void TestPageViewKeys::returnAtALineStartPutsANewLineAbove()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QString, newKind);
    QFETCH(bool, typedFirst);

    auto opened = openActive({{"text", "first", 0}, {kind, text, 2}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[1];
    if (kind == QLatin1String("todo"))
        opened.view->row(id)->model().toggleChecked(false);
    const FNBlock before = *m_device->block(id);
    RichTextEditor *editor = opened.view->row(id)->richEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    if (typedFirst) {
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(keyboard(), "!");
        text += "!";
    }
    EditorFixture::select(*editor, caret, caret);
    QTest::keyClick(keyboard(), Qt::Key_Return);

    const std::vector<FNBlock> top = opened.view->model().blocks().topLevelBlocks();
    QCOMPARE(top.size(), size_t(3));
    QCOMPARE(top[0].localID, opened.blocks[0]);
    const FNBlock added = top[1];
    QCOMPARE(added.type, newKind);
    QCOMPARE(added.indentLevel, qint64(2));
    QCOMPARE(textOf(added), QString());
    QVERIFY(!BlockContent::readBool(BlockContent::decode(added.contentJSON), QStringLiteral("checked")));
    QCOMPARE(top[2].localID, id);
    // What was typed is stored with the new line, not a keystroke's delay later; else the line is
    // not written at all.
    QCOMPARE(textOf(top[2]), text);
    if (!typedFirst) {
        QCOMPARE(top[2].contentJSON, before.contentJSON);
        QCOMPARE(top[2].updatedAt, before.updatedAt);
    }
    QCOMPARE(keyboard(), editor);
    QCOMPARE(editor->textCursor().position(), 0);

    QTest::keyClick(keyboard(), Qt::Key_Up);
    QTest::keyClicks(keyboard(), "X");
    QTRY_COMPARE(textOf(*m_device->block(added.localID)), QStringLiteral("X"));
    QCOMPARE(textOf(*m_device->block(id)), text);
}

void TestPageViewKeys::returnInAnEmptyListItemEndsTheList_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("bullet") << "bullet";
    QTest::newRow("number") << "number";
    QTest::newRow("to-do") << "todo";
}

void TestPageViewKeys::returnInAnEmptyListItemEndsTheList()
{
    QFETCH(QString, kind);
    auto opened = openActive({{kind, "item", 0}, {kind, "", 1}, {"text", "last", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[1];
    QVERIFY(EditorFixture::focusOn(opened.view->row(id)->richEditor()));
    QTest::keyClick(keyboard(), Qt::Key_Return);

    // No block is added: the empty item itself becomes a paragraph, and keeps the keyboard.
    const std::vector<FNBlock> top = opened.view->model().blocks().topLevelBlocks();
    QCOMPARE(top.size(), size_t(3));
    QCOMPARE(top[1].localID, id);
    QCOMPARE(top[1].type, QStringLiteral("text"));
    QCOMPARE(top[1].indentLevel, qint64(1));
    QCOMPARE(top[0].type, kind);
    QTest::keyClicks(keyboard(), "X");
    QTRY_VERIFY(opened.view->row(id) && opened.view->row(id)->richEditor());
    QVERIFY(opened.view->row(id)->richEditor()->hasFocus());
    QTRY_COMPARE(textOf(*m_device->block(id)), QStringLiteral("X"));

    // The change of kind goes to the service like any other.
    m_device->setToken(m_account.token);
    const auto onService = [&]() -> QString {
        if (!m_device->sync())
            return QStringLiteral("sync failed");
        const auto stored = m_fake.storedBlocks(serverIDOf(opened.view->pageLocalID()));
        return stored.size() == 3 ? stored[1].type + QLatin1Char(' ') + textOf(stored[1]) : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(onService(), QStringLiteral("text X"), 10000);
}

void TestPageViewKeys::lineBreakStaysInTheBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("Shift+Return in text") << "text" << int(Qt::ShiftModifier);
    QTest::newRow("Shift+Return in a bullet") << "bullet" << int(Qt::ShiftModifier);
    QTest::newRow("Return in code") << "code" << int(Qt::NoModifier);
    QTest::newRow("Shift+Return in code") << "code" << int(Qt::ShiftModifier);
}

void TestPageViewKeys::lineBreakStaysInTheBlock()
{
    QFETCH(QString, kind);
    QFETCH(int, modifiers);

    auto opened = openActive({{kind, "ab", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    BlockRow *row = opened.view->row(id);
    AutoHeightTextView *editor =
        row->richEditor() ? static_cast<AutoHeightTextView *>(row->richEditor()) : row->plainEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    EditorFixture::select(*editor, 1, 1);
    QTest::keyClick(keyboard(), Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
    QTest::keyClicks(keyboard(), "c");
    QTRY_COMPARE(textOf(*m_device->block(id)), QStringLiteral("a\ncb"));
    QCOMPARE(m_device->liveBlocks(opened.view->pageLocalID()).size(), size_t(1));
}

void TestPageViewKeys::tabIndents_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("indent");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("expected");

    QTest::newRow("text in") << "text" << 0 << false << 1;
    QTest::newRow("bullet out") << "bullet" << 3 << true << 2;
    QTest::newRow("at the deepest") << "text" << 6 << false << 6;
    QTest::newRow("at the left edge") << "todo" << 0 << true << 0;
    QTest::newRow("code in") << "code" << 1 << false << 2;
    QTest::newRow("code out") << "code" << 1 << true << 0;
}

void TestPageViewKeys::tabIndents()
{
    QFETCH(QString, kind);
    QFETCH(int, indent);
    QFETCH(bool, shift);
    QFETCH(int, expected);

    auto opened = openActive({{kind, "ab", indent}, {"text", "next", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    BlockRow *row = opened.view->row(id);
    AutoHeightTextView *editor =
        row->richEditor() ? static_cast<AutoHeightTextView *>(row->richEditor()) : row->plainEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    EditorFixture::select(*editor, 1, 1);
    QTest::keyClick(keyboard(), Qt::Key_Tab, shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(m_device->block(id)->indentLevel, qint64(expected));
    // The keyboard stays in the block, and no tab character is typed.
    QVERIFY(editor->hasFocus());
    QTest::keyClicks(keyboard(), "c");
    QTRY_COMPARE(textOf(*m_device->block(id)), QStringLiteral("acb"));
}

void TestPageViewKeys::addBlockTakesTheTyping()
{
    auto opened = openActive({{"text", "first", 0}});
    QVERIFY(opened.view);
    opened.view->addBlockButton()->click();
    const std::vector<FNBlock> top = opened.view->model().blocks().topLevelBlocks();
    QCOMPARE(top.size(), size_t(2));
    const QString added = top.back().localID;
    QTRY_VERIFY(opened.view->row(added) && opened.view->row(added)->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), "next");
    QTRY_COMPARE(textOf(*m_device->block(added)), QStringLiteral("next"));
    QCOMPARE(textOf(*m_device->block(opened.blocks[0])), QStringLiteral("first"));
}

void TestPageViewKeys::upAndDownKeepTheCaretsPlaceAcrossBlocks_data()
{
    QTest::addColumn<bool>("down");
    QTest::newRow("down") << true;
    QTest::newRow("up") << false;
}

void TestPageViewKeys::upAndDownKeepTheCaretsPlaceAcrossBlocks()
{
    QFETCH(bool, down);
    // The same letters in the same kind line up whatever the font: the caret after the sixth
    // letter stays after the sixth, past a block too short to reach it.
    const QString line = QStringLiteral("abcdefghij");
    auto opened = openActive({{"text", line, 0}, {"text", "abc", 0}, {"text", line, 0}});
    QVERIFY(opened.view);
    const QString first = opened.blocks[down ? 0 : 2], last = opened.blocks[down ? 2 : 0];
    RichTextEditor *start = opened.view->row(first)->richEditor();
    QVERIFY(EditorFixture::focusOn(start));
    QTextCursor at = start->textCursor();
    at.setPosition(6);
    start->setTextCursor(at);

    const Qt::Key key = down ? Qt::Key_Down : Qt::Key_Up;
    QTest::keyClick(keyboard(), key);
    RichTextEditor *middle = opened.view->row(opened.blocks[1])->richEditor();
    QTRY_VERIFY(middle->hasFocus());
    QCOMPARE(middle->textCursor().position(), 3);
    QTest::keyClick(keyboard(), key);
    RichTextEditor *end = opened.view->row(last)->richEditor();
    QTRY_VERIFY(end->hasFocus());
    QCOMPARE(end->textCursor().position(), 6);
    QTest::keyClicks(keyboard(), "!");
    QTRY_COMPARE(textOf(*m_device->block(last)), QStringLiteral("abcdef!ghij"));
    QCOMPARE(textOf(*m_device->block(opened.blocks[1])), QStringLiteral("abc"));
}

void TestPageViewKeys::titleKeysGoOnToTheFirstBlock_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Tab") << int(Qt::Key_Tab);
}

void TestPageViewKeys::titleKeysGoOnToTheFirstBlock()
{
    QFETCH(int, key);
    auto opened = openActive({{"text", "", 0}, {"text", "second", 1}});
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    QVERIFY(EditorFixture::focusOn(view.titleField()));
    QTest::keyClick(keyboard(), Qt::Key_End);
    QTest::keyClicks(keyboard(), "Plan");
    QTest::keyClick(keyboard(), Qt::Key(key));
    QTRY_VERIFY(view.row(opened.blocks[0])->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), "go");
    QTRY_COMPARE(textOf(*m_device->block(opened.blocks[0])), QStringLiteral("go"));
    QCOMPARE(view.titleField()->toRawText(), QStringLiteral("KeysPlan"));
    QTRY_COMPARE(m_device->page(view.pageLocalID())->title, QStringLiteral("KeysPlan"));
    QCOMPARE(textOf(*m_device->block(opened.blocks[1])), QStringLiteral("second"));
}

QTEST_MAIN(TestPageViewKeys)
#include "tst_page_view_keys.moc"
