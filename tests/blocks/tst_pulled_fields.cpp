#include "blocks/button_block.h"
#include "blocks/embed_block.h"
#include "blocks/image_block.h"
#include "blocks/math_block.h"
#include "editor/editable_text.h"
#include "editor/editor_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <functional>

namespace {

// A field of a block's view that is filled from one key of the block's content.
struct Field {
    QString type;
    JSONObject content;
    QString key;
    // Opens what holds the field, if anything must be opened first.
    std::function<void(BlockRow *)> open;
    // The field as the view shows it now (a view may make it again).
    std::function<QWidget *(BlockRow *)> widget;
    // Stores what was typed, where the kind does not do it by itself after a pause.
    std::function<void(BlockRow *)> submit;
};

QString textOf(QWidget *field)
{
    if (auto *line = qobject_cast<QLineEdit *>(field))
        return line->text();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
        return plain->toPlainText();
    if (auto *view = qobject_cast<AutoHeightTextView *>(field))
        return view->toRawText();
    return QStringLiteral("<no field>");
}

int caretOf(QWidget *field)
{
    if (auto *line = qobject_cast<QLineEdit *>(field))
        return line->cursorPosition();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
        return plain->textCursor().position();
    if (auto *view = qobject_cast<QTextEdit *>(field))
        return view->textCursor().position();
    return -1;
}

void setCaret(QWidget *field, int at)
{
    if (auto *line = qobject_cast<QLineEdit *>(field)) {
        line->setCursorPosition(at);
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(field)) {
        QTextCursor cursor = plain->textCursor();
        cursor.setPosition(at);
        plain->setTextCursor(cursor);
    } else if (auto *view = qobject_cast<QTextEdit *>(field)) {
        QTextCursor cursor = view->textCursor();
        cursor.setPosition(at);
        view->setTextCursor(cursor);
    }
}

template <class View>
View *viewOf(BlockRow *row)
{
    return qobject_cast<View *>(row->kindView());
}

Field mathField()
{
    return {QStringLiteral("math"), {{"latex", "a + b = c"}}, QStringLiteral("latex"), {},
            [](BlockRow *row) -> QWidget * { return viewOf<MathBlockView>(row)->sourceField(); }, {}};
}

Field captionField()
{
    return {QStringLiteral("image"),
            {{"url", "https://example.invalid/dog.png"}, {"caption", "A dog"}},
            QStringLiteral("caption"),
            {},
            [](BlockRow *row) -> QWidget * { return viewOf<ImageBlockView>(row)->captionField(); },
            {}};
}

Field buttonField(const QString &key)
{
    return {QStringLiteral("button"),
            {{"label", "Open docs"}, {"action", "open_url"}, {"target", "https://docs.example"}},
            key,
            [](BlockRow *row) { viewOf<ButtonBlockView>(row)->openEditor(); },
            [key](BlockRow *row) -> QWidget * {
                ButtonBlockView *view = viewOf<ButtonBlockView>(row);
                return key == QLatin1String("label") ? view->labelField() : view->targetField();
            },
            [](BlockRow *row) { viewOf<ButtonBlockView>(row)->saveButton()->click(); }};
}

Field embedField()
{
    return {QStringLiteral("embed"),
            {{"url", "https://video.example/v/1"}},
            QStringLiteral("url"),
            [](BlockRow *row) { viewOf<EmbedBlockView>(row)->pencilButton()->click(); },
            [](BlockRow *row) -> QWidget * { return viewOf<EmbedBlockView>(row)->entryField(); },
            [](BlockRow *row) { viewOf<EmbedBlockView>(row)->embedButton()->click(); }};
}

Field toggleBodyField()
{
    return {QStringLiteral("toggle"),
            {{"text", "Details"}, {"expanded", true}, {"body", "hidden part"}},
            QStringLiteral("body"),
            {},
            [](BlockRow *row) -> QWidget * { return row->toggleBodyField(); },
            {}};
}

} // namespace

Q_DECLARE_METATYPE(Field)

// The fields a block's view fills from its content, met by a change another device made while the
// field has the keyboard.
class TestPulledFields : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fieldWithNothingOfItsOwnShowsAPull_data();
    void fieldWithNothingOfItsOwnShowsAPull();
    void typingInAFieldOutlivesAPull_data();
    void typingInAFieldOutlivesAPull();

private:
    static void pull(EditorFixture &fx, const QString &localID, const QString &key, const QString &value)
    {
        FNBlock block = fx.stored(localID);
        JSONObject content = BlockContent::decode(block.contentJSON);
        content[key] = value;
        block.contentJSON = *BlockContent::encode(content);
        fx.store().upsertBlock(block);
    }
    static QString stored(EditorFixture &fx, const QString &localID, const QString &key)
    {
        return BlockContent::readString(fx.storedContent(localID), key);
    }
    // The block's row on screen with the field open and holding the keyboard; null when it is not.
    static BlockRow *showFocused(EditorFixture &fx, const Field &field, const FNBlock &block)
    {
        BlockRow *row = fx.addRow(block);
        if (!fx.showWindow())
            return nullptr;
        if (field.open)
            field.open(row);
        QWidget *widget = field.widget(row);
        return widget && EditorFixture::focusOn(widget) ? row : nullptr;
    }
};

namespace {

// Every field filled from its block's content that typing waits to store.
void addTypedFieldRows()
{
    QTest::addColumn<Field>("field");
    QTest::newRow("math source") << mathField();
    QTest::newRow("image caption") << captionField();
    QTest::newRow("button label") << buttonField(QStringLiteral("label"));
    QTest::newRow("button target") << buttonField(QStringLiteral("target"));
    QTest::newRow("embed address") << embedField();
}

} // namespace

void TestPulledFields::fieldWithNothingOfItsOwnShowsAPull_data()
{
    addTypedFieldRows();
    // Stored at every key, so it never holds typing of its own.
    QTest::newRow("toggle body") << toggleBodyField();
}

// The field shows the other device's value at once, keeps the keyboard and the caret's place (within
// the new text), and writes nothing back.
void TestPulledFields::fieldWithNothingOfItsOwnShowsAPull()
{
    QFETCH(Field, field);
    EditorFixture fx;
    const FNBlock block = fx.addBlock(field.type, field.content);
    BlockRow *row = showFocused(fx, field, block);
    QVERIFY(row);
    setCaret(field.widget(row), 3);

    const QString longer = QStringLiteral("https://changed.example/elsewhere");
    pull(fx, block.localID, field.key, longer);
    QTRY_COMPARE(textOf(field.widget(row)), longer);
    QVERIFY(field.widget(row)->hasFocus());
    QCOMPARE(caretOf(field.widget(row)), 3);

    pull(fx, block.localID, field.key, QStringLiteral("xy"));
    QTRY_COMPARE(textOf(field.widget(row)), QStringLiteral("xy"));
    QCOMPARE(caretOf(field.widget(row)), 2);
    QVERIFY(field.widget(row)->hasFocus());

    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 0);
    QCOMPARE(stored(fx, block.localID, field.key), QStringLiteral("xy"));
}

void TestPulledFields::typingInAFieldOutlivesAPull_data()
{
    addTypedFieldRows();
}

// Typing not yet stored is newer than the pull: the field keeps it, and it is stored over the pull.
void TestPulledFields::typingInAFieldOutlivesAPull()
{
    QFETCH(Field, field);
    EditorFixture fx;
    const FNBlock block = fx.addBlock(field.type, field.content);
    BlockRow *row = showFocused(fx, field, block);
    QVERIFY(row);
    const QString before = textOf(field.widget(row));
    setCaret(field.widget(row), int(before.size()));
    QTest::keyClicks(field.widget(row), QStringLiteral("/2"));
    const QString mine = before + QStringLiteral("/2");

    pull(fx, block.localID, field.key, QStringLiteral("theirs"));
    QCOMPARE(textOf(field.widget(row)), mine);
    QVERIFY(field.widget(row)->hasFocus());
    if (field.submit)
        field.submit(row);
    QTRY_COMPARE(stored(fx, block.localID, field.key), mine);
}

QTEST_MAIN(TestPulledFields)
#include "tst_pulled_fields.moc"
