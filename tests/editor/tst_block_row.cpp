#include "editor_fixture.h"

#include "blocks/block_view.h"
#include "blocks/database_block.h"
#include "editor/comment_button.h"
#include "editor/editable_text.h"
#include "editor/format_toolbar.h"
#include "editor/link_sheet.h"
#include "editor/marker_highlighter.h"
#include "editor/rich_text_editor.h"
#include "support/local_store_testing.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

const QString kText = QStringLiteral("text");

} // namespace

// A change of one block, named by its local id.
using StoreChange = std::function<void(LocalStore &, const QString &)>;
Q_DECLARE_METATYPE(StoreChange)

class TestBlockRow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Content access
    void writeOneKeyKeepsTheOthers();
    void writeToARemovedBlockAppendsItAgain();
    void aRowRereadsOnlyItsOwnBlock_data();
    void aRowRereadsOnlyItsOwnBlock();
    void slashQuery_data();
    void slashQuery();

    // Row operations
    void changeIndent_data();
    void changeIndent();
    void rowOperationsUseTheStoredBlock();
    void deleteWithoutServerIDQueuesNothing();
    void changeTypeKeepsTheContent();
    void blockMenu();
    void commentButtonAndSelectBox();
    void ctrlShiftMCommentsOnTheSelection();

    // Kinds
    void kindViews_data();
    void kindViews();
    void todoCheckStrikesTheText();
    void toggleOpensAndShowsItsBody();
    void calloutIcon_data();
    void calloutIcon();
};

void TestBlockRow::writeOneKeyKeepsTheOthers()
{
    EditorFixture fx;
    FNBlock block = fx.addBlock(QStringLiteral("bookmark"), {{"text", "a"}, {"url", "x"}});
    block.updatedAt = QDateTime::currentDateTimeUtc().addSecs(-60);
    fx.store().upsertBlock(block);
    const QDateTime before = block.updatedAt;
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks());
    model.setContentString(QStringLiteral("y"), QStringLiteral("url"));
    QCOMPARE(fx.storedContent(block.localID), (JSONObject{{"text", "a"}, {"url", "y"}}));
    QVERIFY(fx.stored(block.localID).updatedAt > before);
    QVERIFY(fx.store().isSavePending());
    QCOMPARE(fx.changes(), 1);

    // Two writes in a row both survive: each starts from the stored content.
    model.setContentInt(3, QStringLiteral("count"));
    model.setContentBool(true, QStringLiteral("checked"));
    QCOMPARE(fx.storedContent(block.localID).at("count"), JSONValue(3));
    QCOMPARE(fx.storedContent(block.localID).at("checked"), JSONValue(true));
    QCOMPARE(fx.changes(), 3);

    // A write that cannot be encoded changes nothing and tells nobody.
    model.setContentDouble(std::numeric_limits<double>::quiet_NaN(), QStringLiteral("height"));
    QCOMPARE(fx.storedContent(block.localID).count("height"), size_t(0));
    QCOMPARE(fx.changes(), 3);
}

void TestBlockRow::writeToARemovedBlockAppendsItAgain()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"text", "a"}});
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks());
    fx.store().change([](StoreState &s) { s.blocks.clear(); });
    model.setContentString(QStringLiteral("b"), kText);
    QCOMPARE(fx.store().state().blocks.size(), size_t(1));
    QCOMPARE(fx.storedText(block.localID), QStringLiteral("b"));
}

void TestBlockRow::aRowRereadsOnlyItsOwnBlock_data()
{
    QTest::addColumn<StoreChange>("change");
    QTest::newRow("edited") << StoreChange([](LocalStore &store, const QString &id) {
        store.editBlock(id, [](FNBlock &b) { b.indentLevel += 1; });
    });
    QTest::newRow("upserted") << StoreChange([](LocalStore &store, const QString &id) {
        FNBlock b = *store.block(id);
        b.position += 1;
        store.upsertBlock(b);
    });
    QTest::newRow("deleted") << StoreChange(
        [](LocalStore &store, const QString &id) { store.markBlockDeleted(id); });
}

// A page of thousands of rows must not have each re-read its block on every keystroke.
void TestBlockRow::aRowRereadsOnlyItsOwnBlock()
{
    QFETCH(StoreChange, change);
    EditorFixture fx;
    const FNBlock mine = fx.addBlock(QStringLiteral("text"), {{"text", "a"}});
    const FNBlock other = fx.addBlock(QStringLiteral("text"), {{"text", "b"}});
    BlockRowModel row(fx.store(), mine, &fx.focus(), fx.hooks());
    QSignalSpy content(&row, &BlockRowModel::contentChanged);
    // The row's block changes with nobody told: only a re-read of it can notice.
    LocalStoreTesting::changeUntold(fx.store(), [&](StoreState &s) {
        for (FNBlock &b : s.blocks) {
            if (b.localID == mine.localID)
                b.contentJSON = QStringLiteral(R"({"text":"a2"})");
        }
    });

    change(fx.store(), other.localID);
    QCOMPARE(content.count(), 0);

    change(fx.store(), mine.localID);
    QCOMPARE(content.count(), 1);
}

void TestBlockRow::slashQuery_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("query");
    QTest::newRow("slash alone") << "/" << true << "";
    QTest::newRow("slash and letters") << "/hea" << true << "hea";
    QTest::newRow("line feed after it") << "/hea\nx" << false << "";
    QTest::newRow("slash later") << "a/b" << false << "";
    QTest::newRow("empty") << "" << false << "";
}

void TestBlockRow::slashQuery()
{
    QFETCH(QString, text);
    QFETCH(bool, shown);
    QFETCH(QString, query);
    EditorFixture fx;
    BlockRowModel model(fx.store(), fx.addBlock(QStringLiteral("text"), {{"text", text}}), &fx.focus(),
                        fx.hooks());
    model.loadText();
    QCOMPARE(model.slashQuery().has_value(), shown);
    QCOMPARE(model.slashQuery().value_or(QString()), query);
}

void TestBlockRow::changeIndent_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("to");
    QTest::newRow("in") << 2 << 1 << 3;
    QTest::newRow("out") << 2 << -1 << 1;
    QTest::newRow("out at 0") << 0 << -1 << 0;
    QTest::newRow("in at 6") << 6 << 1 << 6;
}

void TestBlockRow::changeIndent()
{
    QFETCH(int, from);
    QFETCH(int, delta);
    QFETCH(int, to);
    EditorFixture fx;
    FNBlock block = fx.addBlock(QStringLiteral("text"));
    block.indentLevel = from;
    block.updatedAt = QDateTime::currentDateTimeUtc().addSecs(-60);
    fx.store().upsertBlock(block);
    BlockRow *row = fx.addRow(block);
    row->model().changeIndent(delta);
    QCOMPARE(fx.stored(block.localID).indentLevel, to);
    // The service keeps no indent: the block is no newer for it, so a pull still brings in what
    // another device changes in it.
    QCOMPARE(fx.stored(block.localID).updatedAt, block.updatedAt);
    QCOMPARE(fx.changes(), 1);
    QCOMPARE(row->layout()->contentsMargins().left(), to * BlockRow::kIndentStep);
}

void TestBlockRow::rowOperationsUseTheStoredBlock()
{
    EditorFixture fx;
    const FNBlock built = fx.addBlock(QStringLiteral("text"), {{"text", "old"}});
    BlockRowModel model(fx.store(), built, &fx.focus(), fx.hooks());
    // Since the row was built the block got its server id and new text.
    FNBlock acked = fx.stored(built.localID);
    acked.serverID = 42;
    acked.pageServerID = 7;
    fx.store().upsertBlock(acked);
    fx.pullText(built.localID, QStringLiteral("new"));

    model.changeIndent(+1);
    QCOMPARE(fx.stored(built.localID).serverID, 42);
    QCOMPARE(fx.storedText(built.localID), QStringLiteral("new"));
    QCOMPARE(fx.stored(built.localID).indentLevel, 1);

    model.deleteBlock();
    QVERIFY(fx.stored(built.localID).deletedAt.has_value());
    QCOMPARE(fx.store().state().outbox.size(), size_t(1));
    const FNSyncOp &op = fx.store().state().outbox.front();
    QCOMPARE(op.entity, QStringLiteral("block"));
    QCOMPARE(op.op, QStringLiteral("delete"));
    QCOMPARE(op.refLocalID, built.localID);
    QCOMPARE(BlockContent::decode(op.payloadJSON), (JSONObject{{"block_id", 42}}));
    QCOMPARE(op.attempts, 0);
    QVERIFY(!op.lastError && !op.nextRetryAt);
    QVERIFY(fx.store().isSavePending());
    QCOMPARE(fx.changes(), 2);
}

void TestBlockRow::deleteWithoutServerIDQueuesNothing()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRowModel model(fx.store(), block, &fx.focus(), fx.hooks());
    model.deleteBlock();
    QVERIFY(fx.stored(block.localID).deletedAt.has_value());
    QVERIFY(fx.store().state().outbox.empty());
    QCOMPARE(fx.changes(), 1);
}

void TestBlockRow::changeTypeKeepsTheContent()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("todo"), {{"text", "buy"}, {"checked", true}});
    BlockRow *row = fx.addRow(block);
    QVERIFY(row->todoBox());
    row->model().changeType(BlockType::quote);
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("quote"));
    QCOMPARE(fx.storedContent(block.localID), (JSONObject{{"text", "buy"}, {"checked", true}}));
    QTRY_VERIFY(!row->todoBox());
    QCOMPARE(row->richEditor()->placeholderText(), QStringLiteral("Quote"));
    QVERIFY(row->richEditor()->font().italic());
    QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("buy"));
    row->model().changeType(BlockType::todo);
    QVERIFY(row->todoBox());
    QVERIFY(row->richEditor()->strikethrough());
}

void TestBlockRow::blockMenu()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    const QList<QAction *> actions = row->blockMenu()->actions();
    QCOMPARE(actions.size(), 28);
    for (int i = 0; i < 26; ++i)
        QCOMPARE(actions[i]->text(), BlockType::allCases()[size_t(i)].label());
    QVERIFY(actions[26]->isSeparator());
    QCOMPARE(actions[27]->text(), QStringLiteral("Delete block"));
    actions[1]->trigger();
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("h1"));
    actions[27]->trigger();
    QVERIFY(fx.stored(block.localID).deletedAt.has_value());
}

void TestBlockRow::commentButtonAndSelectBox()
{
    EditorFixture fx;
    int toggles = 0;
    BlockRowModel::Hooks hooks = fx.hooks();
    hooks.onToggleSelected = [&] { ++toggles; };
    BlockRow row(fx.store(), fx.addBlock(QStringLiteral("text")), &fx.focus(), hooks);
    QCOMPARE(row.commentButton()->toolTip(), QStringLiteral("Add comment to this block"));
    QCOMPARE(row.commentButton()->badgeText(), QString());
    row.setBlockCommentCount(12);
    QCOMPARE(row.commentButton()->badgeText(), QStringLiteral("12"));

    QVERIFY(!row.selectBox()->isVisibleTo(&row));
    row.setSelectMode(true);
    QVERIFY(row.selectBox()->isVisibleTo(&row));
    QTest::mouseClick(row.selectBox(), Qt::LeftButton);
    QCOMPARE(toggles, 1);
}

void TestBlockRow::ctrlShiftMCommentsOnTheSelection()
{
    EditorFixture fx;
    BlockRow *row = fx.addRow(fx.addBlock(QStringLiteral("text"), {{"text", "one\ntwo three"}}));
    int popoversMade = 0;
    row->setInlineCommentContent([&](BlockRow &) {
        ++popoversMade;
        return new QLabel(QStringLiteral("comment"));
    });
    QVERIFY(fx.showWindow());
    QVERIFY(EditorFixture::focusOn(row->richEditor()));
    EditorFixture::select(*row->richEditor(), 2, 7);
    QTest::keyClick(row->richEditor(), Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(row->model().commentSelectionStart, std::optional<qsizetype>(2));
    QCOMPARE(row->model().commentSelectionLength, std::optional<qsizetype>(5));
    QCOMPARE(row->model().commentSelectionText, std::optional<QString>(QStringLiteral("e\ntwo")));
    QVERIFY(row->model().showInlineComment());
    QCOMPARE(popoversMade, 1);
    // The comment button toggles the same popover.
    row->model().toggleInlineComment();
    QVERIFY(!row->model().showInlineComment());
}

void TestBlockRow::kindViews_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("placeholder"); // of the rich editor; empty: none
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("weight");
    QTest::addColumn<QString>("marker");

    QTest::newRow("text") << "text"
                          << "Type / for commands, or write..." << 14 << int(QFont::Normal) << "";
    QTest::newRow("empty type") << ""
                                << "Type / for commands, or write..." << 14 << int(QFont::Normal) << "";
    QTest::newRow("H1 is not h1") << "H1"
                                  << "Type / for commands, or write..." << 14 << int(QFont::Normal) << "";
    QTest::newRow("h1") << "h1"
                        << "Heading" << 28 << int(QFont::Bold) << "";
    QTest::newRow("h2") << "h2"
                        << "Heading" << 22 << int(QFont::DemiBold) << "";
    QTest::newRow("h3") << "h3"
                        << "Heading" << 18 << int(QFont::DemiBold) << "";
    QTest::newRow("bullet") << "bullet"
                            << "List item" << 14 << int(QFont::Normal) << QString::fromUtf8("•");
    QTest::newRow("number") << "number"
                            << "List item" << 14 << int(QFont::Normal) << "1.";
    QTest::newRow("todo") << "todo"
                          << "To-do" << 14 << int(QFont::Normal) << "";
    QTest::newRow("quote") << "quote"
                           << "Quote" << 14 << int(QFont::Normal) << "";
    QTest::newRow("callout") << "callout"
                             << "Callout" << 14 << int(QFont::Normal) << "";
    QTest::newRow("code") << "code"
                          << "" << 0 << 0 << "";
    QTest::newRow("divider") << "divider"
                             << "" << 0 << 0 << "";
    QTest::newRow("database") << "database"
                              << "" << 0 << 0 << "";
}

void TestBlockRow::kindViews()
{
    QFETCH(QString, type);
    QFETCH(QString, placeholder);
    QFETCH(int, pixelSize);
    QFETCH(int, weight);
    QFETCH(QString, marker);
    EditorFixture fx;
    BlockRow *row = fx.addRow(fx.addBlock(type, {{"text", "**hi**"}}));
    if (placeholder.isEmpty()) {
        QVERIFY(!row->richEditor());
    } else {
        QVERIFY(row->richEditor());
        QCOMPARE(row->richEditor()->placeholderText(), placeholder);
        QCOMPARE(row->richEditor()->font().pixelSize(), pixelSize);
        QCOMPARE(row->richEditor()->font().weight(), QFont::Weight(weight));
        QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("**hi**"));
    }
    QStringList labels;
    for (QLabel *label : row->content()->findChildren<QLabel *>())
        labels << label->text();
    if (!marker.isEmpty())
        QCOMPARE(labels, QStringList{marker});
    if (type == QLatin1String("code")) {
        // Plain text in the fixed-pitch font: the markers stay as typed.
        QCOMPARE(row->plainEditor()->placeholderText(), QStringLiteral("Code"));
        // What the eye sees: narrow and wide letters take the same room.
        const QFontMetrics metrics(row->plainEditor()->font());
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("iiii")),
                 metrics.horizontalAdvance(QStringLiteral("MMMM")));
        QCOMPARE(row->plainEditor()->toRawText(), QStringLiteral("**hi**"));
    }
    if (type == QLatin1String("database")) {
        // Without a database id, the offer to insert one.
        auto *database = qobject_cast<DatabaseBlockView *>(row->kindView());
        QVERIFY(database && database->insertButton());
        QCOMPARE(database->insertButton()->text(), QStringLiteral("Insert database"));
    }
}

void TestBlockRow::todoCheckStrikesTheText()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("todo"), {{"text", "milk"}, {"checked", 1}});
    BlockRow *row = fx.addRow(block);
    QVERIFY(!row->richEditor()->strikethrough());
    QTest::mouseClick(row->todoBox(), Qt::LeftButton);
    QCOMPARE(fx.storedContent(block.localID), (JSONObject{{"text", "milk"}, {"checked", true}}));
    QVERIFY(row->richEditor()->strikethrough());
    QTest::mouseClick(row->todoBox(), Qt::LeftButton);
    QCOMPARE(fx.storedContent(block.localID).at("checked"), JSONValue(false));
    QVERIFY(!row->richEditor()->strikethrough());
}

void TestBlockRow::toggleOpensAndShowsItsBody()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("toggle"), {{"text", ""}});
    BlockRow *row = fx.addRow(block);
    int childBuilds = 0;
    row->setChildContent([&] {
        ++childBuilds;
        return new QLabel(QStringLiteral("children"));
    });
    QCOMPARE(row->plainEditor()->placeholderText(), QStringLiteral("Toggle summary"));
    QVERIFY(!row->toggleBodyField());
    QTest::mouseClick(row->toggleArrow(), Qt::LeftButton);
    QCOMPARE(fx.storedContent(block.localID).at("expanded"), JSONValue(true));
    QVERIFY(!row->toggleBodyField());
    QCOMPARE(childBuilds, 1);

    fx.store().upsertBlock([&] {
        FNBlock b = fx.stored(block.localID);
        b.contentJSON = *BlockContent::encode({{"text", ""}, {"expanded", true}, {"body", "notes"}});
        return b;
    }());
    QVERIFY(row->toggleBodyField());
    QCOMPARE(row->toggleBodyField()->placeholderText(), QStringLiteral("Hidden body..."));
    QCOMPARE(row->toggleBodyField()->toRawText(), QStringLiteral("notes"));
    // The hidden body is written on every keystroke; emptied, the field goes.
    row->toggleBodyField()->setFocus();
    QTextCursor cursor = row->toggleBodyField()->textCursor();
    cursor.movePosition(QTextCursor::End);
    row->toggleBodyField()->setTextCursor(cursor);
    QTest::keyClick(row->toggleBodyField(), Qt::Key_Backspace);
    QCOMPARE(fx.storedContent(block.localID).at("body"), JSONValue("note"));
    row->model().setToggleBody(QString());
    QVERIFY(!row->toggleBodyField());
    QCOMPARE(childBuilds, 1);
}

void TestBlockRow::calloutIcon_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("icon");
    QTest::newRow("none") << "{}" << QString::fromUtf8("💡");
    QTest::newRow("fire") << R"({"icon":"🔥"})" << QString::fromUtf8("🔥");
    QTest::newRow("number") << R"({"icon":5})" << QString::fromUtf8("💡");
    QTest::newRow("empty string") << R"({"icon":""})" << QString();
}

void TestBlockRow::calloutIcon()
{
    QFETCH(QString, content);
    QFETCH(QString, icon);
    EditorFixture fx;
    BlockRow *row = fx.addRow(fx.addBlock(QStringLiteral("callout"), BlockContent::decode(content)));
    QCOMPARE(row->calloutIcon()->text(), icon);
}

QTEST_MAIN(TestBlockRow)
#include "tst_block_row.moc"
