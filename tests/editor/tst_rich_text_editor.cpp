#include "editor_fixture.h"

#include "editor/marker_highlighter.h"
#include "editor/rich_text_editor.h"
#include "editor/selection_edit.h"

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

bool hidden(const RichTextEditor &editor, int position)
{
    return EditorFixture::drawnFormat(editor, position).foreground().color().alpha() == 0;
}

} // namespace

class TestRichTextEditor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void selectionEdits_data();
    void selectionEdits();
    void toggledMarkers_data();
    void toggledMarkers();
    void typingBoldHidesTheMarkers();
    void ctrlBWrapsAndUndoRemovesBothMarkers();
    void wrapWithEmojiKeepsTheWholeEmojiSelected();
    void shortcuts_data();
    void shortcuts();
    void shortcutsBeatTheWindowsActions();
    void backspaceAtStart();
    void externalTextKeepsOrClampsTheCaret();
    void heightFollowsTheText();
    void undoStaysInItsOwnBlock();
    void readOnlyRefusesTheWrap();

private:
    QWidget *m_window = nullptr;
    RichTextEditor *m_editor = nullptr;
};

void TestRichTextEditor::init()
{
    m_window = new QWidget;
    auto *layout = new QVBoxLayout(m_window);
    m_editor = new RichTextEditor(m_window);
    layout->addWidget(m_editor);
    m_window->resize(400, 200);
    m_window->show();
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_editor->setFocus();
    QTRY_VERIFY(m_editor->hasFocus());
}

void TestRichTextEditor::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestRichTextEditor::selectionEdits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("location");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("isLink");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("caret");

    QTest::newRow("wrap a word") << "say hi" << 4 << 2 << false << "say **hi**" << 8;
    QTest::newRow("wrap nothing: caret between") << "ab" << 1 << 0 << false << "a****b" << 3;
    QTest::newRow("wrap wrapped again") << "**hi**" << 0 << 6 << false << "****hi****" << 8;
    QTest::newRow("selection past the end is clamped") << "abc" << 1 << 50 << false << "a**bc**" << 5;
    QTest::newRow("caret past the end is clamped") << "abc" << 9 << 0 << false << "abc****" << 5;
    QTest::newRow("emoji: UTF-16 offsets")
        << QString::fromUtf8("a\U0001F600") << 1 << 2 << false << QString::fromUtf8("a**\U0001F600**") << 5;
    QTest::newRow("link on a selection") << "see docs" << 4 << 4 << true << "see [docs](https://d.io)" << 24;
    QTest::newRow("link with no selection") << "see " << 4 << 0 << true << "see [link](https://d.io)" << 24;
}

void TestRichTextEditor::selectionEdits()
{
    QFETCH(QString, text);
    QFETCH(int, location);
    QFETCH(int, length);
    QFETCH(bool, isLink);
    QFETCH(QString, result);
    QFETCH(int, caret);
    const SelectionEdit edit =
        isLink ? SelectionEdit::link(text, location, length, QStringLiteral("https://d.io"))
               : SelectionEdit::wrap(text, location, length, QStringLiteral("**"), QStringLiteral("**"));
    QCOMPARE(QString(text).replace(edit.start, edit.count, edit.replacement), result);
    QCOMPARE(int(edit.caret), caret);
}

void TestRichTextEditor::toggledMarkers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("location");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("selectionStart");
    QTest::addColumn<int>("selectionLength");
    QTest::addColumn<QString>("shown"); // the characters drawn, hidden markers left out
    // With nothing selected: drawn after "z" is typed next (an empty pair is only held until then).
    QTest::addColumn<QString>("typedShown");

    QTest::newRow("caret before the closing marker steps over it") << "p **q** r" << 5 << 0 << "**"
                                                                   << "p **q** r" << 7 << 0 << "p q r"
                                                                   << "p qz r";
    QTest::newRow("caret in the closing marker steps out") << "p **q** r" << 6 << 0 << "**"
                                                           << "p **q** r" << 7 << 0 << "p q r"
                                                           << "p qz r";
    QTest::newRow("caret right after an opening marker steps out before it")
        << "c **bold** d" << 4 << 0 << "**"
        << "c **bold** d" << 2 << 0 << "c bold d"
        << "c zbold d";
    QTest::newRow("caret in the opening marker steps out before it") << "c **bold** d" << 3 << 0 << "**"
                                                                     << "c **bold** d" << 2 << 0 << "c bold d"
                                                                     << "c zbold d";
    QTest::newRow("caret after a pair's opening marker at the line's start steps out")
        << "**ab**" << 2 << 0 << "**"
        << "**ab**" << 0 << 0 << "ab"
        << "zab";
    QTest::newRow("caret leaves a marker of nested pairs") << "**__b__**" << 3 << 0 << "*"
                                                           << "**__b__**" << 2 << 0 << "b"
                                                           << "zb";
    QTest::newRow("caret leaves a marker of nested pairs at their end") << "**__b__**" << 6 << 0 << "*"
                                                                        << "**__b__**" << 7 << 0 << "b"
                                                                        << "bz";
    QTest::newRow("empty pair comes off") << "p ****" << 4 << 0 << "**"
                                          << "p " << 2 << 0 << "p "
                                          << "p z";
    QTest::newRow("empty italic pair comes off") << "a **" << 3 << 0 << "*"
                                                 << "a " << 2 << 0 << "a "
                                                 << "a z";
    QTest::newRow("italic between literal stars: typed without markers") << "a****" << 3 << 0 << "*"
                                                                         << "a****" << 3 << 0 << "a****"
                                                                         << "az";
    QTest::newRow("pair split inside bold joins again") << "**ab****cd**" << 6 << 0 << "**"
                                                        << "**abcd**" << 4 << 0 << "abcd"
                                                        << "abzcd";
    QTest::newRow("more markers than a pair: steps out of the pair") << "***x***" << 3 << 0 << "**"
                                                                     << "***x***" << 1 << 0 << "x"
                                                                     << "zx";
    QTest::newRow("another key in a pair's marker goes before it") << "c **b** d" << 3 << 0 << "__"
                                                                   << "c **b** d" << 2 << 0 << "c b d"
                                                                   << "c zb d";
    QTest::newRow("italic at a bold word's end nests in it") << "**q**" << 3 << 0 << "*"
                                                             << "**q**" << 3 << 0 << "q"
                                                             << "qz";
    QTest::newRow("italic right after a bold word") << "**q**" << 5 << 0 << "*"
                                                    << "**q**" << 5 << 0 << "q"
                                                    << "qz";
    QTest::newRow("bold at an italic word's start nests in it") << "a *q*" << 3 << 0 << "**"
                                                                << "a *q*" << 3 << 0 << "a q"
                                                                << "a zq";
    QTest::newRow("markers at the very start: held") << "**x" << 0 << 0 << "**"
                                                     << "**x" << 0 << 0 << "**x"
                                                     << "z**x";
    QTest::newRow("markers at the very end: held") << "x**" << 3 << 0 << "**"
                                                   << "x**" << 3 << 0 << "x**"
                                                   << "x**z";
    QTest::newRow("more markers after the caret: typed without markers") << "a*****" << 3 << 0 << "**"
                                                                         << "a*****" << 3 << 0 << "a*****"
                                                                         << "az*";
    QTest::newRow("one character selected: wrapped, still selected") << "abc" << 1 << 1 << "**"
                                                                     << "a**b**c" << 3 << 1 << "abc"
                                                                     << "";
    QTest::newRow("caret inside the pair's text: held, typed unformatted") << "**ab**" << 3 << 0 << "**"
                                                                           << "**ab**" << 3 << 0 << "ab"
                                                                           << "azb";
    QTest::newRow("selected word of a pair is unwrapped") << "a **bc** d" << 4 << 2 << "**"
                                                          << "a bc d" << 2 << 2 << "a bc d"
                                                          << "";
    QTest::newRow("selected pair with its markers is unwrapped") << "a **bc** d" << 2 << 6 << "**"
                                                                 << "a bc d" << 2 << 2 << "a bc d"
                                                                 << "";
    QTest::newRow("selected pair at the text's end is unwrapped") << "a **bc**" << 2 << 6 << "**"
                                                                  << "a bc" << 2 << 2 << "a bc"
                                                                  << "";
    QTest::newRow("selected word and closing marker is unwrapped") << "a **bc** d" << 4 << 4 << "**"
                                                                   << "a bc d" << 2 << 2 << "a bc d"
                                                                   << "";
    QTest::newRow("pair on the second line") << "x\ny __z__" << 6 << 1 << "__"
                                             << "x\ny z" << 4 << 1 << "x\ny z"
                                             << "";
    QTest::newRow("start of a pair's text comes out of it") << "**bcd**" << 2 << 2 << "**"
                                                            << "bc**d**" << 0 << 2 << "bcd"
                                                            << "";
    QTest::newRow("middle of a pair's text comes out of it") << "**bcd**" << 3 << 1 << "**"
                                                             << "**b**c**d**" << 5 << 1 << "bcd"
                                                             << "";
    QTest::newRow("end of a pair's text comes out of it") << "a __bcd__" << 5 << 2 << "__"
                                                          << "a __b__cd" << 7 << 2 << "a bcd"
                                                          << "";
    QTest::newRow("selection over a line break: each line wrapped") << "ab\ncd" << 0 << 5 << "**"
                                                                    << "**ab**\n**cd**" << 2 << 9 << "ab\ncd"
                                                                    << "";
    QTest::newRow("selection over a line break: the line not yet wrapped is")
        << "**a**\nb" << 0 << 7 << "**"
        << "**a**\n**b**" << 2 << 7 << "a\nb"
        << "";
    QTest::newRow("selection over wrapped lines: unwrapped") << "**ab**\n**cd**" << 2 << 9 << "**"
                                                             << "ab\ncd" << 0 << 5 << "ab\ncd"
                                                             << "";
    QTest::newRow("selection over lines with an empty one") << "ab\n\ncd" << 0 << 6 << "*"
                                                            << "*ab*\n\n*cd*" << 1 << 8 << "ab\n\ncd"
                                                            << "";
    QTest::newRow("another marker's pair: wrapped") << "~~ab~~" << 2 << 2 << "**"
                                                    << "~~**ab**~~" << 4 << 2 << "ab"
                                                    << "";
    QTest::newRow("a wrap that would show tildes as they are: nothing changes")
        << "a ~~b~~ c" << 0 << 3 << "__"
        << "a ~~b~~ c" << 0 << 3 << "a b c"
        << "";
    QTest::newRow("a wrap that would show markers as they are: nothing changes")
        << "a **b** c" << 0 << 3 << "~~"
        << "a **b** c" << 0 << 3 << "a b c"
        << "";
}

// Pressed in the editor: the text it holds, what stays selected and what it draws; then what is
// typed at the caret draws no marker that was not there as it was typed.
void TestRichTextEditor::toggledMarkers()
{
    QFETCH(QString, text);
    QFETCH(int, location);
    QFETCH(int, length);
    QFETCH(QString, marker);
    QFETCH(QString, result);
    QFETCH(int, selectionStart);
    QFETCH(int, selectionLength);
    QFETCH(QString, shown);
    QFETCH(QString, typedShown);
    QSignalSpy markup(m_editor, &RichTextEditor::markupInserted);
    m_editor->setRawText(text);
    EditorFixture::select(*m_editor, location, location + length);
    m_editor->wrapSelection(marker, marker);
    QCOMPARE(m_editor->toRawText(), result);
    const QTextCursor cursor = m_editor->textCursor();
    QCOMPARE(cursor.selectionStart(), selectionStart);
    QCOMPARE(cursor.selectionEnd() - cursor.selectionStart(), selectionLength);
    QCOMPARE(markup.size(), result != text ? 1 : 0);
    QCOMPARE(EditorFixture::drawnText(*m_editor), shown);
    if (typedShown.isEmpty())
        return;
    QTest::keyClicks(m_editor, QStringLiteral("z"));
    QCOMPARE(EditorFixture::drawnText(*m_editor), typedShown);
    QCOMPARE(markup.size(), result != text ? 1 : 0);
}

void TestRichTextEditor::typingBoldHidesTheMarkers()
{
    QSignalSpy edited(m_editor, &RichTextEditor::textEdited);
    QTest::keyClicks(m_editor, QStringLiteral("a **word** b"));
    QCOMPARE(m_editor->toRawText(), QStringLiteral("a **word** b"));
    QCOMPARE(edited.last().at(0).toString(), QStringLiteral("a **word** b"));
    QVERIFY(!hidden(*m_editor, 0));
    for (int marker : {2, 3, 8, 9})
        QVERIFY2(hidden(*m_editor, marker), qPrintable(QString::number(marker)));
    QVERIFY(EditorFixture::drawnFormat(*m_editor, 4).fontWeight() >= QFont::Bold);
    QVERIFY(EditorFixture::drawnFormat(*m_editor, 11).fontWeight() < QFont::Bold);
    // The caret steps over a hidden marker one character at a time.
    QTest::keyClick(m_editor, Qt::Key_Home);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(m_editor, Qt::Key_Right);
    QCOMPARE(m_editor->textCursor().position(), 3);
}

void TestRichTextEditor::ctrlBWrapsAndUndoRemovesBothMarkers()
{
    connect(m_editor, &RichTextEditor::boldRequested, m_editor,
            [this] { m_editor->wrapSelection(QStringLiteral("**"), QStringLiteral("**")); });
    QSignalSpy markup(m_editor, &RichTextEditor::markupInserted);
    QTest::keyClicks(m_editor, QStringLiteral("one two"));
    EditorFixture::select(*m_editor, 4, 7);
    QTest::keyClick(m_editor, Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("one **two**"));
    QCOMPARE(m_editor->textCursor().selectedText(), QStringLiteral("two"));
    QCOMPARE(markup.size(), 1);
    QVERIFY(hidden(*m_editor, 4));
    QVERIFY(EditorFixture::drawnFormat(*m_editor, 6).fontWeight() >= QFont::Bold);

    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("one two"));

    // Nothing selected: the pair goes in with the caret between, and typing lands inside.
    QTest::keyClick(m_editor, Qt::Key_End);
    QTest::keyClick(m_editor, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClicks(m_editor, QStringLiteral("x"));
    QCOMPARE(m_editor->toRawText(), QStringLiteral("one two**x**"));
}

void TestRichTextEditor::wrapWithEmojiKeepsTheWholeEmojiSelected()
{
    m_editor->setRawText(QString::fromUtf8("\U0001F600 ok"));
    EditorFixture::select(*m_editor, 0, 2);
    QVERIFY(m_editor->wrapSelection(QStringLiteral("~~"), QStringLiteral("~~")));
    QCOMPARE(m_editor->toRawText(), QString::fromUtf8("~~\U0001F600~~ ok"));
    QCOMPARE(m_editor->textCursor().selectionStart(), 2);
    QCOMPARE(m_editor->textCursor().selectionEnd(), 4);
}

void TestRichTextEditor::shortcuts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("signal"); // empty: left to the text view

    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+B") << int(Qt::Key_B) << ctrl << "bold";
    QTest::newRow("Ctrl+Shift+B") << int(Qt::Key_B) << int(ctrl | Qt::ShiftModifier) << "bold";
    QTest::newRow("Ctrl+Alt+B") << int(Qt::Key_B) << int(ctrl | Qt::AltModifier) << "bold";
    QTest::newRow("Ctrl+I") << int(Qt::Key_I) << ctrl << "italic";
    QTest::newRow("Ctrl+U") << int(Qt::Key_U) << ctrl << "underline";
    QTest::newRow("Ctrl+K") << int(Qt::Key_K) << ctrl << "link";
    QTest::newRow("Ctrl+Shift+M") << int(Qt::Key_M) << int(ctrl | Qt::ShiftModifier) << "comment";
    QTest::newRow("Ctrl+M") << int(Qt::Key_M) << ctrl << "";
    QTest::newRow("B alone") << int(Qt::Key_B) << 0 << "";
}

void TestRichTextEditor::shortcuts()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, signal);
    QStringList heard;
    connect(m_editor, &RichTextEditor::boldRequested, this, [&] { heard << QStringLiteral("bold"); });
    connect(m_editor, &RichTextEditor::italicRequested, this, [&] { heard << QStringLiteral("italic"); });
    connect(m_editor, &RichTextEditor::underlineRequested, this,
            [&] { heard << QStringLiteral("underline"); });
    connect(m_editor, &RichTextEditor::linkRequested, this, [&] { heard << QStringLiteral("link"); });
    connect(m_editor, &RichTextEditor::commentRequested, this, [&] { heard << QStringLiteral("comment"); });
    m_editor->setRawText(QStringLiteral("abc"));
    QTest::keyClick(m_editor, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(heard, signal.isEmpty() ? QStringList() : QStringList{signal});
    // A consumed key never reaches the text (Ctrl+K would otherwise cut to the end of the line).
    if (!signal.isEmpty())
        QCOMPARE(m_editor->toRawText(), QStringLiteral("abc"));
}

void TestRichTextEditor::shortcutsBeatTheWindowsActions()
{
    int windowShortcut = 0;
    auto *action = new QAction(m_window);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    action->setShortcutContext(Qt::WindowShortcut);
    m_window->addAction(action);
    connect(action, &QAction::triggered, this, [&] { ++windowShortcut; });
    QSignalSpy link(m_editor, &RichTextEditor::linkRequested);
    QTest::keyClick(m_editor, Qt::Key_K, Qt::ControlModifier);
    QCOMPARE(link.size(), 1);
    QCOMPARE(windowShortcut, 0);
}

void TestRichTextEditor::backspaceAtStart()
{
    QSignalSpy atStart(m_editor, &RichTextEditor::backspaceAtStart);
    QTest::keyClicks(m_editor, QStringLiteral("abc"));
    QTest::keyClick(m_editor, Qt::Key_Home);
    QTest::keyClick(m_editor, Qt::Key_Backspace);
    QCOMPARE(atStart.size(), 1);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("abc"));

    // A selection from offset 0 is deleted as usual.
    EditorFixture::select(*m_editor, 0, 2);
    QTest::keyClick(m_editor, Qt::Key_Backspace);
    QCOMPARE(atStart.size(), 1);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("c"));

    QTest::keyClick(m_editor, Qt::Key_End);
    QTest::keyClick(m_editor, Qt::Key_Backspace);
    QCOMPARE(m_editor->toRawText(), QString());
    QTest::keyClick(m_editor, Qt::Key_Backspace);
    QCOMPARE(atStart.size(), 2);
}

void TestRichTextEditor::externalTextKeepsOrClampsTheCaret()
{
    QSignalSpy edited(m_editor, &RichTextEditor::textEdited);
    m_editor->setRawText(QStringLiteral("hello world"));
    EditorFixture::select(*m_editor, 6, 11);
    m_editor->setRawText(QStringLiteral("hello world"));
    QCOMPARE(m_editor->textCursor().selectedText(), QStringLiteral("world"));
    m_editor->setRawText(QStringLiteral("hey"));
    QCOMPARE(m_editor->textCursor().position(), 3);
    QVERIFY(!m_editor->textCursor().hasSelection());
    QCOMPARE(edited.size(), 0);
    // A no-break space survives the round trip.
    m_editor->setRawText(QString::fromUtf8("a\u00a0b\nc"));
    QCOMPARE(m_editor->toRawText(), QString::fromUtf8("a\u00a0b\nc"));
}

void TestRichTextEditor::heightFollowsTheText()
{
    const int empty = m_editor->height();
    QVERIFY(empty >= AutoHeightTextView::kMinimumHeight);
    QTest::keyClicks(m_editor, QStringLiteral("one"));
    QCOMPARE(m_editor->height(), empty);
    QTest::keyClick(m_editor, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(m_editor, QStringLiteral("two"));
    QCOMPARE(m_editor->toRawText(), QStringLiteral("one\ntwo"));
    QTRY_VERIFY(m_editor->height() > empty);
    const int twoLines = m_editor->height();
    QTest::keyClick(m_editor, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(m_editor, QStringLiteral("three"));
    QTRY_VERIFY(m_editor->height() > twoLines);
    QVERIFY(qAbs(m_editor->height() - twoLines - QFontMetrics(m_editor->font()).lineSpacing()) <= 1);
    QCOMPARE(m_editor->height(), m_editor->idealHeight());
    // Return itself is the row's (a new block), never a line break here.
    QSignalSpy returns(m_editor, &RichTextEditor::returnPressed);
    QTest::keyClick(m_editor, Qt::Key_Return);
    QCOMPARE(returns.size(), 1);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("one\ntwo\nthree"));
}

void TestRichTextEditor::undoStaysInItsOwnBlock()
{
    auto *other = new RichTextEditor(m_window);
    m_window->layout()->addWidget(other);
    QTest::keyClicks(m_editor, QStringLiteral("first"));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QTest::keyClicks(other, QStringLiteral("second"));
    QTest::keyClick(other, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_editor->toRawText(), QStringLiteral("first"));
    QCOMPARE(other->toRawText(), QString());
}

void TestRichTextEditor::readOnlyRefusesTheWrap()
{
    m_editor->setRawText(QStringLiteral("abc"));
    m_editor->setReadOnly(true);
    EditorFixture::select(*m_editor, 0, 3);
    QSignalSpy markup(m_editor, &RichTextEditor::markupInserted);
    QVERIFY(!m_editor->wrapSelection(QStringLiteral("*"), QStringLiteral("*")));
    QVERIFY(!m_editor->insertLink(QStringLiteral("https://a.b")));
    QCOMPARE(m_editor->toRawText(), QStringLiteral("abc"));
    QCOMPARE(markup.size(), 0);
}

QTEST_MAIN(TestRichTextEditor)
#include "tst_rich_text_editor.moc"
