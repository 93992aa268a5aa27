#include "api/api_client.h"
#include "api/wire/blocks.h"
#include "api/wire/pages.h"
#include "blocks/block_content.h"
#include "editor/auto_height_text_view.h"
#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/editable_text.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"
#include "editor_fixture.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "platform/app_events.h"
#include "platform/preset_confirmer.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString kBlocksPath = QStringLiteral("/api/blocks.php");

using EditorSteps::fastTiming;

QString textOf(const FNBlock &block)
{
    return BlockContent::readString(BlockContent::decode(block.contentJSON), QStringLiteral("text"));
}

QString textOf(const FakeServiceState::Block &block)
{
    return BlockContent::readString(block.content, QStringLiteral("text"));
}

// Lets timers of the given length run out; for checking that something did not happen.
bool letTimePass(std::chrono::milliseconds span)
{
    auto done = std::make_shared<bool>(false);
    QTimer::singleShot(span, QCoreApplication::instance(), [done] { *done = true; });
    return QTest::qWaitFor([done] { return *done; });
}

// Blocks of a page: kind, text, indent.
using BlockSpecs = QList<std::tuple<QString, QString, int>>;

// Where the next keystroke goes.
QWidget *keyboard()
{
    return QApplication::focusWidget();
}

// The kinds whose row edits text.
const QStringList &textKinds()
{
    static const QStringList kinds{"text", "h1",    "h2",      "h3",   "bullet", "number",
                                   "todo", "quote", "callout", "code", "toggle"};
    return kinds;
}

} // namespace

// The page editor over a device's store and engine, against the fake service.
class TestPageView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void flushIsDebounced();
    void offlineEditsReachTheService_data();
    void offlineEditsReachTheService();
    void selectionDelete_data();
    void selectionDelete();
    void fetchMergesWithoutDuplicatesWhilePushInFlight();
    void fetchAddsTheServiceBlocks();
    void fetchFailuresChangeNothing_data();
    void fetchFailuresChangeNothing();
    void earlyTitleReachesTheService_data();
    void earlyTitleReachesTheService();
    void iconSavedAtOnce();
    void toolbar();
    void runAIPromptOpensThePanel();
    void dragAndDropReorders();
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
    void lineBreakStaysInTheBlock_data();
    void lineBreakStaysInTheBlock();
    void tabIndents_data();
    void tabIndents();
    void openingQueuesNothing();
    void titleFollowsTheStore_data();
    void titleFollowsTheStore();
    void addBlockTakesTheTyping();
    void titleKeysGoOnToTheFirstBlock_data();
    void titleKeysGoOnToTheFirstBlock();

private:
    // A page of the given blocks (kind, text, indent), opened in an active window.
    struct Opened {
        std::unique_ptr<PageView> view;
        QStringList blocks;
    };
    Opened openActive(const QList<std::tuple<QString, QString, int>> &blocks);
    AppContext context();
    std::unique_ptr<PageView> openView(const QString &pageLocalID, bool waitForOpenTask = true);
    FNPage syncedPage(const QString &title);
    std::vector<FNSyncOp> outboxOf(const QString &entity, const QString &op) const;
    qint64 serverIDOf(const QString &pageLocalID) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
};

void TestPageView::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("page@example.com", "secret12", "Page");
}

void TestPageView::init()
{
    m_fake.setOffline(false);
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
}

void TestPageView::cleanup()
{
    m_device->engine().stopLoop();
    // A cycle still in flight ends with its device.
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

AppContext TestPageView::context()
{
    return m_device->context();
}

std::unique_ptr<PageView> TestPageView::openView(const QString &pageLocalID, bool waitForOpenTask)
{
    auto view = std::make_unique<PageView>(context(), pageLocalID, nullptr, fastTiming());
    QSignalSpy loaded(&view->model(), &PageViewModel::blocksLoaded);
    view->resize(700, 600);
    view->show();
    if (waitForOpenTask && loaded.isEmpty() && !loaded.wait(5000))
        return nullptr;
    return view;
}

FNPage TestPageView::syncedPage(const QString &title)
{
    const FNPage page = m_device->addPage(m_account.workspaceId, title);
    m_device->sync();
    return *m_device->page(page.localID);
}

std::vector<FNSyncOp> TestPageView::outboxOf(const QString &entity, const QString &op) const
{
    std::vector<FNSyncOp> out;
    for (const FNSyncOp &o : m_device->store().state().outbox) {
        if (o.entity == entity && o.op == op)
            out.push_back(o);
    }
    return out;
}

qint64 TestPageView::serverIDOf(const QString &pageLocalID) const
{
    const FNPage *page = m_device->page(pageLocalID);
    return page ? page->serverID : 0;
}

void TestPageView::flushIsDebounced()
{
    const FNPage page = syncedPage("Notes");
    m_device->addBlock(page.localID, "one", 0);
    m_device->setToken(std::nullopt); // the operations stay in the outbox to be counted
    PageViewModel model(context(), page.localID, fastTiming());
    for (int i = 0; i < 10; ++i)
        model.scheduleBlockFlush();
    QVERIFY(model.isBlockFlushPending());
    QVERIFY(outboxOf("block", "upsert").empty());
    QTRY_VERIFY(!model.isBlockFlushPending());
    QCOMPARE(outboxOf("block", "upsert").size(), size_t(1));

    // A page the service does not have yet queues nothing.
    const FNPage local = m_device->addPage(m_account.workspaceId, "Local");
    m_device->addBlock(local.localID, "two", 0);
    PageViewModel other(context(), local.localID, fastTiming());
    other.queueBlockUpserts();
    QCOMPARE(outboxOf("block", "upsert").size(), size_t(1));
}

void TestPageView::offlineEditsReachTheService_data()
{
    QTest::addColumn<bool>("pageOnService");
    QTest::newRow("page already on the service") << true;
    QTest::newRow("page made offline") << false;
}

void TestPageView::offlineEditsReachTheService()
{
    QFETCH(bool, pageOnService);

    // Retry waits pass at once: every reading of the clock is a minute later.
    auto now = std::make_shared<QDateTime>(QDateTime::currentDateTimeUtc());
    m_device->engine().setClock([now] { return *now = now->addSecs(61); });
    const FNPage page = pageOnService ? syncedPage("Trip") : FNPage();
    m_fake.setOffline(true);
    const QString pageLocalID =
        pageOnService ? page.localID : m_device->addPage(m_account.workspaceId, "Trip").localID;
    m_device->engine().start();

    auto view = openView(pageLocalID);
    QVERIFY(view);
    PageViewModel &model = view->model();
    // A page made here gets its first block; one on the service whose blocks could not be fetched
    // gets none until the user adds one.
    if (pageOnService) {
        QVERIFY(model.blocks().pageBlocks().empty());
        QVERIFY(model.appendBlock(QStringLiteral("text")));
    }
    QCOMPARE(model.blocks().pageBlocks().size(), size_t(1));
    const FNBlock first = model.blocks().pageBlocks().front();
    QTRY_VERIFY(view->row(first.localID));
    view->row(first.localID)->model().commitTextNow("first");
    model.insertBlockAfter(first);
    const FNBlock second = model.blocks().topLevelBlocks().back();
    QTRY_VERIFY(view->row(second.localID));
    view->row(second.localID)->model().commitTextNow("second");
    model.addChildBlock(first); // its parent has no server id yet
    const FNBlock child = model.blocks().childBlocks(first).front();
    m_device->setBlockText(child.localID, "inside");
    model.moveBlockOnDrop(second.localID, 0);
    QTRY_VERIFY(!model.isBlockFlushPending());

    m_fake.setOffline(false);
    const auto stored = [&] {
        const qint64 pageID = serverIDOf(pageLocalID);
        return pageID == 0 ? std::vector<FakeServiceState::Block>() : m_fake.storedBlocks(pageID);
    };
    QTRY_COMPARE_WITH_TIMEOUT(stored().size(), size_t(3), 10000);
    std::vector<FakeServiceState::Block> top;
    std::vector<FakeServiceState::Block> nested;
    for (const auto &b : stored())
        (b.parentBlockId == 0 ? top : nested).push_back(b);
    QCOMPARE(top.size(), size_t(2));
    QCOMPARE(textOf(top[0]), QStringLiteral("second"));
    QCOMPARE(textOf(top[1]), QStringLiteral("first"));
    QCOMPARE(nested.size(), size_t(1));
    QCOMPARE(textOf(nested[0]), QStringLiteral("inside"));
    QCOMPARE(nested[0].parentBlockId, top[1].id);
    QTRY_VERIFY(m_device->store().state().outbox.empty());
}

void TestPageView::selectionDelete_data()
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

void TestPageView::selectionDelete()
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

void TestPageView::fetchMergesWithoutDuplicatesWhilePushInFlight()
{
    const FNPage page = syncedPage("Race");
    const FNBlock block = m_device->addBlock(page.localID, "typed here", 0);
    QVERIFY(m_device->queueBlockUpsert(page.localID));

    // The service stores the block at once but its answer is slow.
    FakeService::Fault slow = FakeService::Fault::delay(400);
    slow.remaining = 1;
    m_fake.setFault(kBlocksPath, slow);
    m_device->engine().start();
    QTRY_VERIFY(!m_fake.requestsTo(kBlocksPath).isEmpty());
    QVERIFY(m_device->engine().isSyncing());
    QCOMPARE(m_fake.storedBlocks(page.serverID).size(), size_t(1));

    auto view = openView(page.localID);
    QVERIFY(view);
    const auto gets = m_fake.requestsTo(kBlocksPath);
    QVERIFY(std::any_of(gets.begin(), gets.end(), [](const HttpRequest &r) { return r.method == "GET"; }));
    const auto live = m_device->liveBlocks(page.localID);
    QCOMPARE(live.size(), size_t(1));
    QCOMPARE(live[0].localID, block.localID);
    QCOMPARE(live[0].serverID, m_fake.storedBlocks(page.serverID)[0].id);
}

void TestPageView::fetchAddsTheServiceBlocks()
{
    // Written by another device: this one has the page but not its blocks.
    const FNPage page = syncedPage("Shared");
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    QVERIFY(other.sync());
    const FNPage *there = other.pageWithServerID(page.serverID);
    QVERIFY(there);
    other.addBlock(there->localID, "from elsewhere", 0);
    QVERIFY(other.queueBlockUpsert(there->localID));
    QVERIFY(other.sync());
    m_device->setToken(m_account.token);

    auto view = openView(page.localID);
    QVERIFY(view);
    const auto live = m_device->liveBlocks(page.localID);
    QCOMPARE(live.size(), size_t(1));
    QCOMPARE(textOf(live[0]), QStringLiteral("from elsewhere"));
    QVERIFY(live[0].serverID != 0);
    QTRY_VERIFY(view->row(live[0].localID));
    QCOMPARE(view->row(live[0].localID)->richEditor()->toRawText(), QStringLiteral("from elsewhere"));

    // Opening it again adds nothing.
    view.reset();
    view = openView(page.localID);
    QVERIFY(view);
    QCOMPARE(m_device->liveBlocks(page.localID).size(), size_t(1));
}

void TestPageView::fetchFailuresChangeNothing_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("firstBlock");

    QTest::newRow("page not on the service") << "local" << 0 << true;
    QTest::newRow("no token") << "token" << 0 << false;
    QTest::newRow("server error") << "500" << 1 << false;
    QTest::newRow("offline") << "offline" << 0 << false;
}

void TestPageView::fetchFailuresChangeNothing()
{
    QFETCH(QString, failure);
    QFETCH(int, requests);
    QFETCH(bool, firstBlock);

    const FNPage page = failure == QLatin1String("local") ? m_device->addPage(m_account.workspaceId, "Here")
                                                          : syncedPage("There");
    // The service holds blocks of the page that this device has not fetched.
    if (failure != QLatin1String("local")) {
        TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
        QVERIFY(other.sync());
        const FNPage *there = other.pageWithServerID(page.serverID);
        QVERIFY(there);
        other.addBlock(there->localID, "first paragraph", 0);
        other.addBlock(there->localID, "second paragraph", 1);
        QVERIFY(other.queueBlockUpsert(there->localID));
        QVERIFY(other.sync());
    }
    if (failure == QLatin1String("token"))
        m_device->setToken(std::nullopt);
    if (failure == QLatin1String("500"))
        m_fake.setFault(kBlocksPath, FakeService::Fault::http(500, R"({"error":"down"})"));
    if (failure == QLatin1String("offline"))
        m_fake.setOffline(true);
    m_fake.clearRequests();

    auto view = openView(page.localID);
    QVERIFY(view);
    const auto calls = m_fake.requestsTo(kBlocksPath);
    QCOMPARE(int(std::count_if(calls.begin(), calls.end(),
                               [](const HttpRequest &r) { return r.method == "GET"; })),
             requests);
    const auto live = m_device->liveBlocks(page.localID);
    if (firstBlock) {
        // A page the service has never held gets its first block.
        QCOMPARE(live.size(), size_t(1));
        QCOMPARE(live[0].contentJSON, QStringLiteral("{\"text\":\"\"}"));
        return;
    }
    // Blocks this device could not load may be on the service: it makes none and sends nothing
    // that could stand in for them.
    QVERIFY(live.empty());
    view->model().flushPendingEdits();
    QVERIFY(outboxOf("block", "upsert").empty());
    view.reset();
    m_fake.setOffline(false);
    m_fake.clearFaults();
    m_device->setToken(m_account.token);
    QVERIFY(m_device->sync());
    view = openView(page.localID);
    QVERIFY(view);
    QStringList texts;
    for (const FNBlock &b : m_device->liveBlocks(page.localID))
        texts << textOf(b);
    QCOMPARE(texts, QStringList({"first paragraph", "second paragraph"}));
    QCOMPARE(m_fake.storedBlocks(page.serverID).size(), size_t(2));
}

void TestPageView::earlyTitleReachesTheService_data()
{
    QTest::addColumn<bool>("closeAtOnce");
    QTest::newRow("after the pause") << false;
    QTest::newRow("view closed before the pause ends") << true;
}

void TestPageView::earlyTitleReachesTheService()
{
    QFETCH(bool, closeAtOnce);

    // The page was just made: its create is queued, it has no server id yet.
    const FNPage page = m_device->addPage(m_account.workspaceId, "");
    auto view = openView(page.localID, false);
    QTest::keyClicks(view->titleField(), "Roadmap");
    QCOMPARE(m_device->page(page.localID)->title, QStringLiteral("Roadmap")); // the page changes at once
    QCOMPARE(view->navigationTitle(), QStringLiteral("Roadmap"));
    if (closeAtOnce)
        view.reset();

    m_device->engine().start();
    QTRY_VERIFY(serverIDOf(page.localID) != 0);
    QTRY_COMPARE(m_fake.state().pages[serverIDOf(page.localID)].title, QStringLiteral("Roadmap"));
    QTRY_VERIFY(outboxOf("page", "update").empty());
}

void TestPageView::iconSavedAtOnce()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Icons");
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    QCOMPARE(view->iconButton()->toolTip(), QStringLiteral("Add icon"));
    QSignalSpy picker(&view->model(), &PageViewModel::emojiPickerRequested);
    view->iconButton()->click();
    QCOMPARE(picker.size(), 1);

    view->model().setPageIcon(QStringLiteral("🎉"));
    QCOMPARE(view->iconButton()->toolTip(), QStringLiteral("Change icon"));
    QCOMPARE(view->iconButton()->text(), QStringLiteral("🎉"));
    QCOMPARE(m_device->page(page.localID)->icon, QStringLiteral("🎉"));
    view->model().setPageIcon(QString());
    QCOMPARE(view->iconButton()->toolTip(), QStringLiteral("Add icon"));

    // Each pick is its own operation, queued before the page has its id too.
    const auto updates = outboxOf("page", "update");
    QCOMPARE(updates.size(), size_t(2));
    QCOMPARE(updates[0].payloadJSON, QStringLiteral("{\"page_id\":0,\"icon\":\"🎉\"}"));
    QCOMPARE(updates[1].payloadJSON, QStringLiteral("{\"page_id\":0,\"icon\":\"\"}"));
}

void TestPageView::toolbar()
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

void TestPageView::runAIPromptOpensThePanel()
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

void TestPageView::dragAndDropReorders()
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

    const auto order = [&] {
        QStringList out;
        for (const FNBlock &block : view->model().blocks().topLevelBlocks())
            out << block.localID;
        return out;
    };
    // As a drag arrives: entered, then dropped (on the row, or on a widget inside it).
    const auto dropOn = [](QWidget *frame, QMimeData *mime) {
        QDragEnterEvent enter(QPoint(4, 4), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &enter);
        QDropEvent drop(QPointF(4, 4), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &drop);
        return drop.isAccepted();
    };

    // The payload of a row's drag is its block's localID.
    auto *modifier = view->rowFrame(a.localID)->findChild<DraggableBlockModifier *>();
    QVERIFY(modifier && modifier->isEnabled());
    std::unique_ptr<QMimeData> payload(modifier->makeMimeData());
    QCOMPARE(payload->text(), a.localID);
    QVERIFY(!DraggableBlockModifier::preview(view.get()).isNull());

    // a dropped on the toggle's row (index 2) lands after it.
    QVERIFY(dropOn(view->rowFrame(toggle.localID), payload.get()));
    QCOMPARE(order(), QStringList({b.localID, toggle.localID, a.localID}));
    QCOMPARE(m_device->block(a.localID)->position, qint64(2));
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

void TestPageView::focusLandsOnTheNewBlock()
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

TestPageView::Opened TestPageView::openActive(const QList<std::tuple<QString, QString, int>> &blocks)
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Keys");
    Opened opened;
    int position = 0;
    for (const auto &[kind, text, indent] : blocks) {
        FNBlock block = m_device->addBlock(page.localID, text, position++);
        block.type = kind;
        block.indentLevel = indent;
        m_device->store().upsertBlock(block);
        opened.blocks << block.localID;
    }
    m_device->setToken(std::nullopt); // the outbox keeps what is queued
    opened.view = openView(page.localID);
    if (!opened.view)
        return {};
    opened.view->activateWindow();
    QApplication::setActiveWindow(opened.view.get());
    if (!QTest::qWaitForWindowActive(opened.view.get()) ||
        !QTest::qWaitFor([&] { return opened.view->isLaidOut(); }))
        return {};
    return opened;
}

void TestPageView::slashPickByMouseTakesTheTyping_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString &kind : textKinds())
        QTest::newRow(qPrintable(kind)) << kind;
}

void TestPageView::slashPickByMouseTakesTheTyping()
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

void TestPageView::slashPickByKeyboardTakesTheTyping_data()
{
    slashPickByMouseTakesTheTyping_data();
}

void TestPageView::slashPickByKeyboardTakesTheTyping()
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

void TestPageView::slashPickWithoutTextMovesOnToTheNextBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("last");
    for (const char *kind : {"divider", "image", "math"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 before a block").arg(kind))) << kind << false;
        QTest::newRow(qPrintable(QStringLiteral("%1 as the last block").arg(kind))) << kind << true;
    }
}

void TestPageView::slashPickWithoutTextMovesOnToTheNextBlock()
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

void TestPageView::backspaceInAnEmptyBlockKeepsTheTyping_data()
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

void TestPageView::backspaceInAnEmptyBlockKeepsTheTyping()
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

void TestPageView::returnSplitsIntoANewBlock_data()
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
    QTest::newRow("start of text") << "text"
                                   << "hello" << 0 << ""
                                   << "text"
                                   << "hello";
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

void TestPageView::returnSplitsIntoANewBlock()
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

void TestPageView::lineBreakStaysInTheBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("Shift+Return in text") << "text" << int(Qt::ShiftModifier);
    QTest::newRow("Shift+Return in a bullet") << "bullet" << int(Qt::ShiftModifier);
    QTest::newRow("Return in code") << "code" << int(Qt::NoModifier);
    QTest::newRow("Shift+Return in code") << "code" << int(Qt::ShiftModifier);
}

void TestPageView::lineBreakStaysInTheBlock()
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

void TestPageView::tabIndents_data()
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

void TestPageView::tabIndents()
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

void TestPageView::openingQueuesNothing()
{
    const FNPage page = syncedPage("Read only");
    m_device->addBlock(page.localID, "words", 0);
    m_device->setToken(std::nullopt);
    const std::vector<FNSyncOp> before = m_device->store().state().outbox;
    const QDateTime stamped = m_device->page(page.localID)->updatedAt;

    auto view = openView(page.localID);
    QVERIFY(view);
    QCOMPARE(view->titleField()->toRawText(), QStringLiteral("Read only"));
    QVERIFY(letTimePass(fastTiming().title * 4));
    QVERIFY(outboxOf("page", "update").empty());
    QCOMPARE(m_device->store().state().outbox, before);
    QCOMPARE(m_device->page(page.localID)->updatedAt, stamped);

    // Nor is leaving it.
    view.reset();
    QVERIFY(letTimePass(fastTiming().blockFlush * 4));
    QCOMPARE(m_device->store().state().outbox, before);
}

void TestPageView::titleFollowsTheStore_data()
{
    QTest::addColumn<bool>("editing");
    QTest::newRow("not editing: the rename shows") << false;
    QTest::newRow("editing: the typing wins") << true;
}

void TestPageView::titleFollowsTheStore()
{
    QFETCH(bool, editing);
    auto opened = openActive({{"text", "x", 0}});
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    const QString pageID = view.pageLocalID();
    if (editing) {
        QVERIFY(EditorFixture::focusOn(view.titleField()));
        QTest::keyClick(keyboard(), Qt::Key_End);
        QTest::keyClicks(keyboard(), "!");
    }

    // A rename from the sidebar or pulled from another device.
    FNPage renamed = *m_device->page(pageID);
    renamed.title = QStringLiteral("Renamed");
    m_device->store().upsertPage(renamed);
    if (!editing) {
        QTRY_COMPARE(view.titleField()->toRawText(), QStringLiteral("Renamed"));
        QCOMPARE(view.navigationTitle(), QStringLiteral("Renamed"));
        QVERIFY(letTimePass(fastTiming().title * 4));
        QCOMPARE(m_device->page(pageID)->title, QStringLiteral("Renamed"));
        return;
    }
    QVERIFY(letTimePass(std::chrono::milliseconds(20)));
    QCOMPARE(view.titleField()->toRawText(), QStringLiteral("Keys!"));
    QTest::keyClicks(keyboard(), "?");
    QCOMPARE(m_device->page(pageID)->title, QStringLiteral("Keys!?"));
}

void TestPageView::addBlockTakesTheTyping()
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

void TestPageView::titleKeysGoOnToTheFirstBlock_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Tab") << int(Qt::Key_Tab);
}

void TestPageView::titleKeysGoOnToTheFirstBlock()
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

QTEST_MAIN(TestPageView)
#include "tst_page_view.moc"
