#include "editor_fixture.h"

#include "blocks/block_view.h"
#include "editor/editable_text.h"
#include "editor/link_sheet.h"
#include "editor/rich_text_editor.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The text of a block's row: its debounced commit, its writes at once, and how it meets the text
// another device wrote.
class TestBlockRowText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyTheLastTextIsCommitted();
    void immediateWriteIsNotOverwritten();
    void formattingFromTheEditorIsStoredAtOnce();
    void editorWithTheKeyboardShowsAPull_data();
    void editorWithTheKeyboardShowsAPull();
    void typingNotYetStoredOutlivesAPull_data();
    void typingNotYetStoredOutlivesAPull();
    void pendingCommitKeepsItsText();
    void commitAfterResetIsDropped();
    void flushWritesTheLastText();
    void flushLeavesOtherKindsAlone();
    void wrapWithoutTextViewAppends();
    void ctrlKInsertsALink();
    void linkWithoutTextViewAppends();
    void emptyURLInsertsNothing();
    void backspaceAtStartOfEmptyBlock();
    void toolbarFollowsThePageFocus();

private:
    // The row's text view: the rich editor, or the plain one of code and toggles.
    static AutoHeightTextView *editorOf(BlockRow *row)
    {
        if (row->richEditor())
            return row->richEditor();
        return row->plainEditor();
    }
    static void setCaret(QTextEdit *editor, int at)
    {
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(at);
        editor->setTextCursor(cursor);
    }
};

void TestBlockRowText::onlyTheLastTextIsCommitted()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    QVERIFY(fx.showWindow());
    QVERIFY(EditorFixture::focusOn(row->richEditor()));
    QSignalSpy saved(&fx.store(), &LocalStore::stateChanged);
    QTest::keyClicks(row->richEditor(), QStringLiteral("abc"));
    QCOMPARE(row->model().text(), QStringLiteral("abc"));
    QCOMPARE(fx.storedText(block.localID), QString());
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("abc"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 1);
    QCOMPARE(saved.size(), 1);
}

void TestBlockRowText::immediateWriteIsNotOverwritten()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks(), EditorFixture::kTextDelay);
    model.loadText();
    model.commitText(QStringLiteral("abc"));
    QVERIFY(model.hasPendingCommit());
    model.appendMarkers(QStringLiteral("**"), QStringLiteral("**"));
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("abc**text**"));
    QVERIFY(!model.hasPendingCommit());
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("abc**text**"));
    QCOMPARE(fx.changes(), 1);
}

void TestBlockRowText::formattingFromTheEditorIsStoredAtOnce()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(fx.showAndType(editor, QStringLiteral("one two")));
    EditorFixture::select(*editor, 4, 7);
    QTest::keyClick(editor, Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("one **two**"));
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("one two"));
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("one two"));
    // Ctrl+I and Ctrl+U with nothing selected: each pair waits unstored until text is typed into
    // it, and goes in with that text as typing does.
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_I, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral("x"));
    QTest::keyClick(editor, Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("one two*x*"));
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("one two*x*"));
    QTest::keyClicks(editor, QStringLiteral("y"));
    QCOMPARE(editor->toRawText(), QStringLiteral("one two*x__y__*"));
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("one two*x__y__*"));
}

void TestBlockRowText::editorWithTheKeyboardShowsAPull_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("pulled");
    QTest::addColumn<int>("caretAfter");
    const QString longer = QStringLiteral("Budget is 250 (approved by finance)");
    QTest::newRow("text, caret in the middle") << "text" << 6 << longer << 6;
    QTest::newRow("text, caret past the new end") << "text" << 13 << "Budget" << 6;
    QTest::newRow("heading") << "h1" << 13 << longer << 13;
    QTest::newRow("to-do") << "todo" << 0 << longer << 0;
    // Not tied to the page's focus: the keyboard in it is enough.
    QTest::newRow("code") << "code" << 10 << "Bud" << 3;
    QTest::newRow("toggle summary") << "toggle" << 7 << longer << 7;
}

// Another device's text shows in a row that has the keyboard but nothing of its own to store; the
// next keystroke goes into that text.
void TestBlockRowText::editorWithTheKeyboardShowsAPull()
{
    QFETCH(QString, type);
    QFETCH(int, caret);
    QFETCH(QString, pulled);
    QFETCH(int, caretAfter);
    EditorFixture fx;
    const FNBlock block = fx.addBlock(type, {{"text", "Budget is 100"}});
    BlockRow *row = fx.addRow(block);
    AutoHeightTextView *editor = editorOf(row);
    QVERIFY(editor);
    QVERIFY(fx.showWindow() && EditorFixture::focusOn(editor));
    const std::optional<QString> focused = fx.focus().focusedBlock();
    setCaret(editor, caret);

    fx.pullText(block.localID, pulled);
    QCOMPARE(editor->toRawText(), pulled);
    QCOMPARE(row->model().text(), pulled);
    QCOMPARE(editor->textCursor().position(), caretAfter);
    QVERIFY(!editor->textCursor().hasSelection());
    QVERIFY(editor->hasFocus());
    QCOMPARE(fx.focus().focusedBlock(), focused);
    // Shown, not edited: nothing is written back.
    QVERIFY(!row->model().hasPendingCommit());
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 0);

    QTest::keyClicks(editor, QStringLiteral("!"));
    QString expected = pulled;
    expected.insert(caretAfter, QLatin1Char('!'));
    QTRY_COMPARE(fx.storedText(block.localID), expected);
}

void TestBlockRowText::typingNotYetStoredOutlivesAPull_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("text") << "text";
    QTest::newRow("code") << "code";
}

// Typing still in its quiet period is newer than what the pull brought: it stays on screen and is
// stored over it.
void TestBlockRowText::typingNotYetStoredOutlivesAPull()
{
    QFETCH(QString, type);
    EditorFixture fx;
    const FNBlock block = fx.addBlock(type, {{"text", "mine"}});
    BlockRow *row = fx.addRow(block);
    AutoHeightTextView *editor = editorOf(row);
    QVERIFY(fx.showWindow() && EditorFixture::focusOn(editor));
    setCaret(editor, 4);
    QTest::keyClicks(editor, QStringLiteral("!"));
    QVERIFY(row->model().hasPendingCommit());

    fx.pullText(block.localID, QStringLiteral("theirs"));
    QCOMPARE(editor->toRawText(), QStringLiteral("mine!"));
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("mine!"));
    QCOMPARE(editor->toRawText(), QStringLiteral("mine!"));
}

void TestBlockRowText::pendingCommitKeepsItsText()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"text", "a"}});
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks(), EditorFixture::kTextDelay);
    model.loadText();
    model.commitText(QStringLiteral("ab"));
    fx.pullText(block.localID, QStringLiteral("theirs"));
    QCOMPARE(model.text(), QStringLiteral("ab"));
    QTRY_COMPARE(fx.storedText(block.localID), QStringLiteral("ab"));
    fx.pullText(block.localID, QStringLiteral("later"));
    QCOMPARE(model.text(), QStringLiteral("later"));
}

void TestBlockRowText::commitAfterResetIsDropped()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    {
        BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks(), EditorFixture::kTextDelay);
        model.loadText();
        model.commitText(QStringLiteral("typed"));
        fx.store().reset();
        QVERIFY(EditorFixture::waitPastTextDelay());
        QVERIFY(fx.store().state().blocks.empty());
        model.commitText(QStringLiteral("more"));
        model.flushText();
        QVERIFY(fx.store().state().blocks.empty());
        model.commitText(QStringLiteral("last"));
    } // destroyed with a commit waiting
    QVERIFY(fx.store().state().blocks.empty());
    QCOMPARE(fx.changes(), 0);
}

void TestBlockRowText::flushWritesTheLastText()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("paragraph"), {{"keep", 1}});
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks(), EditorFixture::kTextDelay);
    model.loadText();
    model.commitText(QStringLiteral("closing soon"));
    model.flushText();
    QCOMPARE(fx.storedContent(block.localID), (JSONObject{{"keep", 1}, {"text", "closing soon"}}));
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("paragraph"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 1);

    // A row that goes away without a flush still leaves its last text in the store.
    {
        BlockRowModel gone(fx.store(), block, &fx.focus(), fx.hooks(), EditorFixture::kTextDelay);
        gone.loadText();
        gone.commitText(QStringLiteral("typed then closed"));
    }
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("typed then closed"));
}

void TestBlockRowText::flushLeavesOtherKindsAlone()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("image"), {{"url", "https://x/y.png"}});
    const QString before = fx.stored(block.localID).contentJSON;
    BlockRow *row = fx.addRow(block);
    QCOMPARE(row->kindView()->type(), BlockType::image);
    row->flushText();
    QCOMPARE(fx.stored(block.localID).contentJSON, before);
    QCOMPARE(fx.changes(), 0);
}

void TestBlockRowText::wrapWithoutTextViewAppends()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"text", "abc"}});
    BlockRow *row = fx.addRow(block);
    QVERIFY(!QApplication::focusWidget());
    row->wrapSelection(QStringLiteral("**"), QStringLiteral("**"));
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("abc**text**"));
    QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("abc**text**"));
}

void TestBlockRowText::ctrlKInsertsALink()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(fx.showAndType(editor, QStringLiteral("see docs now")));
    EditorFixture::select(*editor, 4, 8);
    QTest::keyClick(editor, Qt::Key_K, Qt::ControlModifier);
    LinkSheet *sheet = row->linkSheet();
    QVERIFY(sheet);
    QTRY_VERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Insert link"));
    QCOMPARE(sheet->cancelButton()->text(), QStringLiteral("Cancel"));
    QTest::keyClicks(sheet->urlField(), QStringLiteral(" \thttps://d.io/a \t"));
    QTest::keyClick(sheet->urlField(), Qt::Key_Return);
    QVERIFY(!row->model().showLinkSheet());
    QCOMPARE(row->model().linkURL(), QString());
    QCOMPARE(editor->toRawText(), QStringLiteral("see [docs](https://d.io/a) now"));
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("see [docs](https://d.io/a) now"));
    QTRY_VERIFY(editor->hasFocus());
    QCOMPARE(editor->textCursor().position(), 26);
    // One step of undo takes the whole link out again.
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("see docs now"));
}

void TestBlockRowText::linkWithoutTextViewAppends()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"text", "read"}});
    BlockRow *row = fx.addRow(block);
    row->captureLinkTarget();
    QVERIFY(row->model().showLinkSheet());
    row->linkSheet()->urlField()->setText(QStringLiteral("  https://e.com  "));
    QTest::mouseClick(row->linkSheet()->insertButton(), Qt::LeftButton);
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("read [link](https://e.com)"));
    QVERIFY(!row->linkSheet());
}

void TestBlockRowText::emptyURLInsertsNothing()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"text", "read"}});
    BlockRow *row = fx.addRow(block);
    row->captureLinkTarget();
    row->linkSheet()->urlField()->setText(QStringLiteral(" \t "));
    QTest::mouseClick(row->linkSheet()->insertButton(), Qt::LeftButton);
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("read"));
    QCOMPARE(fx.changes(), 0);

    // Cancel clears what was typed; the sheet's own dismissal keeps it.
    row->captureLinkTarget();
    row->linkSheet()->urlField()->setText(QStringLiteral("https://a"));
    row->linkSheet()->reject();
    QVERIFY(!row->model().showLinkSheet());
    QCOMPARE(row->model().linkURL(), QStringLiteral("https://a"));
    row->captureLinkTarget();
    QCOMPARE(row->linkSheet()->urlField()->text(), QStringLiteral("https://a"));
    QTest::mouseClick(row->linkSheet()->cancelButton(), Qt::LeftButton);
    QCOMPARE(row->model().linkURL(), QString());
    QVERIFY(!row->model().showLinkSheet());
}

void TestBlockRowText::backspaceAtStartOfEmptyBlock()
{
    EditorFixture fx;
    BlockRow *empty = fx.addRow(fx.addBlock(QStringLiteral("bullet")));
    BlockRow *full = fx.addRow(fx.addBlock(QStringLiteral("text"), {{"text", "abc"}}));
    QVERIFY(fx.showWindow());
    QVERIFY(EditorFixture::focusOn(full->richEditor()));
    QTest::keyClick(full->richEditor(), Qt::Key_Home);
    QTest::keyClick(full->richEditor(), Qt::Key_Backspace);
    QCOMPARE(fx.deleteRequests(), 0);
    QCOMPARE(full->richEditor()->toRawText(), QStringLiteral("abc"));
    QVERIFY(EditorFixture::focusOn(empty->richEditor()));
    QTest::keyClick(empty->richEditor(), Qt::Key_Backspace);
    QCOMPARE(fx.deleteRequests(), 1);
}

void TestBlockRowText::toolbarFollowsThePageFocus()
{
    EditorFixture fx;
    const FNBlock first = fx.addBlock(QStringLiteral("text"));
    const FNBlock second = fx.addBlock(QStringLiteral("h1"));
    BlockRow *a = fx.addRow(first);
    BlockRow *b = fx.addRow(second);
    QVERIFY(fx.showWindow());
    // The page moves the focus by its value: the row's text view takes the keyboard.
    fx.focus().setFocusedBlock(second.localID);
    QTRY_VERIFY(b->richEditor()->hasFocus());
    QVERIFY(!a->richEditor()->hasFocus());
    // A sheet taking the keyboard for a moment leaves the block focused.
    b->captureLinkTarget();
    QTRY_VERIFY(b->linkSheet()->isActiveWindow());
    QCOMPARE(fx.focus().focusedBlock(), std::optional<QString>(second.localID));
    b->cancelLink();
}

QTEST_MAIN(TestBlockRowText)
#include "tst_block_row_text.moc"
