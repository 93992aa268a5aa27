#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/editable_text.h"
#include "editor/rich_text_editor.h"
#include "page_view_fixture.h"
#include "platform/app_events.h"
#include "platform/preset_confirmer.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

using EditorSteps::fastTiming;

} // namespace

// The page editor's toolbar and what it opens: block selection and its delete, the panels, and
// blocks dragged into a new order.
class TestPageViewToolbar : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void selectionDelete_data();
    void selectionDelete();
    void toolbar();
    void runAIPromptOpensThePanel();
    void dragAndDropReorders();
};

void TestPageViewToolbar::initTestCase()
{
    QVERIFY(startService());
}

void TestPageViewToolbar::init()
{
    openDevice();
}

void TestPageViewToolbar::cleanup()
{
    closeDevice();
}

void TestPageViewToolbar::selectionDelete_data()
{
    QTest::addColumn<int>("selected"); // of a (on the service), b (on the service), c (local only)
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("deletions");
    QTest::addColumn<int>("left");

    QTest::newRow("one block, no question") << 1 << true << "" << 1 << 2;
    QTest::newRow("three blocks, confirmed") << 3 << true << "Delete 3 blocks?" << 2 << 1;
    QTest::newRow("three blocks, cancelled") << 3 << false << "Delete 3 blocks?" << 0 << 3;
}

void TestPageViewToolbar::selectionDelete()
{
    QFETCH(int, selected);
    QFETCH(bool, confirm);
    QFETCH(QString, question);
    QFETCH(int, deletions);
    QFETCH(int, left);

    const FNPage page = syncedPage("Cleanup");
    const FNBlock a = m_device->addBlock(page.localID, "a", 0);
    const FNBlock b = m_device->addBlock(page.localID, "b", 1);
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    const FNBlock c = m_device->addBlock(page.localID, "c", 2);
    m_device->setToken(std::nullopt);

    auto view = openView(page.localID);
    QVERIFY(view);
    PresetConfirmer confirmer(confirm);
    view->setConfirmer(&confirmer);
    QTRY_VERIFY(view->row(c.localID));

    QVERIFY(!view->selectionBar()->isVisibleTo(view.get()));
    view->selectButton()->click();
    QVERIFY(view->selectionBar()->isVisibleTo(view.get()));
    QCOMPARE(view->selectButton()->toolTip(), QStringLiteral("Done selecting"));
    QVERIFY(!view->deleteSelectedButton()->isEnabled());
    const QStringList order{a.localID, c.localID, b.localID};
    for (int i = 0; i < selected; ++i)
        view->row(order[i])->selectBox()->click();
    QCOMPARE(view->selectionCount()->text(), QStringLiteral("%1 selected").arg(selected));
    QCOMPARE(view->deleteSelectedButton()->text(), QStringLiteral("Delete (%1)").arg(selected));
    QVERIFY(view->deleteSelectedButton()->isEnabled());

    view->deleteSelectedButton()->click();
    if (question.isEmpty()) {
        QVERIFY(confirmer.questions().isEmpty());
    } else {
        QCOMPARE(confirmer.questions().size(), 1);
        QCOMPARE(confirmer.questions()[0].title, question);
        QCOMPARE(confirmer.questions()[0].confirmLabel, QStringLiteral("Delete %1 blocks").arg(selected));
        QCOMPARE(confirmer.questions()[0].cancelLabel, QStringLiteral("Cancel"));
    }
    QCOMPARE(int(outboxOf("block", "delete").size()), deletions);
    QCOMPARE(int(m_device->liveBlocks(page.localID).size()), left);
    QCOMPARE(view->model().selectMode(), !confirm);
    QCOMPARE(view->model().selectedBlocks().isEmpty(), confirm);

    // Off by the toolbar: the selection goes with it.
    if (view->model().selectMode()) {
        view->selectButton()->click();
        QVERIFY(view->model().selectedBlocks().isEmpty());
        QCOMPARE(view->selectButton()->toolTip(), QStringLiteral("Select blocks to delete"));
    }
}

void TestPageViewToolbar::toolbar()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Tools");
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);

    QCOMPARE(view->selectButton()->toolTip(), QStringLiteral("Select blocks to delete"));
    QCOMPARE(view->exportButton()->toolTip(), QStringLiteral("Export / Template"));
    QCOMPARE(view->aiButton()->toolTip(), QStringLiteral("Derud AI"));
    QCOMPARE(view->commentsButton()->toolTip(), QStringLiteral("Comments"));
    QCOMPARE(view->suggestionsButton()->toolTip(), QStringLiteral("Suggestions"));
    QCOMPARE(view->shareButton()->toolTip(), QStringLiteral("Share"));
    QCOMPARE(view->publishButton()->toolTip(), QStringLiteral("Publish to web"));
    QCOMPARE(view->historyButton()->toolTip(), QStringLiteral("Version History"));
    QCOMPARE(view->titleField()->placeholderText(), QStringLiteral("Untitled"));
    QVERIFY(view->addBlockButton()->text().endsWith(QStringLiteral("Add block")));

    // Share, publish and history wait for the page to be on the service.
    for (QToolButton *button : {view->shareButton(), view->publishButton(), view->historyButton()})
        QVERIFY(!button->isEnabled());
    FNPage synced = *m_device->page(page.localID);
    synced.serverID = 99;
    m_device->store().upsertPage(synced);
    QTRY_VERIFY(view->shareButton()->isEnabled());
    QVERIFY(view->publishButton()->isEnabled() && view->historyButton()->isEnabled());
    QSignalSpy share(&view->model(), &PageViewModel::shareRequested);
    view->shareButton()->click();
    QCOMPARE(share.size(), 1);
    QVERIFY(view->model().showShare());

    // The panel buttons toggle.
    view->commentsButton()->click();
    QVERIFY(view->model().showComments());
    view->commentsButton()->click();
    QVERIFY(!view->model().showComments());

    // The page deleted while open: the title reads "Untitled" and the service actions go.
    m_device->store().markPageDeleted(page.localID);
    QTRY_VERIFY(!view->shareButton()->isEnabled());
    QCOMPARE(view->navigationTitle(), QStringLiteral("Untitled"));
    view->addBlockButton()->click();
    QCOMPARE(m_device->liveBlocks(page.localID).size(), size_t(1));
}

void TestPageViewToolbar::runAIPromptOpensThePanel()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "AI");
    PageViewModel model(context(), page.localID, fastTiming());
    m_device->events().postRunAIPrompt(QStringLiteral("Summarize this"));
    QVERIFY(model.showAI());
    QCOMPARE(model.aiSeedPrompt(), std::optional<QString>(QStringLiteral("Summarize this")));
    // Set, not toggled: a second prompt leaves it open.
    m_device->events().postRunAIPrompt(QString());
    QVERIFY(model.showAI());
    QCOMPARE(model.aiSeedPrompt(), std::nullopt);
}

void TestPageViewToolbar::dragAndDropReorders()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Drag");
    const FNBlock a = m_device->addBlock(page.localID, "a", 0);
    const FNBlock b = m_device->addBlock(page.localID, "b", 1);
    FNBlock toggle = m_device->addBlock(page.localID, "t", 2);
    toggle.type = QStringLiteral("toggle");
    toggle.contentJSON = QStringLiteral("{\"text\":\"t\",\"expanded\":true}");
    m_device->store().upsertBlock(toggle);
    FNBlock child = m_device->addBlock(page.localID, "child", 0);
    child.parentBlockLocalID = toggle.localID;
    m_device->store().upsertBlock(child);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    QTRY_VERIFY(view->row(child.localID)); // shown in the open toggle
    QTRY_VERIFY(view->isLaidOut());

    const auto order = [&] {
        QStringList out;
        for (const FNBlock &block : view->model().blocks().topLevelBlocks())
            out << block.localID;
        return out;
    };
    // The rows stand in the page's order, where the user sees them.
    const auto settled = [&] {
        int y = -1;
        for (const FNBlock &block : view->model().blocks().topLevelBlocks()) {
            QWidget *frame = view->rowFrame(block.localID);
            if (!frame || frame->y() <= y)
                return false;
            y = frame->y();
        }
        return true;
    };
    // As a drag arrives: entered, then dropped on the lower half of the row, or of a widget inside it.
    const auto dropOn = [&](QWidget *frame, QMimeData *mime) {
        QTest::qWaitFor(settled);
        const QPoint below(4, frame->height() - 4);
        QDragEnterEvent enter(below, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &enter);
        QDropEvent drop(below, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &drop);
        return drop.isAccepted();
    };

    // The payload of a row's drag is its block's localID.
    auto *modifier = view->rowFrame(a.localID)->findChild<DraggableBlockModifier *>();
    QVERIFY(modifier && modifier->isEnabled());
    std::unique_ptr<QMimeData> payload(modifier->makeMimeData());
    QCOMPARE(payload->text(), a.localID);
    QVERIFY(!DraggableBlockModifier::preview(view.get()).isNull());

    // a dropped below the toggle's row (index 2) lands after it.
    QVERIFY(dropOn(view->rowFrame(toggle.localID), payload.get()));
    QCOMPARE(order(), QStringList({b.localID, toggle.localID, a.localID}));
    QVERIFY(m_device->block(a.localID)->position > m_device->block(toggle.localID)->position);
    QVERIFY(view->model().isBlockFlushPending());

    // Plain text that names no block, and a drop without text.
    QMimeData stray;
    stray.setText(QStringLiteral("hello"));
    QVERIFY(dropOn(view->rowFrame(b.localID), &stray));
    QMimeData empty;
    QVERIFY(!dropOn(view->rowFrame(b.localID), &empty));
    QVERIFY(!modifier->drop({}));
    QVERIFY(modifier->drop({b.localID, a.localID})); // only the first is moved
    QCOMPARE(order(), QStringList({toggle.localID, a.localID, b.localID}));

    // A nested row takes no part, and a block drag is not text for the text views.
    auto *nested = view->rowFrame(child.localID)->findChild<DraggableBlockModifier *>();
    QVERIFY(nested && !nested->isEnabled());
    QVERIFY(!view->rowFrame(child.localID)->acceptDrops());
    RichTextEditor *editor = view->row(b.localID)->richEditor();
    QVERIFY(editor);
    QVERIFY(dropOn(editor->viewport(), payload.get())); // a, onto b's text (index 2)
    QCOMPARE(order(), QStringList({toggle.localID, b.localID, a.localID}));
    QCOMPARE(editor->toRawText(), QStringLiteral("b"));
}

QTEST_MAIN(TestPageViewToolbar)
#include "tst_page_view_toolbar.moc"
