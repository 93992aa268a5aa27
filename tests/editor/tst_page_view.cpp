#include "editor/block_row.h"
#include "editor/editable_text.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

using EditorSteps::fastTiming;

} // namespace

// The page editor's traffic with the store and the service: block flushes, fetches of a page's
// blocks, titles and icons, and what opening a page leaves alone.
class TestPageView : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void flushIsDebounced();
    void offlineEditsReachTheService_data();
    void offlineEditsReachTheService();
    void fetchMergesWithoutDuplicatesWhilePushInFlight();
    void fetchAddsTheServiceBlocks();
    void fetchFailuresChangeNothing_data();
    void fetchFailuresChangeNothing();
    void earlyTitleReachesTheService_data();
    void earlyTitleReachesTheService();
    void iconSavedAtOnce();
    void openingQueuesNothing();
    void titleFollowsTheStore_data();
    void titleFollowsTheStore();
};

void TestPageView::initTestCase()
{
    QVERIFY(startService());
}

void TestPageView::init()
{
    openDevice();
}

void TestPageView::cleanup()
{
    closeDevice();
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

QTEST_MAIN(TestPageView)
#include "tst_page_view.moc"
