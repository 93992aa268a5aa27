#include "api/wire/blocks.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "library/library_creator.h"
#include "library/library_row_editor.h"
#include "store/create_adoption.h"
#include "store/outbox.h"
#include "support/app_harness.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(FakeService::Fault)

// Faults between the device and the service never lose an edit and never make a second copy.
class TestSyncFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void newerEditWaitsForOlderOne_data();
    void newerEditWaitsForOlderOne();
    void lostCreateReplyIsAdopted_data();
    void lostCreateReplyIsAdopted();
    void lostLookAlikeCreatesAdoptOneEach();
    void renameAroundLostCreateReplyIsKept_data();
    void renameAroundLostCreateReplyIsKept();
    void lostBlockReplyIsAdoptedFromEcho();
    void resentBlockUpsertKeepsTheOtherDevicesLaterEdit();
    void lostUpsertKeepsOnlyItemsTheServiceDoesNotHold();
    void echoCopyMadeBeforeAckIsDropped();
    void blocksOfPageClosedBeforeItsIdReachService();
    void createOutAtQuitIsAdoptedAtTheNextLaunch();
    void unansweredOnlyWhenTheRequestLeft_data();
    void unansweredOnlyWhenTheRequestLeft();
    void lostAnswerOnAKeptConnectionMakesOneRecord_data();
    void lostAnswerOnAKeptConnectionMakesOneRecord();

private:
    std::unique_ptr<TestDevice> device();
    void advancePastRetries(TestDevice &d);
    // A's page and its blocks on the service, and on B too.
    static bool shareBlocks(TestDevice &a, TestDevice &b, const QString &pageLocalID)
    {
        return a.sync() && a.queueBlockUpsert(pageLocalID) && a.sync() && b.sync();
    }
    int servicePagesTitled(const QString &title) const;
    std::vector<FakeServiceState::Block> serviceBlocks(TestDevice &d, const QString &pageLocalID) const;

    QDateTime m_now;
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestSyncFaults::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("faults@example.com", "secret12", "Faults");
}

void TestSyncFaults::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
}

std::unique_ptr<TestDevice> TestSyncFaults::device()
{
    auto d = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    d->engine().setClock([this] { return m_now; });
    return d;
}

void TestSyncFaults::advancePastRetries(TestDevice &d)
{
    for (const FNSyncOp &op : d.store().state().outbox) {
        if (op.nextRetryAt && *op.nextRetryAt > m_now)
            m_now = *op.nextRetryAt;
    }
}

int TestSyncFaults::servicePagesTitled(const QString &title) const
{
    int n = 0;
    for (const auto &[id, page] : const_cast<FakeService &>(m_fake).state().pages)
        n += page.title == title ? 1 : 0;
    return n;
}

std::vector<FakeServiceState::Block> TestSyncFaults::serviceBlocks(TestDevice &d,
                                                                   const QString &pageLocalID) const
{
    return m_fake.storedBlocks(d.page(pageLocalID)->serverID);
}

void TestSyncFaults::newerEditWaitsForOlderOne_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::newRow("server error") << FakeService::Fault::http(500, "{}");
    QTest::newRow("too many requests") << FakeService::Fault::http(429, "{}");
    QTest::newRow("dropped connection") << FakeService::Fault::drop();
    QTest::newRow("applied, reply lost") << FakeService::Fault::applyThenDrop();
}

void TestSyncFaults::newerEditWaitsForOlderOne()
{
    QFETCH(FakeService::Fault, fault);
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Untitled");
    QVERIFY(d->sync());
    const qint64 id = d->page(page.localID)->serverID;

    PagePatchReq draft;
    draft.title = QStringLiteral("Draft title");
    d->queuePageUpdate(page.localID, draft);
    fault.remaining = 1;
    m_fake.setFault("/api/pages.php", fault);
    d->sync(); // the draft fails and waits out its back-off

    PagePatchReq final;
    final.title = QStringLiteral("Final title");
    d->queuePageUpdate(page.localID, final);
    d->sync(); // the draft's wait is not over: the final title must not overtake it
    for (int i = 0; i < 3 && !d->store().state().outbox.empty(); ++i) {
        advancePastRetries(*d);
        QVERIFY(d->sync());
    }
    QVERIFY(d->store().state().outbox.empty());
    QVERIFY(d->sync());
    QCOMPARE(m_fake.state().pages.at(id).title, QStringLiteral("Final title"));
    QCOMPARE(d->page(page.localID)->title, QStringLiteral("Final title"));
}

void TestSyncFaults::lostCreateReplyIsAdopted_data()
{
    QTest::addColumn<bool>("pullFails"); // else the same cycle's pull brings the page back
    QTest::addColumn<bool>("lookAlike"); // another device made a page just like it a moment before
    QTest::newRow("adopted from the pull") << false << false;
    QTest::newRow("adopted from the listing before a second create") << true << false;
    QTest::newRow("own page, not an older look-alike, from the pull") << false << true;
    QTest::newRow("own page, not an older look-alike, from the listing") << true << true;
}

void TestSyncFaults::lostCreateReplyIsAdopted()
{
    QFETCH(bool, pullFails);
    QFETCH(bool, lookAlike);
    const QString title = QStringLiteral("Once ") + QLatin1String(QTest::currentDataTag());
    qint64 otherID = 0;
    if (lookAlike) {
        TestDevice other(m_fake.origin(), m_account.token);
        const FNPage theirs = other.addPage(m_account.workspaceId, title);
        QVERIFY(other.sync());
        otherID = other.page(theirs.localID)->serverID;
        // Made well before this device's create went out.
        const QDateTime before = FakeService::now().addSecs(-60);
        m_fake.state().pages[otherID].createdAt = before;
        for (FakeServiceState::SyncEntry &entry : m_fake.state().syncLog) {
            if (entry.entityType == QLatin1String("page") && entry.entityId == otherID)
                entry.payload[QStringLiteral("created_at")] = FakeService::timestamp(before);
        }
    }
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, title);
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault("/api/pages.php", lost);
    if (pullFails)
        m_fake.setFault("/api/sync.php", FakeService::Fault::http(503, "{}"));
    d->sync();
    m_fake.clearFault("/api/sync.php");
    advancePastRetries(*d);
    QVERIFY(d->sync());
    QVERIFY(d->sync());

    QCOMPARE(servicePagesTitled(title), lookAlike ? 2 : 1);
    int local = 0;
    for (const FNPage &p : d->store().state().pages)
        local += p.title == title ? 1 : 0;
    QCOMPARE(local, lookAlike ? 2 : 1);
    QVERIFY(d->page(page.localID)->serverID != 0);
    QVERIFY(d->page(page.localID)->serverID != otherID);
    QVERIFY(d->store().state().outbox.empty());
}

void TestSyncFaults::lostLookAlikeCreatesAdoptOneEach()
{
    // Two pages made alike, both creates unanswered, each sent in its own window; the listing shows
    // an older look-alike from another device and the two pages the creates made.
    auto d = device();
    const FNPage first = d->addPage(m_account.workspaceId, "Twin");
    const FNPage second = d->addPage(m_account.workspaceId, "Twin");
    const QDateTime t0(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    d->store().changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            op.unanswered = true;
            const QDateTime from = t0.addSecs(op.refLocalID == first.localID ? 0 : 30);
            noteUnansweredSend(op, from, from.addMSecs(300), 0);
        }
    });
    const auto listed = [&](qint64 id, int secs) {
        return ListedPage{id, m_account.workspaceId, 0, "Twin", 0, t0.addSecs(secs)};
    };
    const QHash<qint64, QString> picks =
        pageAdoptions(d->store(), {listed(7, -60), listed(31, 30), listed(30, 0)});
    QCOMPARE(picks.size(), 2);
    QCOMPARE(picks.value(30), first.localID);
    QCOMPARE(picks.value(31), second.localID);

    // Made within the same seconds, neither can be told from the other: both are sent again.
    QVERIFY(pageAdoptions(d->store(), {listed(30, 0), listed(32, 1)}).isEmpty());
    // Nor is one without a creation time taken.
    QVERIFY(pageAdoptions(d->store(), {ListedPage{30, m_account.workspaceId, 0, "Twin", 0, {}}}).isEmpty());
}

void TestSyncFaults::renameAroundLostCreateReplyIsKept_data()
{
    QTest::addColumn<bool>("whileOut"); // else after the device saw the create fail
    QTest::newRow("renamed after the failure") << false;
    QTest::newRow("renamed while the create is out") << true;
}

void TestSyncFaults::renameAroundLostCreateReplyIsKept()
{
    QFETCH(bool, whileOut);
    const QString before = QStringLiteral("Before ") + QLatin1String(QTest::currentDataTag());
    const QString after = QStringLiteral("After ") + QLatin1String(QTest::currentDataTag());
    auto d = device();
    LibraryRowEditor rows(d->store(), d->engine());
    const FNPage page = d->addPage(m_account.workspaceId, before);
    const auto rename = [&] {
        rows.beginPageRename(page.localID);
        rows.commitPageRename(page.localID, after);
    };
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    lost.delayMs = whileOut ? 150 : 0;
    m_fake.setFault("/api/pages.php", lost);
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(503, "{}"));
    if (whileOut)
        QTimer::singleShot(50, this, rename);
    d->sync();
    m_fake.clearFaults();
    if (!whileOut)
        rename(); // before the device learns that its create went through
    QTRY_VERIFY(!d->engine().isSyncing());
    for (int i = 0; i < 3; ++i) {
        advancePastRetries(*d);
        d->sync();
    }
    QVERIFY(d->store().state().outbox.empty());
    QCOMPARE(servicePagesTitled(before), 0);
    QCOMPARE(servicePagesTitled(after), 1);
    QCOMPARE(d->page(page.localID)->title, after);
}

void TestSyncFaults::lostBlockReplyIsAdoptedFromEcho()
{
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Echo");
    QVERIFY(d->sync());
    const FNBlock typed = d->addBlock(page.localID, "one typed block", 0);
    QVERIFY(d->queueBlockUpsert(page.localID));
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault("/api/blocks.php", lost);
    d->sync(); // the upsert lands, its reply does not; the pull brings the block back

    QCOMPARE(d->liveBlocks(page.localID).size(), size_t(1));
    QVERIFY(d->block(typed.localID)->serverID != 0);

    d->setBlockText(typed.localID, "edited after");
    QVERIFY(d->queueBlockUpsert(page.localID));
    advancePastRetries(*d);
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    const auto stored = serviceBlocks(*d, page.localID);
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored[0].id, d->block(typed.localID)->serverID);
    QCOMPARE(stored[0].content.at(QStringLiteral("text")).toString(), QStringLiteral("edited after"));
}

void TestSyncFaults::resentBlockUpsertKeepsTheOtherDevicesLaterEdit()
{
    auto a = device();
    auto b = device();
    const FNPage page = a->addPage(m_account.workspaceId, "Shared");
    const FNBlock block = a->addBlock(page.localID, "first", 0);
    QVERIFY(shareBlocks(*a, *b, page.localID));

    // A's edit lands but its reply is lost.
    a->setBlockText(block.localID, "edited on A");
    QVERIFY(a->queueBlockUpsert(page.localID));
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault("/api/blocks.php", lost);
    a->sync();
    // The pull of the same cycle shows the service holding it as sent: nothing waits to go again.
    QVERIFY(a->store().state().outbox.empty());

    // B sees A's edit, and writes over it.
    QVERIFY(b->sync());
    const qint64 serverID = a->block(block.localID)->serverID;
    QVERIFY(b->store().blockWithServerID(serverID));
    const FNBlock there = *b->store().blockWithServerID(serverID);
    QCOMPARE(TestDevice::textOf(there), QStringLiteral("edited on A"));
    b->setBlockText(there.localID, "edited on B");
    QVERIFY(b->queueBlockUpsert(there.pageLocalID));
    QVERIFY(b->sync());

    // A's upsert goes again: the block B wrote after seeing A's edit must keep B's text.
    advancePastRetries(*a);
    QVERIFY(a->sync());
    QVERIFY(b->sync());
    QCOMPARE(m_fake.state().blocks.at(serverID).content.at(QStringLiteral("text")).toString(),
             QStringLiteral("edited on B"));
    QCOMPARE(TestDevice::textOf(*a->block(block.localID)), QStringLiteral("edited on B"));
}

void TestSyncFaults::lostUpsertKeepsOnlyItemsTheServiceDoesNotHold()
{
    auto a = device();
    auto b = device();
    const FNPage page = a->addPage(m_account.workspaceId, "Two blocks");
    const FNBlock x = a->addBlock(page.localID, "x", 0);
    const FNBlock y = a->addBlock(page.localID, "y", 1);
    QVERIFY(shareBlocks(*a, *b, page.localID));

    // A's edit of both lands, its reply is lost, and no pull follows in that cycle.
    a->setBlockText(x.localID, "x on A");
    a->setBlockText(y.localID, "y on A");
    QVERIFY(a->queueBlockUpsert(page.localID));
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault("/api/blocks.php", lost);
    // The pull before the push goes through; the one after it fails.
    auto failedPull = FakeService::Fault::http(503, "{}");
    failedPull.skip = 1;
    m_fake.setFault("/api/sync.php", failedPull);
    a->sync();
    m_fake.clearFaults();
    QTRY_VERIFY(!a->engine().isSyncing());

    // B writes Y over it before A pulls.
    QVERIFY(b->sync());
    const FNBlock there = *b->store().blockWithServerID(a->block(y.localID)->serverID);
    b->setBlockText(there.localID, "y on B");
    QVERIFY(b->queueBlockUpsert(there.pageLocalID));
    QVERIFY(b->sync());

    // A's pull finds X as A sent it, and Y as A sent it before B wrote over it: both landed, and
    // nothing goes again over B's edit.
    QVERIFY(a->sync());
    QVERIFY(a->store().state().outbox.empty());
    QVERIFY(b->sync());
    const auto serviceText = [&](const QString &localID) {
        return m_fake.state()
            .blocks.at(a->block(localID)->serverID)
            .content.at(QStringLiteral("text"))
            .toString();
    };
    QCOMPARE(serviceText(x.localID), QStringLiteral("x on A"));
    QCOMPARE(serviceText(y.localID), QStringLiteral("y on B"));
    QCOMPARE(TestDevice::textOf(*a->block(y.localID)), QStringLiteral("y on B"));
    QCOMPARE(TestDevice::textOf(*b->block(there.localID)), QStringLiteral("y on B"));
}

void TestSyncFaults::echoCopyMadeBeforeAckIsDropped()
{
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Copy");
    QVERIFY(d->sync());
    const FNBlock typed = d->addBlock(page.localID, "mine", 0);
    QVERIFY(d->queueBlockUpsert(page.localID));
    QVERIFY(d->sync());
    const qint64 serverID = d->block(typed.localID)->serverID;

    // A copy the pull made of the block while its upsert's reply was still out, as a build that did
    // not read the echo's client id did; then the block goes out again without its id.
    FNBlock copy = *d->block(typed.localID);
    copy.localID = newLocalID();
    d->store().change([&](StoreState &s) { s.blocks.push_back(copy); });
    FNBlock unsent = *d->block(typed.localID);
    unsent.serverID = 0;
    d->store().upsertBlock(unsent);
    BlocksUpsertReq req;
    req.page_id = d->page(page.localID)->serverID;
    BlockUpsertItem item;
    item.client_id = typed.localID;
    item.type = QStringLiteral("text");
    item.content = parseJSONObject(typed.contentJSON.toUtf8());
    req.blocks.push_back(item);
    d->queueRaw("block", "upsert", page.localID, QString::fromUtf8(sharedJSONEncode(req)));
    QVERIFY(d->sync());

    int holders = 0;
    for (const FNBlock &b : d->store().state().blocks)
        holders += b.serverID == serverID ? 1 : 0;
    QCOMPARE(holders, 1);
    QCOMPARE(d->block(typed.localID)->serverID, serverID);
}

void TestSyncFaults::blocksOfPageClosedBeforeItsIdReachService()
{
    auto d = device();
    m_fake.setOffline(true);
    const FNPage page = d->addPage(m_account.workspaceId, "Written offline");
    d->addBlock(page.localID, "first", 0);
    d->addBlock(page.localID, "second", 1);
    d->sync();
    m_fake.setOffline(false);
    // The page was closed: nothing but the create is queued.
    for (int i = 0; i < 3; ++i) {
        advancePastRetries(*d);
        QVERIFY(d->sync());
    }
    QVERIFY(d->store().state().outbox.empty());
    const auto stored = serviceBlocks(*d, page.localID);
    QCOMPARE(stored.size(), size_t(2));
    QCOMPARE(stored[0].content.at(QStringLiteral("text")).toString(), QStringLiteral("first"));
    QCOMPARE(stored[1].content.at(QStringLiteral("text")).toString(), QStringLiteral("second"));
}

void TestSyncFaults::createOutAtQuitIsAdoptedAtTheNextLaunch()
{
    const QString title = QStringLiteral("Written just before quitting");
    AppDevice device(m_fake.origin());
    FNPage page;
    page.workspaceServerID = m_account.workspaceId;
    page.title = title;
    {
        AppHarness app(device);
        app.services.setToken(m_account.token);
        app.queuePageCreate(page);
        m_fake.setFault("/api/pages.php", FakeService::Fault::delay(30000));
        app.engine.syncNow();
        // The service made the page; its answer is still on the way when the app quits.
        QTRY_COMPARE(servicePagesTitled(title), 1);
    }
    m_fake.clearFaults();

    AppHarness relaunched(device);
    relaunched.session.restoreSession();
    QCOMPARE(relaunched.store.state().outbox.size(), size_t(1));
    QVERIFY(relaunched.store.state().outbox[0].unanswered);
    QVERIFY(runTask(relaunched.engine.syncNow()).ok());
    QCOMPARE(servicePagesTitled(title), 1);
    QVERIFY(relaunched.storedPage(page.localID).serverID != 0);
    QVERIFY(relaunched.store.state().outbox.empty());
}

void TestSyncFaults::unansweredOnlyWhenTheRequestLeft_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("unanswered");
    QTest::newRow("connection refused") << "refused" << false;
    QTest::newRow("no network until the time-out") << "offline" << false;
    QTest::newRow("connection never opens") << "stalled" << false;
    QTest::newRow("no answer before the time-out") << "silent" << true;
}

void TestSyncFaults::unansweredOnlyWhenTheRequestLeft()
{
    QFETCH(QString, how);
    QFETCH(bool, unanswered);
    // A listener whose one-place queue is taken: the kernel drops the next connection's opening.
    QTcpServer stalled;
    stalled.setListenBacklogSize(0);
    QVERIFY(stalled.listen(QHostAddress::LocalHost));
    stalled.pauseAccepting();
    QTcpSocket queued;
    queued.connectToHost(QHostAddress::LocalHost, stalled.serverPort());
    QVERIFY(queued.waitForConnected(5000));

    QString origin = m_fake.origin();
    if (how == QLatin1String("refused"))
        origin = kNoServiceOrigin;
    else if (how == QLatin1String("stalled"))
        origin = QStringLiteral("http://127.0.0.1:%1").arg(stalled.serverPort());
    TestDevice d(origin, m_account.token);
    d.client().transport().setTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(600));
    if (how == QLatin1String("offline"))
        d.connectivity().report(false);
    if (how == QLatin1String("silent"))
        m_fake.setFault("/api/pages.php", FakeService::Fault::delay(30000));
    d.addPage(m_account.workspaceId, QStringLiteral("Sent ") + how);
    d.sync();

    QCOMPARE(d.store().state().outbox.size(), size_t(1));
    const FNSyncOp op = d.store().state().outbox[0];
    QCOMPARE(op.attempts, qint64(1));
    // Each but the refused one ended at the time-out.
    QCOMPARE(op.lastError == QStringLiteral("The request timed out."), how != QLatin1String("refused"));
    QCOMPARE(op.unanswered, unanswered);
    QCOMPARE(bool(op.unansweredSends), unanswered);
}

void TestSyncFaults::lostAnswerOnAKeptConnectionMakesOneRecord_data()
{
    QTest::addColumn<bool>("folder"); // else a page
    QTest::newRow("folder") << true;
    QTest::newRow("page") << false;
}

// The create reaches the service on a connection kept from the request before; the link goes down
// before its answer, and libcurl's try on a fresh connection is refused. It may have landed.
void TestSyncFaults::lostAnswerOnAKeptConnectionMakesOneRecord()
{
    QFETCH(bool, folder);
    static int accounts = 0;
    const auto account =
        m_fake.createAccount(QStringLiteral("kept%1@example.com").arg(++accounts), "secret12", "Kept");
    auto d = deviceInWorkspace(m_fake, account);
    d->engine().setClock([this] { return m_now; });
    LibraryCreator creator(d->store(), d->engine(), nullptr);
    QVERIFY(d->sync());
    const int connections = m_fake.server().acceptedConnections();
    const QString path = folder ? QStringLiteral("/api/folders.php") : QStringLiteral("/api/pages.php");
    auto lost = FakeService::Fault::applyThenGoOffline();
    lost.method = "POST";
    lost.remaining = 1;
    m_fake.setFault(path, lost);
    d->engine().setQueueDelay(std::chrono::hours(1)); // sent by the test's cycle alone
    // Named, as only a named create can be told from a look-alike in the listing: made and renamed
    // in the sidebar before its create goes.
    QString localID;
    LibraryRowEditor editor(d->store(), d->engine());
    if (folder) {
        localID = *creator.createFolder(std::nullopt);
        editor.commitFolderRename(localID, QStringLiteral("Taxes"));
    } else {
        localID = *creator.createPage(std::nullopt, std::nullopt);
        editor.commitPageRename(localID, QStringLiteral("Taxes"));
    }
    m_fake.clearRequests();
    d->sync();
    QCOMPARE(m_fake.server().acceptedConnections(), connections); // it went on the kept one
    QCOMPARE(m_fake.requestsTo(path).size(), 1);
    QCOMPARE(d->store().state().outbox.front().unanswered, true);

    m_fake.setOffline(false);
    advancePastRetries(*d);
    QVERIFY(d->sync());
    QVERIFY(d->sync());
    const auto &state = m_fake.state();
    int onService = 0;
    if (folder) {
        for (const auto &[id, f] : state.folders)
            onService += f.workspaceId == account.workspaceId ? 1 : 0;
        QVERIFY(d->store().folder(localID)->serverID != 0);
        QCOMPARE(d->store().state().folders.size(), size_t(1));
    } else {
        for (const auto &[id, p] : state.pages)
            onService += p.workspaceId == account.workspaceId ? 1 : 0;
        QVERIFY(d->page(localID)->serverID != 0);
        QCOMPARE(d->store().state().pages.size(), size_t(1));
    }
    QCOMPARE(onService, 1);
    // One look at the listing, and the create not sent again.
    QCOMPARE(requestsWith(m_fake, path, "GET").size(), size_t(1));
    QCOMPARE(requestsWith(m_fake, path, "POST").size(), size_t(1));
    QVERIFY(d->store().state().outbox.empty());
}

QTEST_MAIN(TestSyncFaults)
#include "tst_sync_faults.moc"
