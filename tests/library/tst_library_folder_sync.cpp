#include "api/api_client.h"
#include "api/wire/folders.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "library/library_creator.h"
#include "library/library_mover.h"
#include "library/library_refresher.h"
#include "library/library_row_editor.h"
#include "store/retry_policy.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QTest>

#include <memory>

namespace {

const QString kFolders = QStringLiteral("/api/folders.php");
const QString kPages = QStringLiteral("/api/pages.php");

FakeService::Fault faultNamed(const QString &name)
{
    if (name == QLatin1String("drop"))
        return FakeService::Fault::drop();
    return FakeService::Fault::http(name.toInt(), "{}");
}

} // namespace

// Folder changes and page moves under network faults and lost replies: each reaches the service
// once, and the sidebar's refresh neither undoes nor copies them meanwhile.
class TestLibraryFolderSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void folderChangeOutlastsATransientFault_data();
    void folderChangeOutlastsATransientFault();
    void changeMadeWhileTheCreateIsInFlight_data();
    void changeMadeWhileTheCreateIsInFlight();
    void lostCreateReplyIsAdopted_data();
    void lostCreateReplyIsAdopted();
    void refusedOperationIsDroppedAfterThePolicysAttempts_data();
    void refusedOperationIsDroppedAfterThePolicysAttempts();

private:
    FNFolder syncedFolder(const QString &name);
    // One cycle with the engine's clock past every retry wait.
    bool syncLater();
    size_t serverFolders() const;
    int count(const QString &path, const QByteArray &method) const
    {
        return int(requestsWith(m_fake, path, method).size());
    }
    const FNFolder &stored(const QString &localID) const
    {
        const LocalStore &store = m_device->store();
        return *store.folder(localID);
    }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<LibraryCreator> m_creator;
    std::unique_ptr<LibraryRowEditor> m_editor;
    std::unique_ptr<LibraryMover> m_mover;
    std::unique_ptr<LibraryRefresher> m_refresher;
    QDateTime m_now;
    int m_accounts = 0;
};

void TestLibraryFolderSync::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryFolderSync::init()
{
    m_fake.clearFaults();
    m_account = m_fake.createAccount(QStringLiteral("fold%1@example.com").arg(++m_accounts), "secret12", "F");
    m_device = deviceInWorkspace(m_fake, m_account);
    m_now = QDateTime::currentDateTimeUtc();
    m_device->engine().setClock([this] { return m_now; });
    LocalStore &store = m_device->store();
    SyncEngine &engine = m_device->engine();
    m_creator = std::make_unique<LibraryCreator>(store, engine, nullptr);
    m_editor = std::make_unique<LibraryRowEditor>(store, engine);
    m_mover = std::make_unique<LibraryMover>(store, engine, *m_creator);
    m_refresher = std::make_unique<LibraryRefresher>(store, m_device->client(), engine, *m_creator);
    m_fake.clearRequests();
}

void TestLibraryFolderSync::cleanup()
{
    m_refresher.reset();
    m_mover.reset();
    m_editor.reset();
    m_creator.reset();
    m_device.reset();
}

FNFolder TestLibraryFolderSync::syncedFolder(const QString &name)
{
    FNFolder f;
    f.serverID = m_fake.state().nextFolderId++;
    f.workspaceServerID = m_account.workspaceId;
    f.name = name;
    f.icon = QStringLiteral("📁");
    mirrorFolder(m_fake, m_device->store(), f);
    m_fake.state().folders[f.serverID].icon = f.icon;
    return f;
}

bool TestLibraryFolderSync::syncLater()
{
    m_now = m_now.addSecs(120);
    return m_device->sync();
}

size_t TestLibraryFolderSync::serverFolders() const
{
    const auto &all = const_cast<FakeService &>(m_fake).state().folders;
    return size_t(std::count_if(all.begin(), all.end(), [&](const auto &e) {
        return e.second.workspaceId == m_account.workspaceId;
    }));
}

void TestLibraryFolderSync::folderChangeOutlastsATransientFault_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("fault");
    for (const char *change : {"rename", "icon", "move"}) {
        for (const char *fault : {"drop", "500", "408", "429"})
            QTest::addRow("%s, %s", change, fault)
                << QString::fromLatin1(change) << QString::fromLatin1(fault);
    }
}

void TestLibraryFolderSync::folderChangeOutlastsATransientFault()
{
    QFETCH(QString, change);
    QFETCH(QString, fault);
    const FNFolder folder = syncedFolder(QStringLiteral("Projects"));
    const FNFolder archive = syncedFolder(QStringLiteral("Archive"));
    const auto expect = [&](const FakeServiceState::Folder &f) {
        if (change == QLatin1String("rename"))
            return f.name == QStringLiteral("Plans");
        if (change == QLatin1String("icon"))
            return f.icon == QStringLiteral("🗂");
        return f.parentFolderId == archive.serverID;
    };
    const auto local = [&] {
        const FNFolder &f = stored(folder.localID);
        FakeServiceState::Folder seen;
        seen.name = f.name;
        seen.icon = f.icon;
        seen.parentFolderId = f.parentFolderServerID;
        return seen;
    };

    m_fake.setFault(kFolders, faultNamed(fault));
    if (change == QLatin1String("rename")) {
        m_editor->commitFolderRename(folder.localID, QStringLiteral("Plans"));
    } else if (change == QLatin1String("icon")) {
        m_editor->applyFolderIcon(QStringLiteral("🗂"), folder.localID);
    } else {
        m_mover->handleFolderDrop(LibraryMover::folderPayload(folder.localID), archive.serverID);
    }
    QTRY_VERIFY(count(kFolders, "PATCH") >= 1);
    QTRY_VERIFY(!m_device->engine().isSyncing());
    QVERIFY(m_device->sync()); // a later cycle while the fault lasts
    QVERIFY(!expect(m_fake.state().folders.at(folder.serverID)));

    // The fault has cleared; a refresh reads the service's old record before the change is resent.
    m_fake.clearFaults();
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(expect(local()));

    QVERIFY(syncLater());
    QVERIFY(expect(m_fake.state().folders.at(folder.serverID)));
    QVERIFY(m_device->store().state().outbox.empty());
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(expect(local()));
}

void TestLibraryFolderSync::changeMadeWhileTheCreateIsInFlight_data()
{
    QTest::addColumn<QString>("record");
    QTest::newRow("a new folder renamed") << "folder";
    QTest::newRow("a new page moved into a folder, the move failing once") << "page";
}

void TestLibraryFolderSync::changeMadeWhileTheCreateIsInFlight()
{
    QFETCH(QString, record);
    const bool isFolder = record == QLatin1String("folder");
    const FNFolder inbox = syncedFolder(QStringLiteral("Inbox"));
    // The create reaches the service at once; its answer is held back.
    m_fake.setFault(isFolder ? kFolders : kPages, once(FakeService::Fault::delay(400)));
    const QString localID = isFolder ? *m_creator->createFolder(std::nullopt)
                                     : *m_creator->createPage(std::nullopt, std::nullopt);
    QTRY_COMPARE(count(isFolder ? kFolders : kPages, "POST"), 1);
    QVERIFY(m_device->engine().isSyncing());

    if (isFolder) {
        m_editor->commitFolderRename(localID, QStringLiteral("Plans"));
    } else {
        m_fake.setFault(kFolders, once(FakeService::Fault::http(500, "{}")));
        m_mover->movePage(*m_device->page(localID), inbox.serverID);
    }
    QTRY_VERIFY(!m_device->engine().isSyncing());
    // A refresh before the change has gone out keeps it (the page's move meets its fault first).
    if (isFolder)
        QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(runTask(m_refresher->loadPages()).ok());
    if (isFolder)
        QCOMPARE(stored(localID).name, QStringLiteral("Plans"));
    else
        QCOMPARE(m_device->page(localID)->folderServerID, inbox.serverID);
    for (int cycle = 0; cycle < 3; ++cycle)
        QVERIFY(syncLater());
    QVERIFY(m_device->store().state().outbox.empty());
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(runTask(m_refresher->loadPages()).ok());

    if (isFolder) {
        QCOMPARE(serverFolders(), size_t(2));
        const FNFolder &folder = stored(localID);
        QCOMPARE(folder.name, QStringLiteral("Plans"));
        QCOMPARE(m_fake.state().folders.at(folder.serverID).name, QStringLiteral("Plans"));
        QCOMPARE(m_device->store().state().folders.size(), size_t(2));
    } else {
        const FNPage &page = *m_device->page(localID);
        QCOMPARE(page.folderServerID, inbox.serverID);
        QCOMPARE(m_fake.state().pages.at(page.serverID).folderId, inbox.serverID);
        QCOMPARE(m_device->store().state().pages.size(), size_t(1));
    }
}

void TestLibraryFolderSync::lostCreateReplyIsAdopted_data()
{
    QTest::addColumn<bool>("refreshFirst");
    QTest::addColumn<QString>("name"); // as the create carried it
    QTest::newRow("the next sync adopts it") << false << QStringLiteral("Plans");
    QTest::newRow("the refresh adopts it first") << true << QStringLiteral("Plans");
    // Any device makes a "New folder" at any moment: one is never taken for this device's own.
    QTest::newRow("a default name is sent again") << false << QStringLiteral("New folder");
    QTest::newRow("a default name is sent again, refreshed first") << true << QStringLiteral("New folder");
}

void TestLibraryFolderSync::lostCreateReplyIsAdopted()
{
    QFETCH(bool, refreshFirst);
    QFETCH(QString, name);
    const bool adopted = name != QLatin1String(LibraryCreator::kNewFolderName);
    const FNFolder parent = syncedFolder(QStringLiteral("Work"));
    // The service makes the folder, then the connection drops before its answer: staged as a refused
    // request plus the folder it would have made.
    m_fake.setFault(kFolders, FakeService::Fault::drop());
    const QString localID = *m_creator->createFolder(parent);
    if (adopted) {
        // Named before its create went out, as a rename at once would leave it.
        m_device->store().editFolder(localID, [&](FNFolder &f) { f.name = name; });
        m_device->store().changeOutsideRecords([&](StoreState &s) {
            for (FNSyncOp &op : s.outbox) {
                if (op.kind() != SyncOpKind::FolderCreate || op.refLocalID != localID)
                    continue;
                FolderCreateReq req = sharedJSONDecode<FolderCreateReq>(op.payloadJSON.toUtf8());
                req.name = name;
                op.payloadJSON = QString::fromUtf8(sharedJSONEncode(req));
            }
        });
    }
    QTRY_VERIFY(count(kFolders, "POST") >= 1);
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_fake.clearFaults();
    const int posts = count(kFolders, "POST");
    FakeServiceState::Folder made;
    made.id = m_fake.state().nextFolderId++;
    made.workspaceId = m_account.workspaceId;
    made.parentFolderId = parent.serverID;
    made.name = name;
    made.icon = QStringLiteral("📁");
    made.createdAt = made.updatedAt = FakeService::now(); // while the create was out
    m_fake.state().folders[made.id] = made;
    QCOMPARE(stored(localID).serverID, qint64(0));

    if (refreshFirst) {
        QVERIFY(runTask(m_refresher->loadFolders()).ok());
        QCOMPARE(stored(localID).serverID, adopted ? made.id : 0);
    }
    QVERIFY(syncLater());
    QVERIFY(runTask(m_refresher->loadFolders()).ok());
    QVERIFY(syncLater());

    QCOMPARE(count(kFolders, "POST"), adopted ? posts : posts + 1);
    QCOMPARE(serverFolders(), size_t(adopted ? 2 : 3));
    QCOMPARE(m_device->store().state().folders.size(), size_t(adopted ? 2 : 3));
    QVERIFY(stored(localID).serverID != 0);
    QCOMPARE(stored(localID).serverID == made.id, adopted);
    QCOMPARE(stored(localID).parentFolderServerID, parent.serverID);
    QVERIFY(m_device->store().state().outbox.empty());
}

void TestLibraryFolderSync::refusedOperationIsDroppedAfterThePolicysAttempts_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("folder create") << "create";
    QTest::newRow("folder rename") << "rename";
    QTest::newRow("page move") << "move";
}

void TestLibraryFolderSync::refusedOperationIsDroppedAfterThePolicysAttempts()
{
    QFETCH(QString, operation);
    const FNFolder folder = syncedFolder(QStringLiteral("Projects"));
    if (operation == QLatin1String("move")) {
        m_device->addPage(m_account.workspaceId, QStringLiteral("Note"));
        QVERIFY(m_device->sync());
    }
    m_fake.setFault(kFolders, FakeService::Fault::http(400, R"({"error":"Bad request"})"));
    if (operation == QLatin1String("create"))
        m_creator->createFolder(std::nullopt);
    else if (operation == QLatin1String("rename"))
        m_editor->commitFolderRename(folder.localID, QStringLiteral("Plans"));
    else
        m_mover->movePage(m_device->store().state().pages[0], folder.serverID);
    QTRY_VERIFY(count(kFolders, "POST") + count(kFolders, "PATCH") >= 1);
    QTRY_VERIFY(!m_device->engine().isSyncing());

    const auto &outbox = m_device->store().state().outbox;
    for (qint64 attempt = 1; attempt < RetryPolicy::kDropAtAttempts; ++attempt) {
        QCOMPARE(outbox.size(), size_t(1));
        QCOMPARE(outbox[0].attempts, attempt);
        QVERIFY(syncLater());
    }
    QVERIFY(outbox.empty());
    m_fake.clearRequests();
    QVERIFY(syncLater());
    QCOMPARE(count(kFolders, "POST") + count(kFolders, "PATCH") + count(kFolders, "GET"), 0);
}

QTEST_GUILESS_MAIN(TestLibraryFolderSync)
#include "tst_library_folder_sync.moc"
