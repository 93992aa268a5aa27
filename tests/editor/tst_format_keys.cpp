#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QTest>

// The format keys pressed in a page as a user presses them: an empty pair waits in the editor alone
// and is never stored, Undo takes a pair with its text, and markers nest and pair as they are drawn.
class TestFormatKeys : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void heldPairIsNeverStored_data();
    void heldPairIsNeverStored();
    void undoTakesAPairWithItsText();
    void formatKeysDrawWhatTheyStore_data();
    void formatKeysDrawWhatTheyStore();

private:
    RichTextEditor *keysInFirstBlock(const Opened &opened, int caret) const;
    // The drawn characters' bold and italic runs: "B=b;I=abc".
    static QString drawnStyles(const RichTextEditor &editor);
    // An operation waiting to go out carries the text.
    bool outboxHolds(const QString &text) const;
    QString storedText(const QString &localID) const { return textOf(*m_device->block(localID)); }
};

void TestFormatKeys::initTestCase()
{
    QVERIFY(startService());
}

void TestFormatKeys::init()
{
    openDevice();
}

void TestFormatKeys::cleanup()
{
    closeDevice();
}

RichTextEditor *TestFormatKeys::keysInFirstBlock(const Opened &opened, int caret) const
{
    RichTextEditor *editor = opened.view ? opened.view->row(opened.blocks[0])->richEditor() : nullptr;
    if (!editor || !EditorFixture::focusOn(editor))
        return nullptr;
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(caret);
    editor->setTextCursor(cursor);
    return editor;
}

QString TestFormatKeys::drawnStyles(const RichTextEditor &editor)
{
    const QString raw = editor.toRawText();
    QString bold;
    QString italic;
    QStringList boldRuns;
    QStringList italicRuns;
    const auto flush = [](QString &run, QStringList &runs) {
        if (!run.isEmpty())
            runs << std::exchange(run, QString());
    };
    for (int i = 0; i < raw.size(); ++i) {
        const QTextCharFormat format = EditorFixture::drawnFormat(editor, i);
        if (raw[i] != QLatin1Char('\n') && format.foreground().color().alpha() == 0)
            continue; // a hidden marker
        const bool isBold = raw[i] != QLatin1Char('\n') && format.fontWeight() >= QFont::Bold;
        const bool isItalic = raw[i] != QLatin1Char('\n') && format.fontItalic();
        isBold ? void(bold += raw[i]) : flush(bold, boldRuns);
        isItalic ? void(italic += raw[i]) : flush(italic, italicRuns);
    }
    flush(bold, boldRuns);
    flush(italic, italicRuns);
    QStringList parts;
    if (!boldRuns.isEmpty())
        parts << "B=" + boldRuns.join(u'|');
    if (!italicRuns.isEmpty())
        parts << "I=" + italicRuns.join(u'|');
    return parts.join(u';');
}

bool TestFormatKeys::outboxHolds(const QString &text) const
{
    for (const FNSyncOp &op : m_device->store().state().outbox) {
        if (op.payloadJSON.contains(text))
            return true;
    }
    return false;
}

void TestFormatKeys::heldPairIsNeverStored_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("pair");
    QTest::addColumn<QString>("leaving"); // how the page goes while the pair waits

    const std::pair<Qt::Key, const char *> keys[] = {{Qt::Key_B, "****"}, {Qt::Key_I, "**"}};
    for (const auto &[key, pair] : keys) {
        const char *name = key == Qt::Key_B ? "bold" : "italic";
        QTest::addRow("%s, page closed at once", name) << int(key) << pair << "closed";
        QTest::addRow("%s, page closed after its flush", name) << int(key) << pair << "flushed";
        QTest::addRow("%s, another window took the keyboard", name) << int(key) << pair << "window";
    }
}

// "ab", then a format key with nothing selected, and the page goes before anything is typed: the
// pair was never in the text, the store or the outbox, and the note keeps "ab".
void TestFormatKeys::heldPairIsNeverStored()
{
    QFETCH(int, key);
    QFETCH(QString, pair);
    QFETCH(QString, leaving);
    auto opened = openActive({{"text", "ab", 0}});
    RichTextEditor *editor = keysInFirstBlock(opened, 2);
    QVERIFY(editor);
    const QString block = opened.blocks[0];

    QTest::keyClick(keyboard(), Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("ab"));
    QVERIFY(!editor->heldOpening().isEmpty());
    if (leaving == "flushed") {
        QVERIFY(EditorFixture::waitPastTextDelay());
        QTRY_VERIFY(!opened.view->model().isBlockFlushPending());
    } else if (leaving == "window") {
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!editor->heldOpening().isEmpty()); // the caret is still where it was
    }
    opened.view.reset();
    QCOMPARE(storedText(block), QStringLiteral("ab"));
    QVERIFY(!outboxHolds("ab" + pair));
}

// Undo and Redo take a pair with the text typed into it, or neither: "seven****" never comes back.
void TestFormatKeys::undoTakesAPairWithItsText()
{
    auto opened = openActive({{"text", "seven", 0}});
    RichTextEditor *editor = keysInFirstBlock(opened, 5);
    QVERIFY(editor);
    const QString block = opened.blocks[0];

    QTest::keyClick(keyboard(), Qt::Key_B, Qt::ControlModifier);
    QTest::keyClicks(keyboard(), "x");
    QCOMPARE(editor->toRawText(), QStringLiteral("seven**x**"));
    QTest::keyClick(keyboard(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven"));
    QTest::keyClick(keyboard(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven**x**"));
    QCOMPARE(EditorFixture::drawnText(*editor), QStringLiteral("sevenx"));
    QTest::keyClick(keyboard(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven"));

    // A pair let go untyped leaves nothing for Undo or Redo to bring back.
    QTest::keyClick(keyboard(), Qt::Key_End);
    QTest::keyClick(keyboard(), Qt::Key_I, Qt::ControlModifier);
    QTest::keyClick(keyboard(), Qt::Key_Left);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven"));
    QTest::keyClick(keyboard(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven"));
    QTest::keyClick(keyboard(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("seven**x**"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QTRY_COMPARE(storedText(block), editor->toRawText());
}

void TestFormatKeys::formatKeysDrawWhatTheyStore_data()
{
    QTest::addColumn<QStringList>("steps"); // "t:" text typed, "B"/"I" Ctrl+B/I, "SR" Shift+Return, "ALL"
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("styles");

    QTest::newRow("bold inside italic, as typed")
        << QStringList{"t:it ", "I", "t:a", "B", "t:b", "B", "t:c", "I", "t: end"} << "it *a**b**c* end"
        << "B=b;I=abc";
    QTest::newRow("italic inside bold, as typed")
        << QStringList{"t:it ", "B", "t:a", "I", "t:b", "I", "t:c", "B", "t: end"} << "it **a*b*c** end"
        << "B=abc;I=b";
    QTest::newRow("italic right after a bold word") << QStringList{"B", "t:q", "B", "I", "t:z"} << "**q***z*"
                                                    << "B=q;I=z";
    QTest::newRow("selection over a line break: each line bold")
        << QStringList{"t:ab", "SR", "t:cd", "ALL", "B"} << "**ab**\n**cd**"
        << "B=ab|cd";
    QTest::newRow("selection over a line break, pressed again: plain")
        << QStringList{"t:ab", "SR", "t:cd", "ALL", "B", "B"} << "ab\ncd"
        << "";
}

// What the keys store is what the editor draws, with no marker shown as it is.
void TestFormatKeys::formatKeysDrawWhatTheyStore()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, stored);
    QFETCH(QString, styles);
    auto opened = openActive({{"text", "", 0}});
    RichTextEditor *editor = keysInFirstBlock(opened, 0);
    QVERIFY(editor);
    for (const QString &step : steps) {
        if (step.startsWith("t:"))
            QTest::keyClicks(keyboard(), step.mid(2));
        else if (step == "SR")
            QTest::keyClick(keyboard(), Qt::Key_Return, Qt::ShiftModifier);
        else if (step == "ALL")
            QTest::keyClick(keyboard(), Qt::Key_A, Qt::ControlModifier);
        else
            QTest::keyClick(keyboard(), step == "B" ? Qt::Key_B : Qt::Key_I, Qt::ControlModifier);
    }
    QCOMPARE(editor->toRawText(), stored);
    QCOMPARE(EditorFixture::drawnText(*editor), QString(stored).remove(u'*'));
    QCOMPARE(drawnStyles(*editor), styles);
    QTRY_COMPARE(storedText(opened.blocks[0]), stored);
}

QTEST_MAIN(TestFormatKeys)
#include "tst_format_keys.moc"
