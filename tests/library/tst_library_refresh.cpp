#include "api/api_client.h"
#include "editor/page_view_model.h"
#include "fake-service/fake_service.h"
#include "library/library_creator.h"
#include "library/library_refresher.h"
#include "library/library_tree.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kFolders = QStringLiteral("/api/folders.php");
const QString kPages = QStringLiteral("/api/pages.php");
const QString kStatuses = QStringLiteral("/api/page-status.php");
const QString kWorkspaces = QStringLiteral("/api/workspaces.php");

} // namespace

// The sidebar's refresh from the service, over loopback, with the fake service staging the races.
class TestLibraryRefresh : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void workspaceLoads();
    void failedOrEmptyWorkspaceLoadLoadsNothingElse_data();
    void failedOrEmptyWorkspaceLoadLoadsNothingElse();
    void folderMerge();
    void pageMerge();
    void statusesReplaceTheMapOrStay_data();
    void statusesReplaceTheMapOrStay();
    void folderCreateInFlightIsNeitherCopiedNorSentTwice();
    void folderCreatedDuringAListReadIsNotDeleted();
    void pageCreatedDuringAListReadIsNotCopied();
    void pollingSkipsCyclesWhileRenamingAndStops();
    void pagesMergeAlikeInTurnsOrAtOnce_data();
    void pagesMergeAlikeInTurnsOrAtOnce();
    void titleWaitingToBeSentIsKept_data();
    void titleWaitingToBeSentIsKept();
    void listingReadBeforeAPullLeavesWhatThePullBrought();
    void listingAnsweredAfterSignOutIsDropped();
    void queuedFolderCreateHoldsBackNothingWhileNoSyncRuns();

private:
    // A fresh account (its own workspace) and a device signed in to it.
    void signIn();
    qint64 seedFolder(const QString &name, qint64 parent = 0, const QString &icon = QString());
    qint64 seedPage(const QString &title, qint64 folder = 0);
    int count(const QString &path, const QByteArray &method) const
    {
        return int(requestsWith(m_fake, path, method).size());
    }
    std::vector<FNFolder> foldersNamed(const QString &name) const;
    size_t serverFolders() const;
    size_t serverPages() const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<LibraryCreator> m_creator;
    std::unique_ptr<LibraryRefresher> m_refresher;
    int m_accounts = 0;
};

void TestLibraryRefresh::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryRefresh::init()
{
    m_fake.clearFaults();
    signIn();
    m_fake.clearRequests();
}

void TestLibraryRefresh::cleanup()
{
    m_refresher.reset();
    m_creator.reset();
    m_device.reset();
}

void TestLibraryRefresh::signIn()
{
    m_account =
        m_fake.createAccount(QStringLiteral("lib%1@example.com").arg(++m_accounts), "secret12", "Lib");
    m_device = deviceInWorkspace(m_fake, m_account, QStringLiteral("Mine"));
    m_creator = std::make_unique<LibraryCreator>(m_device->store(), m_device->engine(), nullptr);
    m_refresher = std::make_unique<LibraryRefresher>(m_device->store(), m_device->client(),
                                                     m_device->engine(), *m_creator);
}

qint64 TestLibraryRefresh::seedFolder(const QString &name, qint64 parent, const QString &icon)
{
    FakeServiceState &s = m_fake.state();
    FakeServiceState::Folder f;
    f.id = s.nextFolderId++;
    f.workspaceId = m_account.workspaceId;
    f.parentFolderId = parent;
    f.name = name;
    f.icon = icon;
    f.position = f.id;
    f.createdAt = f.updatedAt = QDateTime::currentDateTimeUtc();
    s.folders[f.id] = f;
    return f.id;
}

qint64 TestLibraryRefresh::seedPage(const QString &title, qint64 folder)
{
    FakeServiceState &s = m_fake.state();
    FakeServiceState::Page p;
    p.id = s.nextPageId++;
    p.workspaceId = m_account.workspaceId;
    p.folderId = folder;
    p.title = title;
    p.position = p.id;
    p.createdByUserId = m_account.userId;
    p.createdAt = p.updatedAt = QDateTime::currentDateTimeUtc();
    s.pages[p.id] = p;
    return p.id;
}

size_t TestLibraryRefresh::serverFolders() const
{
    const auto &all = const_cast<FakeService &>(m_fake).state().folders;
    return size_t(std::count_if(all.begin(), all.end(), [&](const auto &e) {
        return e.second.workspaceId == m_account.workspaceId;
    }));
}

size_t TestLibraryRefresh::serverPages() const
{
    const auto &all = const_cast<FakeService &>(m_fake).state().pages;
    return size_t(std::count_if(all.begin(), all.end(), [&](const auto &e) {
        return e.second.workspaceId == m_account.workspaceId;
    }));
}

std::vector<FNFolder> TestLibraryRefresh::foldersNamed(const QString &name) const
{
    std::vector<FNFolder> out;
    for (const FNFolder &f : m_device->store().state().folders) {
        if (f.name == name)
            out.push_back(f);
    }
    return out;
}

void TestLibraryRefresh::workspaceLoads()
{
    LocalStore &store = m_device->store();
    store.setWorkspaces({});
    // A second workspace the user was invited to.
    FakeServiceState &s = m_fake.state();
    FakeServiceState::Workspace shared{s.nextWorkspaceId++, QStringLiteral("Shared"), 9999,
                                       QDateTime::currentDateTimeUtc()};
    s.workspaces[shared.id] = shared;
    s.memberships.push_back(
        {shared.id, m_account.userId, QStringLiteral("editor"), QDateTime::currentDateTimeUtc()});
    seedFolder(QStringLiteral("Folder"));

    // No workspace known: the one-shot refresh loads the list first, then the first workspace's lists.
    m_refresher->startRefresh();
    QTRY_COMPARE(store.state().folders.size(), size_t(1));
    QCOMPARE(store.state().workspaces.size(), size_t(2));
    QCOMPARE(store.currentWorkspaceServerID(), m_account.workspaceId);
    const FNWorkspace &second = store.state().workspaces[1];
    QCOMPARE(second.name, QStringLiteral("Shared"));
    QCOMPARE(second.role, QStringLiteral("editor"));
    QCOMPARE(second.ownerUserID, qint64(9999));
    QTRY_COMPARE(count(kPages, "GET"), 1);
    QCOMPARE(count(kStatuses, "GET"), 1);

    // Each load gives new local ids; the current workspace stays while listed, else the first takes over.
    const QString before = store.state().workspaces[0].localID;
    store.changeOutsideRecords([&](StoreState &st) { st.currentWorkspaceID = shared.id; });
    QVERIFY(runTask(m_refresher->loadWorkspaces()).ok());
    QVERIFY(store.state().workspaces[0].localID != before);
    QCOMPARE(store.currentWorkspaceServerID(), shared.id);
    std::erase_if(s.memberships, [&](const auto &m) { return m.workspaceId == shared.id; });
    QVERIFY(runTask(m_refresher->loadWorkspaces()).ok());
    QCOMPARE(store.state().currentWorkspaceID, m_account.workspaceId);

    // With a workspace known, the one-shot refresh does not ask for the list.
    m_fake.clearRequests();
    m_refresher->startRefresh();
    QTRY_COMPARE(count(kPages, "GET"), 1);
    QCOMPARE(count(kWorkspaces, "GET"), 0);
}

void TestLibraryRefresh::failedOrEmptyWorkspaceLoadLoadsNothingElse_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("server error") << true;
    QTest::newRow("no workspaces") << false;
}

void TestLibraryRefresh::failedOrEmptyWorkspaceLoadLoadsNothingElse()
{
    QFETCH(bool, fails);
    LocalStore &store = m_device->store();
    if (fails) {
        m_fake.setFault(kWorkspaces, FakeService::Fault::http(500, "{}"));
    } else {
        std::erase_if(m_fake.state().memberships,
                      [&](const auto &m) { return m.userId == m_account.userId; });
    }
    QVERIFY(runTask(m_refresher->loadWorkspaces()).ok());
    QCOMPARE(m_fake.requests().size(), 1);
    QCOMPARE(store.state().workspaces.size(), fails ? size_t(1) : size_t(0));
    QCOMPARE(store.state().currentWorkspaceID, fails ? m_account.workspaceId : 0);
}

void TestLibraryRefresh::folderMerge()
{
    LocalStore &store = m_device->store();
    const qint64 kept = seedFolder(QStringLiteral("Renamed on the service"), 0, QStringLiteral("🗂"));
    const qint64 deletedHere = seedFolder(QStringLiteral("Still listed"));
    const qint64 fresh = seedFolder(QStringLiteral("New elsewhere"), kept);

    auto local = [&](const QString &name, qint64 serverID, qint64 workspace, bool deleted = false) {
        FNFolder f;
        f.serverID = serverID;
        f.workspaceServerID = workspace;
        f.name = name;
        f.icon = QStringLiteral("x");
        if (deleted)
            f.deletedAt = QDateTime::currentDateTimeUtc();
        store.upsertFolder(f);
        return f;
    };
    const FNFolder keptLocal = local(QStringLiteral("Old name"), kept, m_account.workspaceId);
    local(QStringLiteral("Removed on the service"), 7777, m_account.workspaceId);
    local(QStringLiteral("Other workspace"), 8888, m_account.workspaceId + 1000);
    const FNFolder deletedLocal =
        local(QStringLiteral("Deleted here"), deletedHere, m_account.workspaceId, true);
    local(QStringLiteral("Made offline"), 0, m_account.workspaceId);

    QVERIFY(runTask(m_refresher->loadFolders()).ok());

    const auto &folders = store.state().folders;
    auto find = [&](const QString &name) -> const FNFolder & {
        return *std::find_if(folders.begin(), folders.end(),
                             [&](const FNFolder &f) { return f.name == name; });
    };
    const FNFolder &k = find(QStringLiteral("Renamed on the service"));
    QCOMPARE(k.localID, keptLocal.localID);
    QCOMPARE(k.icon, QStringLiteral("🗂"));
    QCOMPARE(k.createdAt, keptLocal.createdAt);
    QVERIFY(find(QStringLiteral("Removed on the service")).deletedAt);
    QVERIFY(!find(QStringLiteral("Other workspace")).deletedAt);
    const FNFolder &d = find(QStringLiteral("Still listed"));
    QCOMPARE(d.localID, deletedLocal.localID);
    QVERIFY(d.deletedAt);
    const FNFolder &n = find(QStringLiteral("New elsewhere"));
    QCOMPARE(n.serverID, fresh);
    QCOMPARE(n.parentFolderServerID, kept);
    // A folder not yet on the service is neither dropped nor matched to a listed one.
    const FNFolder &offline = find(QStringLiteral("Made offline"));
    QCOMPARE(offline.serverID, qint64(0));
    QVERIFY(!offline.deletedAt);
    QCOMPARE(folders.size(), size_t(6));

    // Once in step, a read with nothing changed on the service changes nothing locally.
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QSignalSpy changed(&store, &LocalStore::stateChanged);
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QCOMPARE(changed.count(), 0);

    // A folder the service sends without an icon gets the folder emoji.
    FolderDTO bare;
    bare.id = 4242;
    bare.workspace_id = m_account.workspaceId;
    bare.name = QStringLiteral("Bare");
    QVERIFY(runTask(m_refresher->mergeFolders(FoldersResp{{bare}}, m_account.workspaceId, {})).ok());
    QCOMPARE(find(QStringLiteral("Bare")).icon, QStringLiteral("📁"));
    QCOMPARE(find(QStringLiteral("Bare")).parentFolderServerID, qint64(0));
}

void TestLibraryRefresh::pageMerge()
{
    LocalStore &store = m_device->store();
    const qint64 folder = seedFolder(QStringLiteral("F"));
    const qint64 changed = seedPage(QStringLiteral("Service title"), folder);
    const qint64 trashed = seedPage(QStringLiteral("Listed"));
    const qint64 fresh = seedPage(QStringLiteral("Fresh"));
    const qint64 restoredElsewhere = seedPage(QStringLiteral("Restored elsewhere"));
    m_fake.state().pages[fresh].coverUrl = QStringLiteral("https://example.com/c.png");
    m_fake.state().pages[fresh].coverOffsetX = 10;

    auto local = [&](const QString &title, qint64 serverID, bool deleted = false) {
        FNPage p;
        p.serverID = serverID;
        p.workspaceServerID = m_account.workspaceId;
        p.title = title;
        p.icon = QStringLiteral("⭐");
        if (deleted)
            p.deletedAt = QDateTime::currentDateTimeUtc();
        store.upsertPage(p);
        return p;
    };
    const FNPage changedLocal = local(QStringLiteral("Local title"), changed);
    // Deleted here with the deletion still queued: the listing predates it and must not undo it.
    const FNPage trashedLocal = local(QStringLiteral("In the local trash"), trashed, true);
    FNSyncOp pendingDelete;
    pendingDelete.entity = QStringLiteral("page");
    pendingDelete.op = QStringLiteral("delete");
    pendingDelete.refLocalID = trashedLocal.localID;
    pendingDelete.payloadJSON = QStringLiteral(R"({"page_id":%1})").arg(trashed);
    store.changeOutsideRecords([&](StoreState &st) { st.outbox.push_back(pendingDelete); });
    // In the trash here, its deletion long sent, and live on the service: restored elsewhere.
    local(QStringLiteral("Restored elsewhere"), restoredElsewhere, true);
    const FNPage missing = local(QStringLiteral("Not listed"), 5555);

    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(store.state().pages.size(), size_t(5));
    QVERIFY(!store.pageWithServerID(restoredElsewhere)->deletedAt);
    const FNPage &c = *store.page(changedLocal.localID);
    QCOMPARE(c.title, QStringLiteral("Service title"));
    QCOMPARE(c.folderServerID, folder);
    QCOMPARE(c.icon, QString());
    QCOMPARE(c.updatedAt, changedLocal.updatedAt);
    const FNPage &t = *store.pageWithServerID(trashed);
    QCOMPARE(t.title, QStringLiteral("Listed"));
    QVERIFY(t.deletedAt);
    QCOMPARE(*store.page(missing.localID), missing);
    const FNPage &n = *store.pageWithServerID(fresh);
    QCOMPARE(n.title, QStringLiteral("Fresh"));
    QCOMPARE(n.coverURL, QStringLiteral("https://example.com/c.png"));
    QCOMPARE(n.coverOffsetX, qint64(10));
    QCOMPARE(n.coverOffsetY, qint64(50));
    QVERIFY(!n.deletedAt);
}

void TestLibraryRefresh::statusesReplaceTheMapOrStay_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("the reply's keys, exactly") << QByteArray() << QStringList({"P"});
    QTest::newRow("statuses as an array: no change")
        << QByteArray(R"({"statuses":[]})") << QStringList({"7"});
    QTest::newRow("error: no change") << QByteArray("500") << QStringList({"7"});
}

void TestLibraryRefresh::statusesReplaceTheMapOrStay()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, keys);
    LocalStore &store = m_device->store();
    const qint64 page = seedPage(QStringLiteral("Published"));
    m_fake.state().publications[page].published = true;
    store.changeOutsideRecords([](StoreState &s) {
        s.pageStatuses[QStringLiteral("7")] = FNPageStatus{true, 3};
    });
    if (body == "500")
        m_fake.setFault(kStatuses, FakeService::Fault::http(500, "{}"));
    else if (!body.isEmpty())
        m_fake.setFault(kStatuses, FakeService::Fault::http(200, body));

    QVERIFY(runTask(m_refresher->loadPageStatuses()).ok());
    keys.replaceInStrings(QStringLiteral("P"), QString::number(page));
    QCOMPARE(store.state().pageStatuses.keys(), keys);
    if (body.isEmpty())
        QCOMPARE(store.state().pageStatuses.first(), (FNPageStatus{true, 0}));
}

void TestLibraryRefresh::folderCreateInFlightIsNeitherCopiedNorSentTwice()
{
    LocalStore &store = m_device->store();
    // The create reaches the service at once; its answer is held back.
    m_fake.setFault(kFolders, once(FakeService::Fault::delay(600)));
    const auto localID = m_creator->createFolder(std::nullopt);
    QVERIFY(localID);
    QTRY_COMPARE(count(kFolders, "POST"), 1);
    QCOMPARE(serverFolders(), size_t(1));

    // A list read now holds the new folder under an id the device does not know yet.
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QCOMPARE(foldersNamed(QStringLiteral("New folder")).size(), size_t(1));
    QCOMPARE(count(kFolders, "POST"), 1);
    QVERIFY2(m_device->engine().isSyncing() && store.state().folders[0].serverID == 0,
             "the race was not staged: the create answered first");

    QTRY_VERIFY(store.state().folders[0].serverID != 0);
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QCOMPARE(foldersNamed(QStringLiteral("New folder")).size(), size_t(1));
    QCOMPARE(serverFolders(), size_t(1));
    QCOMPARE(count(kFolders, "POST"), 1);
}

void TestLibraryRefresh::folderCreatedDuringAListReadIsNotDeleted()
{
    LocalStore &store = m_device->store();
    // The list is read on the service before the folder exists and answered after its create.
    m_fake.setFault(kFolders, once(FakeService::Fault::delay(600)));
    auto load = m_refresher->loadFolders();
    QTRY_COMPARE(count(kFolders, "GET"), 1);
    const auto localID = m_creator->createFolder(std::nullopt);
    QTRY_VERIFY(store.state().folders[0].serverID != 0);

    QVERIFY(runTask(std::move(load)).ok());
    const FNFolder &folder = *store.folder(*localID);
    QVERIFY(!folder.deletedAt);
    QCOMPARE(store.state().folders.size(), size_t(1));
}

void TestLibraryRefresh::pageCreatedDuringAListReadIsNotCopied()
{
    LocalStore &store = m_device->store();
    // The sync's page create reaches the service at once; its answer is held back.
    m_fake.setFault(kPages, once(FakeService::Fault::delay(600)));
    const auto localID = m_creator->createPage(std::nullopt, std::nullopt);
    QTRY_COMPARE(count(kPages, "POST"), 1);
    QVERIFY(m_device->engine().isSyncing());

    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(serverPages(), size_t(1));
    QCOMPARE(store.state().pages.size(), size_t(1));

    QTRY_VERIFY(store.state().pages[0].serverID != 0);
    QTRY_VERIFY(!m_device->engine().isSyncing());
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(store.state().pages.size(), size_t(1));
    QCOMPARE(store.state().pages[0].localID, *localID);
}

void TestLibraryRefresh::titleWaitingToBeSentIsKept_data()
{
    QTest::addColumn<QString>("inFlight"); // what the service is still answering when the title is typed
    QTest::newRow("nothing") << "";
    QTest::newRow("the page's create") << "create";
    QTest::newRow("the page's move into its folder") << "move";
}

// "New page in folder", then a title typed at once: a listing read before the title is sent must not
// lay the service's "Untitled" over it, not even for a moment.
void TestLibraryRefresh::titleWaitingToBeSentIsKept()
{
    QFETCH(QString, inFlight);
    LocalStore &store = m_device->store();
    seedFolder(QStringLiteral("Inbox"));
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QCOMPARE(store.state().folders.size(), size_t(1));
    const FNFolder folder = store.state().folders[0];
    if (inFlight == QLatin1String("create"))
        m_fake.setFault(kPages, once(FakeService::Fault::delay(400)));
    else if (inFlight == QLatin1String("move"))
        m_fake.setFault(kFolders, once(FakeService::Fault::delay(400)));
    const auto localID = m_creator->createPage(std::nullopt, folder);
    QVERIFY(localID);
    if (inFlight.isEmpty()) {
        QTRY_VERIFY(store.state().outbox.empty() && !m_device->engine().isSyncing());
    } else {
        QTRY_COMPARE(count(inFlight == QLatin1String("create") ? kPages : kFolders,
                           inFlight == QLatin1String("create") ? "POST" : "PATCH"),
                     1);
    }

    // Typed in the page's title: stored at once, sent when the typing pauses (not within this test).
    const AppContext context = m_device->context();
    PageViewModel::Timing timing;
    timing.title = std::chrono::seconds(30);
    PageViewModel page(context, *localID, timing);
    page.scheduleTitleSave(QStringLiteral("Typed"));
    const auto title = [&] { return store.page(*localID)->title; };
    QCOMPARE(title(), QStringLiteral("Typed"));

    // The service answers what it had; the sidebar reads its listing, then again once it has settled.
    QTRY_VERIFY_WITH_TIMEOUT(!m_device->engine().isSyncing(), 5000);
    QVERIFY(store.page(*localID)->serverID != 0);
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(title(), QStringLiteral("Typed"));
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(title(), QStringLiteral("Typed"));
}

// A rename sent and pulled back while an older listing was on its way: that listing, answered
// before the rename reached the service, must not lay the old title back over it. The outbox is
// empty by then and the cursor past the rename, so nothing would ever bring it back.
void TestLibraryRefresh::listingReadBeforeAPullLeavesWhatThePullBrought()
{
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Old"));
    QVERIFY(m_device->sync());
    QVERIFY(store.page(page.localID)->serverID != 0);

    auto held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(kPages, held);
    const int listingsBefore = count(kPages, "GET");
    auto listing = m_refresher->loadPages();
    QTRY_COMPARE(count(kPages, "GET"), listingsBefore + 1);

    store.editPage(page.localID, [](FNPage &p) { p.title = QStringLiteral("New"); });
    PagePatchReq rename;
    rename.title = QStringLiteral("New");
    m_device->queuePageUpdate(page.localID, rename);
    QVERIFY(m_device->sync());
    QVERIFY(store.state().outbox.empty());
    QCOMPARE(m_fake.state().pages[store.page(page.localID)->serverID].title, QStringLiteral("New"));

    m_fake.releaseHeldAnswers();
    QVERIFY(runTask(std::move(listing)).ok());
    QCOMPARE(store.page(page.localID)->title, QStringLiteral("New"));

    // The next listing, read after the rename, merges as ever.
    m_fake.state().pages[store.page(page.localID)->serverID].title = QStringLiteral("Renamed elsewhere");
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(store.page(page.localID)->title, QStringLiteral("Renamed elsewhere"));
}

void TestLibraryRefresh::listingAnsweredAfterSignOutIsDropped()
{
    LocalStore &store = m_device->store();
    seedFolder(QStringLiteral("The old account's"));
    auto held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(kFolders, held);
    auto listing = m_refresher->loadFolders();
    QTRY_COMPARE(count(kFolders, "GET"), 1);

    // Signed out while the listing was on its way: the emptied store stays empty.
    store.reset();
    m_fake.releaseHeldAnswers();
    QVERIFY(runTask(std::move(listing)).ok());
    QVERIFY(store.state().folders.empty());
}

void TestLibraryRefresh::queuedFolderCreateHoldsBackNothingWhileNoSyncRuns()
{
    LocalStore &store = m_device->store();
    // The create failed and waits for its retry; no sync is under way.
    m_fake.setFault(kFolders, once(FakeService::Fault::http(500, R"({"error":"down"})")));
    QVERIFY(m_creator->createFolder(std::nullopt));
    QTRY_COMPARE(count(kFolders, "POST"), 1);
    QTRY_VERIFY(!m_device->engine().isSyncing());
    QCOMPARE(store.state().outbox.size(), size_t(1));

    // A folder another device made is not this create: nothing is in flight to be mistaken for it.
    const qint64 elsewhere = seedFolder(QStringLiteral("From another device"));
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QCOMPARE(foldersNamed(QStringLiteral("From another device")).size(), size_t(1));
    QCOMPARE(foldersNamed(QStringLiteral("From another device"))[0].serverID, elsewhere);
    QCOMPARE(foldersNamed(QStringLiteral("New folder")).size(), size_t(1));
}

void TestLibraryRefresh::pollingSkipsCyclesWhileRenamingAndStops()
{
    m_refresher->setPollInterval(std::chrono::milliseconds(5));
    QSignalSpy cycles(m_refresher.get(), &LibraryRefresher::pollCycleFinished);

    m_refresher->setRenameInProgress(true);
    m_refresher->startPolling();
    QTRY_VERIFY(cycles.count() >= 3);
    QVERIFY(
        std::all_of(cycles.begin(), cycles.end(), [](const QList<QVariant> &c) { return !c[0].toBool(); }));
    QCOMPARE(m_fake.requests().size(), 0);

    // A poll cycle loads folders, pages, statuses, in that order.
    m_refresher->setRenameInProgress(false);
    cycles.clear();
    do {
        QVERIFY(cycles.wait(5000));
    } while (!cycles.last()[0].toBool());
    const auto requests = m_fake.requests();
    QVERIFY(requests.size() >= 3);
    QCOMPARE(requests[0].path(), QByteArray("/api/folders.php"));
    QCOMPARE(requests[1].path(), QByteArray("/api/pages.php"));
    QCOMPARE(requests[2].path(), QByteArray("/api/page-status.php"));

    // The spy returned as the cycle ended, so the loop is in its pause now; stopped there, it starts
    // no further cycle.
    m_refresher->stopPolling();
    cycles.clear();
    QVERIFY(!cycles.wait(60));
    QVERIFY(!m_refresher->isPolling());
}

void TestLibraryRefresh::pagesMergeAlikeInTurnsOrAtOnce_data()
{
    QTest::addColumn<qsizetype>("pagesPerTurn");
    QTest::addColumn<QString>("serviceTitle"); // empty: the title stays
    QTest::addColumn<bool>("movedElsewhere");
    QTest::addColumn<bool>("deletedElsewhere");
    QTest::addColumn<QString>("here"); // what this device does while the merge runs
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("inFolder");
    QTest::addColumn<bool>("deleted");
    const QString elsewhere = QStringLiteral("Renamed elsewhere");
    const QString last = QStringLiteral("Page 29");
    for (const qsizetype perTurn : {qsizetype(1000), qsizetype(4)}) {
        const QByteArray mode = perTurn > 100 ? " at once" : " in turns";
        QTest::newRow("renamed elsewhere" + mode)
            << perTurn << elsewhere << false << false << QString() << elsewhere << false << false;
        QTest::newRow("moved elsewhere" + mode)
            << perTurn << QString() << true << false << QString() << last << true << false;
        // The listing leaves it out: only the trash tells a deletion, and this device keeps the page.
        QTest::newRow("deleted elsewhere" + mode)
            << perTurn << QString() << false << true << QString() << last << false << false;
        QTest::newRow("renamed here meanwhile" + mode)
            << perTurn << elsewhere << false << false << QStringLiteral("rename")
            << QStringLiteral("Typed here") << false << false;
        QTest::newRow("deleted here meanwhile" + mode)
            << perTurn << elsewhere << true << false << QStringLiteral("delete") << elsewhere << true << true;
    }
}

// A long listing is merged over several turns of the event loop; the store and the sidebar end as a
// merge in one go leaves them, also when the page changes here between two turns.
void TestLibraryRefresh::pagesMergeAlikeInTurnsOrAtOnce()
{
    QFETCH(qsizetype, pagesPerTurn);
    QFETCH(QString, serviceTitle);
    QFETCH(bool, movedElsewhere);
    QFETCH(bool, deletedElsewhere);
    QFETCH(QString, here);
    QFETCH(QString, title);
    QFETCH(bool, inFolder);
    QFETCH(bool, deleted);
    LocalStore &store = m_device->store();
    const qint64 folder = seedFolder(QStringLiteral("F"));
    std::vector<qint64> ids;
    for (int i = 0; i < 30; ++i)
        ids.push_back(seedPage(QStringLiteral("Page %1").arg(i)));
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QCOMPARE(store.state().pages.size(), size_t(30));
    const QString target = store.pageWithServerID(ids.back())->localID;

    // Elsewhere: the first page renamed (so the merge changes something in its first turn), a page
    // added, and the last page (merged in the last turn) changed as the row says.
    FakeServiceState &service = m_fake.state();
    service.pages[ids.front()].title = QStringLiteral("First renamed");
    const qint64 newcomer = seedPage(QStringLiteral("Newcomer"));
    FakeServiceState::Page &last = service.pages[ids.back()];
    if (!serviceTitle.isEmpty())
        last.title = serviceTitle;
    if (movedElsewhere)
        last.folderId = folder;
    if (deletedElsewhere)
        last.deletedAt = QDateTime::currentDateTimeUtc();
    last.position = newcomer + 1; // still listed last

    const AppContext context = m_device->context();
    PageViewModel::Timing timing;
    timing.title = std::chrono::seconds(30);
    PageViewModel page(context, target, timing);
    int mergedBeforeHere = -1;
    int merged = 0;
    const auto doHere = [&] {
        mergedBeforeHere = merged;
        if (here == QLatin1String("rename")) {
            page.scheduleTitleSave(QStringLiteral("Typed here"));
        } else {
            store.editPage(target, [](FNPage &p) { p.deletedAt = QDateTime::currentDateTimeUtc(); });
            FNSyncOp pendingDelete;
            pendingDelete.entity = QStringLiteral("page");
            pendingDelete.op = QStringLiteral("delete");
            pendingDelete.refLocalID = target;
            pendingDelete.payloadJSON = QStringLiteral(R"({"page_id":%1})").arg(ids.back());
            store.changeOutsideRecords([&](StoreState &st) { st.outbox.push_back(pendingDelete); });
        }
    };
    // The change here comes at the first chance the loop gets once the merge has begun.
    const auto watch = connect(&store, &LocalStore::pageChanged, this, [&] {
        if (++merged == 1 && !here.isEmpty())
            QTimer::singleShot(0, this, doHere);
    });
    m_refresher->setPagesPerTurn(pagesPerTurn);
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    QTRY_VERIFY(here.isEmpty() || mergedBeforeHere >= 0);
    disconnect(watch);
    if (!here.isEmpty() && pagesPerTurn < 30)
        QCOMPARE(mergedBeforeHere, 1); // between two turns, long before the last page's

    QCOMPARE(store.state().pages.size(), size_t(31));
    QCOMPARE(store.pageWithServerID(ids.front())->title, QStringLiteral("First renamed"));
    QVERIFY(store.pageWithServerID(newcomer));
    const FNPage &p = *store.page(target);
    QCOMPARE(p.title, title);
    QCOMPARE(p.folderServerID, inFolder ? folder : 0);
    QCOMPARE(bool(p.deletedAt), deleted);

    // The sidebar lists what the store holds.
    LibraryTree tree(store, nullptr);
    const std::vector<FNPage> listed = LibraryTree::workspacePages(store);
    const bool live = std::any_of(listed.cbegin(), listed.cend(),
                                  [&](const FNPage &e) { return e.localID == target && e.title == title; });
    QCOMPARE(live, !deleted);
    const auto rows = tree.listContent();
    const bool rootRow = std::any_of(rows.cbegin(), rows.cend(), [&](const LibraryTree::Row &r) {
        return r.localID == target && r.title == title;
    });
    QCOMPARE(rootRow, !deleted && !inFolder);
}

QTEST_GUILESS_MAIN(TestLibraryRefresh)
#include "tst_library_refresh.moc"
