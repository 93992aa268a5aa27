#include "api/api_client.h"
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "library/library_creator.h"
#include "library/library_deleter.h"
#include "library/library_row_editor.h"
#include "platform/settings.h"
#include "store/favorites_store.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString kFolders = QStringLiteral("/api/folders.php");
const QString kPages = QStringLiteral("/api/pages.php");

} // namespace

// Deleting folders and pages from the sidebar, and taking it back, end to end against the fake service.
class TestLibraryDelete : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void folderDeleteAndUndo_data();
    void folderDeleteAndUndo();
    void folderDeletedWhileItsCreateIsInFlight_data();
    void folderDeletedWhileItsCreateIsInFlight();
    void folderDeletedAfterItsCreateWentUnansweredCanBeUndone();
    void pageDeleteQueuesAndUndoTakesItBack_data();
    void pageDeleteQueuesAndUndoTakesItBack();
    void undoAfterTheDeleteWentOutRestoresOnTheService();
    void undoWhileTheDeleteIsInFlight();
    void undoAfterAFailedSendStillRestores();
    void pageDeletedWhileItsCreateIsInFlight_data();
    void pageDeletedWhileItsCreateIsInFlight();
    void deleteReachesTheServiceAfterTheUndoWindow();
    void undoKeepsWhatWasTypedBeforeTheDelete_data();
    void undoKeepsWhatWasTypedBeforeTheDelete();

private:
    FNFolder syncedFolder(const QString &name);
    FNPage syncedPage(const QString &title);
    std::vector<HttpRequest> requests(const QString &path, const QByteArray &method) const
    {
        return requestsWith(m_fake, path, method);
    }
    void undo();

    FakeService m_fake;
    FakeService::Account m_account;
    QTemporaryDir m_dir;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<FavoritesStore> m_favorites;
    std::unique_ptr<ToastCenter> m_toasts;
    std::unique_ptr<LibraryCreator> m_creator;
    std::unique_ptr<LibraryDeleter> m_deleter;
    int m_accounts = 0;
};

void TestLibraryDelete::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryDelete::init()
{
    m_fake.clearFaults();
    m_account = m_fake.createAccount(QStringLiteral("del%1@example.com").arg(++m_accounts), "secret12", "D");
    m_device = deviceInWorkspace(m_fake, m_account);
    m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("s%1.ini").arg(m_accounts)));
    m_favorites = std::make_unique<FavoritesStore>(*m_settings);
    m_toasts = std::make_unique<ToastCenter>();
    m_creator = std::make_unique<LibraryCreator>(m_device->store(), m_device->engine(), nullptr);
    m_deleter = std::make_unique<LibraryDeleter>(m_device->store(), m_device->client(), m_device->engine(),
                                                 *m_creator, m_toasts.get(), m_favorites.get());
    m_deleter->setDelays(2s, 150ms);
    m_fake.clearRequests();
}

void TestLibraryDelete::cleanup()
{
    m_deleter.reset();
    m_creator.reset();
    m_toasts.reset();
    m_favorites.reset();
    m_settings.reset();
    m_device.reset();
}

FNFolder TestLibraryDelete::syncedFolder(const QString &name)
{
    FNFolder f;
    f.serverID = m_fake.state().nextFolderId++;
    f.workspaceServerID = m_account.workspaceId;
    f.name = name;
    return mirrorFolder(m_fake, m_device->store(), f);
}

FNPage TestLibraryDelete::syncedPage(const QString &title)
{
    const FNPage made = m_device->addPage(m_account.workspaceId, title);
    if (!m_device->sync())
        return made;
    m_fake.clearRequests();
    return *m_device->page(made.localID);
}

void TestLibraryDelete::undo()
{
    QVERIFY(m_toasts->current() && m_toasts->hasAction());
    QCOMPARE(m_toasts->current()->actionLabel, std::optional<QString>(QStringLiteral("Undo")));
    m_toasts->runAction(m_toasts->current()->id);
}

void TestLibraryDelete::folderDeleteAndUndo_data()
{
    QTest::addColumn<bool>("synced");
    QTest::addColumn<bool>("undone");
    QTest::newRow("on the service, kept deleted") << true << false;
    QTest::newRow("on the service, undone") << true << true;
    QTest::newRow("local only, kept deleted") << false << false;
    QTest::newRow("local only, undone") << false << true;
}

void TestLibraryDelete::folderDeleteAndUndo()
{
    QFETCH(bool, synced);
    QFETCH(bool, undone);
    LocalStore &store = m_device->store();
    FNFolder folder;
    if (synced) {
        folder = syncedFolder(QStringLiteral("Projects"));
    } else {
        folder.workspaceServerID = m_account.workspaceId;
        store.upsertFolder(folder);
    }
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);

    m_deleter->deleteFolder(folder.localID);
    QVERIFY(store.folder(folder.localID)->deletedAt);
    QCOMPARE(m_toasts->current()->message, QStringLiteral("Folder deleted"));
    if (undone)
        undo();
    QVERIFY(finished.wait());

    QCOMPARE(bool(store.folder(folder.localID)->deletedAt), !undone);
    const auto deletes = requests(kFolders, "DELETE");
    QCOMPARE(deletes.size(), size_t(synced && !undone ? 1 : 0));
    if (!deletes.empty()) {
        QCOMPARE(deletes[0].target, "/api/folders.php?folder_id=" + QByteArray::number(folder.serverID));
        QVERIFY(!m_fake.state().folders.count(folder.serverID));
    }
}

void TestLibraryDelete::folderDeletedWhileItsCreateIsInFlight_data()
{
    QTest::addColumn<bool>("undone");
    QTest::newRow("kept deleted: removed once it exists") << false;
    QTest::newRow("undone: kept, with its new id") << true;
}

void TestLibraryDelete::folderDeletedWhileItsCreateIsInFlight()
{
    QFETCH(bool, undone);
    LocalStore &store = m_device->store();
    m_fake.setFault(kFolders, once(FakeService::Fault::delay(600)));
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);

    const QString localID = *m_creator->createFolder(std::nullopt);
    QTRY_COMPARE(requests(kFolders, "POST").size(), size_t(1));
    m_deleter->deleteFolder(localID);
    if (undone)
        undo();
    QVERIFY(finished.wait());
    QTRY_VERIFY(!m_device->engine().isSyncing());

    const FNFolder &folder = *store.folder(localID);
    QVERIFY(folder.serverID != 0);
    QCOMPARE(bool(folder.deletedAt), !undone);
    const auto deletes = requests(kFolders, "DELETE");
    QCOMPARE(deletes.size(), size_t(undone ? 0 : 1));
    QCOMPARE(bool(m_fake.state().folders.count(folder.serverID)), undone);
    if (!undone)
        QCOMPARE(deletes[0].target, "/api/folders.php?folder_id=" + QByteArray::number(folder.serverID));
}

// A cycle inside the undo window leaves the create alone: once undone, the folder is the one its
// create made.
void TestLibraryDelete::folderDeletedAfterItsCreateWentUnansweredCanBeUndone()
{
    LocalStore &store = m_device->store();
    m_deleter->setDelays(90s, 60s);
    auto lost = FakeService::Fault::applyThenDrop();
    lost.method = "POST";
    lost.remaining = 1;
    m_fake.setFault(kFolders, lost);
    const QString localID = *m_creator->createFolder(std::nullopt);
    LibraryRowEditor(store, m_device->engine()).commitFolderRename(localID, QStringLiteral("Taxes"));
    const auto createUnanswered = [&] {
        const auto &outbox = store.state().outbox;
        return std::any_of(outbox.begin(), outbox.end(), [](const FNSyncOp &op) {
            return op.kind() == SyncOpKind::FolderCreate && op.unanswered;
        });
    };
    QTRY_VERIFY(createUnanswered());
    QTRY_VERIFY(!m_device->engine().isSyncing());

    m_deleter->deleteFolder(localID);
    // Past the create's wait after its failed send, inside the delete's window.
    m_device->engine().setClock([] { return QDateTime::currentDateTimeUtc().addSecs(10); });
    m_device->sync();
    QVERIFY(createUnanswered());
    undo();
    QVERIFY(m_device->sync());

    const FNFolder &folder = *store.folder(localID);
    QVERIFY(!folder.deletedAt);
    QVERIFY(folder.serverID != 0);
    QVERIFY(store.state().outbox.empty());
    const auto &onService = m_fake.state().folders;
    QCOMPARE(std::count_if(onService.begin(), onService.end(),
                           [&](const auto &f) { return f.second.workspaceId == m_account.workspaceId; }),
             std::ptrdiff_t(1));
    QCOMPARE(onService.at(folder.serverID).name, QStringLiteral("Taxes"));
    QVERIFY(requests(kFolders, "DELETE").empty());
    QCOMPARE(requests(kFolders, "POST").size(), size_t(1));
}

void TestLibraryDelete::pageDeleteQueuesAndUndoTakesItBack_data()
{
    QTest::addColumn<bool>("synced");
    QTest::newRow("on the service") << true;
    QTest::newRow("never reached the service") << false;
}

void TestLibraryDelete::pageDeleteQueuesAndUndoTakesItBack()
{
    QFETCH(bool, synced);
    LocalStore &store = m_device->store();
    FNPage target;
    if (synced) {
        target = syncedPage(QStringLiteral("Plan"));
        QVERIFY(target.serverID != 0);
    } else {
        target.workspaceServerID = m_account.workspaceId;
        store.upsertPage(target);
    }
    m_favorites->toggle(target.localID);
    QSignalSpy deleted(m_deleter.get(), &LibraryDeleter::pageDeleted);
    QSignalSpy restored(m_deleter.get(), &LibraryDeleter::pageRestored);

    m_deleter->deletePage(target.localID);
    QVERIFY(m_device->page(target.localID)->deletedAt);
    QVERIFY(!m_favorites->ids().contains(target.localID));
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(m_toasts->current()->message, QStringLiteral("Page deleted"));
    const FNSyncOp op = store.state().outbox.back();
    QCOMPARE(op.entity, QStringLiteral("page"));
    QCOMPARE(op.op, QStringLiteral("delete"));
    QCOMPARE(op.refLocalID, target.localID);
    QCOMPARE(op.payloadJSON, QStringLiteral(R"({"page_id":%1})").arg(target.serverID));

    undo();
    QVERIFY(!m_device->page(target.localID)->deletedAt);
    QCOMPARE(restored.count(), 1);
    QVERIFY(std::none_of(store.state().outbox.begin(), store.state().outbox.end(),
                         [&](const FNSyncOp &o) { return o.localID == op.localID; }));
    QVERIFY(!m_favorites->ids().contains(target.localID)); // not put back

    // Nothing of the deletion reaches the service, and no restore is asked for.
    QVERIFY(m_device->sync());
    QVERIFY(requests(kPages, "DELETE").empty());
    QVERIFY(requests(kPages, "PATCH").empty());
    if (synced)
        QVERIFY(!m_fake.state().pages[target.serverID].inTrash());
}

void TestLibraryDelete::undoAfterTheDeleteWentOutRestoresOnTheService()
{
    const FNPage target = syncedPage(QStringLiteral("Plan"));
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);
    m_deleter->deletePage(target.localID);
    QVERIFY(m_device->sync());
    QVERIFY(m_fake.state().pages[target.serverID].inTrash());

    undo();
    QVERIFY(finished.wait());
    const auto patches = requests(kPages, "PATCH");
    QCOMPARE(patches.size(), size_t(1));
    const JSONObject body = parseJSONObject(patches[0].body);
    QCOMPARE(body.at(QStringLiteral("page_id")), JSONValue(target.serverID));
    QCOMPARE(body.at(QStringLiteral("restore")), JSONValue(1));
    QVERIFY(!m_fake.state().pages[target.serverID].inTrash());
    QVERIFY(!m_device->page(target.localID)->deletedAt);

    // The service's change comes back in the next pull and leaves the page shown.
    QVERIFY(m_device->sync());
    QVERIFY(!m_device->page(target.localID)->deletedAt);
}

void TestLibraryDelete::undoWhileTheDeleteIsInFlight()
{
    const FNPage target = syncedPage(QStringLiteral("Plan"));
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);
    m_deleter->deletePage(target.localID);

    // The service takes the delete at once but answers late: the operation is still in the outbox.
    m_fake.setFault(kPages, once(FakeService::Fault::delay(500)));
    m_device->engine().syncNow();
    QTRY_COMPARE(requests(kPages, "DELETE").size(), size_t(1));
    QVERIFY(m_device->engine().isSyncing());

    undo();
    QVERIFY(finished.wait(5000));
    QVERIFY(!m_device->engine().isSyncing());
    QVERIFY(!m_fake.state().pages[target.serverID].inTrash());
    // The cycle pulled the service's deletion; the undo still stands here.
    QVERIFY(!m_device->page(target.localID)->deletedAt);
    const QList<HttpRequest> log = m_fake.requestsTo(kPages);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].method, QByteArray("DELETE"));
    QCOMPARE(log[1].method, QByteArray("PATCH"));
}

void TestLibraryDelete::undoAfterAFailedSendStillRestores()
{
    const FNPage target = syncedPage(QStringLiteral("Plan"));
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);
    m_deleter->deletePage(target.localID);
    // The connection drops with the delete sent: whether the service took it is unknown.
    FakeService::Fault dropped = FakeService::Fault::drop();
    dropped.remaining = 2; // the network layer tries an idempotent request twice
    m_fake.setFault(kPages, dropped);
    QVERIFY(m_device->sync());
    QCOMPARE(m_device->store().state().outbox.size(), size_t(1));
    QCOMPARE(m_device->store().state().outbox[0].attempts, qint64(1));

    undo();
    QVERIFY(finished.wait());
    QCOMPARE(requests(kPages, "PATCH").size(), size_t(1));
    QVERIFY(m_device->store().state().outbox.empty());
    QVERIFY(!m_fake.state().pages[target.serverID].inTrash());
}

void TestLibraryDelete::pageDeletedWhileItsCreateIsInFlight_data()
{
    QTest::addColumn<bool>("deleteSent"); // else undone while the create is still out
    QTest::newRow("undone while the create is out") << false;
    QTest::newRow("undone after the delete went out") << true;
}

void TestLibraryDelete::pageDeletedWhileItsCreateIsInFlight()
{
    QFETCH(bool, deleteSent);
    m_deleter->setDelays(60s, 150ms); // the toast outlives every wait below
    m_fake.setFault(kPages, once(FakeService::Fault::delay(2000)));
    const QString localID = *m_creator->createPage(std::nullopt, std::nullopt);
    QTRY_COMPARE(requests(kPages, "POST").size(), size_t(1));
    QCOMPARE(m_device->page(localID)->serverID, qint64(0));
    m_deleter->deletePage(localID);
    if (deleteSent) {
        QTRY_VERIFY(!m_device->engine().isSyncing());
        QVERIFY(m_device->sync()); // the delete goes out with the id the create brought
        QCOMPARE(requests(kPages, "DELETE").size(), size_t(1));
        QVERIFY(m_fake.state().pages.at(m_device->page(localID)->serverID).inTrash());
    }
    undo();
    QTRY_VERIFY(!m_device->engine().isSyncing());

    const qint64 serverID = m_device->page(localID)->serverID;
    QVERIFY(serverID != 0);
    QTRY_VERIFY(!m_fake.state().pages.at(serverID).inTrash());
    QVERIFY(m_device->sync());
    QVERIFY(!m_device->page(localID)->deletedAt);
}

void TestLibraryDelete::deleteReachesTheServiceAfterTheUndoWindow()
{
    const FNPage target = syncedPage(QStringLiteral("Plan"));
    m_deleter->deletePage(target.localID);
    QVERIFY(!m_fake.state().pages[target.serverID].inTrash());
    QTRY_VERIFY(m_fake.state().pages[target.serverID].inTrash());
    // The service takes the delete a turn before its answer reaches the engine.
    QTRY_VERIFY(m_device->store().state().outbox.empty());
}

void TestLibraryDelete::undoKeepsWhatWasTypedBeforeTheDelete_data()
{
    QTest::addColumn<bool>("cycleBetween"); // a cycle sent the delete before the undo
    QTest::newRow("undone before any cycle") << false;
    QTest::newRow("undone after a cycle sent the delete") << true;
}

void TestLibraryDelete::undoKeepsWhatWasTypedBeforeTheDelete()
{
    QFETCH(bool, cycleBetween);
    const FNPage page = syncedPage(QStringLiteral("Notes"));
    const FNBlock block = m_device->addBlock(page.localID, QStringLiteral("draft"), 0);
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    // Typed, and the page deleted before the editor queued the edit.
    m_device->setBlockText(block.localID, QStringLiteral("draft typed"));
    m_deleter->deletePage(page.localID);
    QSignalSpy finished(m_deleter.get(), &LibraryDeleter::serverWorkFinished);
    if (cycleBetween) {
        QVERIFY(m_device->sync());
        QVERIFY(m_fake.state().pages.at(page.serverID).inTrash());
    }
    undo();
    if (cycleBetween)
        QVERIFY(finished.wait());
    QVERIFY(m_device->sync());

    QVERIFY(m_device->store().state().outbox.empty());
    QVERIFY(!m_fake.state().pages.at(page.serverID).inTrash());
    const auto onService = m_fake.storedBlocks(page.serverID);
    QCOMPARE(onService.size(), size_t(1));
    QCOMPARE(FakeService::stringField(onService[0].content, QStringLiteral("text")),
             QStringLiteral("draft typed"));
    // Another device of the account reads it too.
    TestDevice other(m_fake.origin(), m_account.token);
    QVERIFY(other.sync());
    const FNPage *there = other.pageWithServerID(page.serverID);
    QVERIFY(there);
    const auto blocks = other.liveBlocks(there->localID);
    QCOMPARE(blocks.size(), size_t(1));
    QCOMPARE(TestDevice::textOf(blocks[0]), QStringLiteral("draft typed"));
}

QTEST_GUILESS_MAIN(TestLibraryDelete)
#include "tst_library_delete.moc"
