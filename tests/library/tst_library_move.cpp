#include "api/api_client.h"
#include "fake-service/fake_service.h"
#include "library/library_creator.h"
#include "library/library_mover.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kFolders = QStringLiteral("/api/folders.php");
const QString kPages = QStringLiteral("/api/pages.php");
constexpr int kChainDepth = 25;

} // namespace

// Drag-and-drop moves and "Move to root": the local result and what reaches the fake service.
class TestLibraryMove : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void folderDrops_data();
    void folderDrops();
    void pageDropOnFolderOrRoot_data();
    void pageDropOnFolderOrRoot();
    void pageDropOnPageRenumbersItsWorkspacesSiblings_data();
    void pageDropOnPageRenumbersItsWorkspacesSiblings();
    void pageDropIntoItsOwnSubtreeIsRefused_data();
    void pageDropIntoItsOwnSubtreeIsRefused();
    void moveToRootKeepsParentAndPosition();
    void unsyncedPageOwesItsMove();

private:
    FNFolder folder(const QString &name, qint64 serverID, qint64 parentServerID);
    FNPage syncedPage(const QString &title);
    // "Child", synced under a synced "Parent", then placed in the folder locally only, at the position
    // on both sides.
    FNPage syncedChild(qint64 folderServerID, qint64 position);
    FNPage stored(const FNPage &page) const;
    FNFolder stored(const FNFolder &folder) const;
    QList<QByteArray> bodies(const QString &path, const QByteArray &method) const;
    // Runs a drop; what it queued goes out in the cycle the engine starts on its own.
    bool drop(const std::function<void()> &action);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<LibraryCreator> m_creator;
    std::unique_ptr<LibraryMover> m_mover;
    int m_accounts = 0;
};

void TestLibraryMove::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryMove::init()
{
    m_account = m_fake.createAccount(QStringLiteral("move%1@example.com").arg(++m_accounts), "secret12", "M");
    m_device = deviceInWorkspace(m_fake, m_account);
    m_creator = std::make_unique<LibraryCreator>(m_device->store(), m_device->engine(), nullptr);
    m_mover = std::make_unique<LibraryMover>(m_device->store(), m_device->engine(), *m_creator);
    m_fake.clearRequests();
}

void TestLibraryMove::cleanup()
{
    m_mover.reset();
    m_creator.reset();
    m_device.reset();
}

// A folder on the device and, when it has a server id, on the fake service too.
FNFolder TestLibraryMove::folder(const QString &name, qint64 serverID, qint64 parentServerID)
{
    FNFolder f;
    f.serverID = serverID;
    f.workspaceServerID = m_account.workspaceId;
    f.parentFolderServerID = parentServerID;
    f.name = name;
    return mirrorFolder(m_fake, m_device->store(), f);
}

FNPage TestLibraryMove::syncedPage(const QString &title)
{
    const FNPage made = m_device->addPage(m_account.workspaceId, title);
    m_device->sync();
    return stored(made);
}

FNPage TestLibraryMove::syncedChild(qint64 folderServerID, qint64 position)
{
    const FNPage parentPage = syncedPage(QStringLiteral("Parent"));
    FNPage child = syncedPage(QStringLiteral("Child"));
    child.parentPageServerID = parentPage.serverID;
    child.folderServerID = folderServerID;
    child.position = position;
    m_device->store().upsertPage(child);
    m_fake.state().pages[child.serverID].position = position;
    m_fake.clearRequests();
    return child;
}

FNPage TestLibraryMove::stored(const FNPage &page) const
{
    return *m_device->page(page.localID);
}

FNFolder TestLibraryMove::stored(const FNFolder &folder) const
{
    const LocalStore &store = m_device->store();
    return *store.folder(folder.localID);
}

QList<QByteArray> TestLibraryMove::bodies(const QString &path, const QByteArray &method) const
{
    QList<QByteArray> out;
    for (const HttpRequest &r : requestsWith(m_fake, path, method))
        out << r.target + ' ' + r.body;
    return out;
}

void TestLibraryMove::folderDrops_data()
{
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("target"); // "" for the list root
    QTest::addColumn<bool>("moved");
    QTest::newRow("onto itself") << "A"
                                 << "A" << false;
    QTest::newRow("onto its own subfolder") << "A"
                                            << "L1" << false;
    QTest::newRow("onto a descendant 25 levels below") << "A"
                                                       << "L25" << false;
    QTest::newRow("a subfolder onto another folder") << "L3"
                                                     << "D" << true;
    QTest::newRow("a subfolder to the top level") << "L3"
                                                  << "" << true;
    QTest::newRow("a local-only folder onto the root") << "Local"
                                                       << "" << false;
}

void TestLibraryMove::folderDrops()
{
    QFETCH(QString, dragged);
    QFETCH(QString, target);
    QFETCH(bool, moved);
    QHash<QString, FNFolder> folders;
    folders[QStringLiteral("A")] = folder(QStringLiteral("A"), 100, 0);
    qint64 parent = 100;
    for (int level = 1; level <= kChainDepth; ++level) {
        const QString name = QStringLiteral("L%1").arg(level);
        folders[name] = folder(name, 100 + level, parent);
        parent = 100 + level;
    }
    folders[QStringLiteral("D")] = folder(QStringLiteral("D"), 200, 0);
    FNFolder local = folder(QStringLiteral("Local"), 0, 0);
    local.parentFolderServerID = 0;
    folders[QStringLiteral("Local")] = local;

    const FNFolder before = folders[dragged];
    const qint64 targetID = target.isEmpty() ? 0 : folders[target].serverID;
    QVERIFY(drop([&] { m_mover->handleFolderDrop(LibraryMover::folderPayload(before.localID), targetID); }));

    const FNFolder after = stored(before);
    QCOMPARE(after.parentFolderServerID, moved ? targetID : before.parentFolderServerID);
    QCOMPARE(after.position, before.position);
    const QList<QByteArray> patches = bodies(kFolders, "PATCH");
    if (!moved) {
        QVERIFY(patches.isEmpty());
        return;
    }
    // The top level is sent as 0: without the key the service would keep the old parent.
    QCOMPARE(patches, QList<QByteArray>{"/api/folders.php " + QByteArray(R"({"folder_id":)") +
                                        QByteArray::number(before.serverID) + R"(,"parent_folder_id":)" +
                                        QByteArray::number(targetID) + "}"});
    QCOMPARE(m_fake.state().folders[before.serverID].parentFolderId, targetID);
}

void TestLibraryMove::pageDropOnFolderOrRoot_data()
{
    QTest::addColumn<bool>("toRoot");
    QTest::newRow("onto a folder row") << false;
    QTest::newRow("onto the list root") << true;
}

void TestLibraryMove::pageDropOnFolderOrRoot()
{
    QFETCH(bool, toRoot);
    const FNFolder target = folder(QStringLiteral("Inbox"), 300, 0);
    const FNPage child = syncedChild(999, 7);

    const qint64 targetID = toRoot ? 0 : target.serverID;
    QVERIFY(drop([&] { m_mover->handleFolderDrop(LibraryMover::pagePayload(child.localID), targetID); }));
    const FNPage after = stored(child);
    QCOMPARE(after.parentPageServerID, qint64(0));
    QCOMPARE(after.folderServerID, targetID);
    QCOMPARE(after.position, qint64(7));
    const QByteArray expected =
        toRoot ? QByteArray(R"({"page_id":%1})") : QByteArray(R"({"page_id":%1,"folder_id":300})");
    QCOMPARE(bodies(kFolders, "PATCH"),
             QList<QByteArray>{"/api/folders.php?move_page=1 " +
                               QByteArray(expected).replace("%1", QByteArray::number(child.serverID))});
}

void TestLibraryMove::pageDropOnPageRenumbersItsWorkspacesSiblings_data()
{
    QTest::addColumn<int>("dragged");
    QTest::addColumn<int>("target");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QList<int>>("patched"); // pages sent with their new positions, in order
    QTest::newRow("last before third") << 3 << 2 << QStringList({"P0", "P1", "P3", "P2"}) << QList<int>{3, 2};
    QTest::newRow("onto its next sibling: only the dragged page")
        << 1 << 2 << QStringList({"P0", "P1", "P2", "P3"}) << QList<int>{1};
    QTest::newRow("first before last")
        << 0 << 3 << QStringList({"P1", "P2", "P0", "P3"}) << QList<int>{1, 2, 0};
}

void TestLibraryMove::pageDropOnPageRenumbersItsWorkspacesSiblings()
{
    QFETCH(int, dragged);
    QFETCH(int, target);
    QFETCH(QStringList, order);
    QFETCH(QList<int>, patched);
    LocalStore &store = m_device->store();
    std::vector<FNPage> pages;
    for (int i = 0; i < 4; ++i) {
        FNPage p = syncedPage(QStringLiteral("P%1").arg(i));
        p.position = i;
        store.upsertPage(p);
        pages.push_back(p);
    }
    // A top-level page of another workspace keeps its place and gets no operation.
    FNPage other;
    other.serverID = 9999;
    other.workspaceServerID = m_account.workspaceId + 1000;
    other.position = 1;
    store.upsertPage(other);
    m_fake.clearRequests();

    const FNPage targetPage = stored(pages[size_t(target)]);
    QVERIFY(drop([&] {
        m_mover->handlePageDrop(LibraryMover::pagePayload(pages[size_t(dragged)].localID), targetPage);
    }));

    for (int k = 0; k < order.size(); ++k) {
        const auto it =
            std::find_if(pages.begin(), pages.end(), [&](const FNPage &p) { return p.title == order[k]; });
        QCOMPARE(stored(*it).position, qint64(k));
    }
    QCOMPARE(stored(other).position, qint64(1));

    QList<QByteArray> expected;
    for (int i : patched) {
        const qint64 position = order.indexOf(QStringLiteral("P%1").arg(i));
        expected << "/api/pages.php " + QByteArray(R"({"page_id":)") +
                        QByteArray::number(pages[size_t(i)].serverID) + R"(,"position":)" +
                        QByteArray::number(position) + "}";
    }
    QCOMPARE(bodies(kPages, "PATCH"), expected);
    QVERIFY(store.state().outbox.empty());
}

void TestLibraryMove::pageDropIntoItsOwnSubtreeIsRefused_data()
{
    QTest::addColumn<int>("depth");
    QTest::newRow("onto itself") << 0;
    QTest::newRow("onto its subpage") << 1;
    QTest::newRow("onto a page 25 levels below") << kChainDepth;
}

void TestLibraryMove::pageDropIntoItsOwnSubtreeIsRefused()
{
    QFETCH(int, depth);
    LocalStore &store = m_device->store();
    FNPage top;
    top.serverID = 500;
    top.workspaceServerID = m_account.workspaceId;
    store.upsertPage(top);
    FNPage below = top;
    for (int level = 1; level <= kChainDepth; ++level) {
        FNPage p;
        p.serverID = 500 + level;
        p.workspaceServerID = m_account.workspaceId;
        p.parentPageServerID = 500 + level - 1;
        store.upsertPage(p);
        if (level == depth)
            below = p;
    }
    const StoreState before = store.state();
    QVERIFY(drop([&] { m_mover->handlePageDrop(LibraryMover::pagePayload(top.localID), below); }));
    QCOMPARE(store.state().pages, before.pages);
    QVERIFY(store.state().outbox.empty());
    QVERIFY(m_fake.requests().isEmpty());
}

void TestLibraryMove::moveToRootKeepsParentAndPosition()
{
    const FNPage page = syncedChild(300, 4);

    m_mover->movePage(page, 0);
    const FNPage after = stored(page);
    QCOMPARE(after.folderServerID, qint64(0));
    QCOMPARE(after.parentPageServerID, page.parentPageServerID);
    QCOMPARE(after.position, qint64(4));
    QTRY_COMPARE(bodies(kFolders, "PATCH"),
                 QList<QByteArray>{"/api/folders.php?move_page=1 " + QByteArray(R"({"page_id":)") +
                                   QByteArray::number(page.serverID) + "}"});
}

void TestLibraryMove::unsyncedPageOwesItsMove()
{
    const FNFolder target = folder(QStringLiteral("Inbox"), 300, 0);
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Offline"));
    m_fake.setOffline(true);
    QVERIFY(
        drop([&] { m_mover->handleFolderDrop(LibraryMover::pagePayload(page.localID), target.serverID); }));
    QCOMPARE(stored(page).folderServerID, target.serverID);

    // Once its create has given it a server id, the service hears of the move.
    m_fake.setOffline(false);
    m_device->engine().setClock([] { return QDateTime::currentDateTimeUtc().addSecs(600); });
    QVERIFY(m_device->sync());
    const qint64 serverID = stored(page).serverID;
    QVERIFY(serverID != 0);
    QCOMPARE(m_fake.state().pages[serverID].folderId, target.serverID);
    QCOMPARE(stored(page).folderServerID, target.serverID);
    QVERIFY(m_device->store().state().outbox.empty());
}

bool TestLibraryMove::drop(const std::function<void()> &action)
{
    QSignalSpy cycle(&m_device->engine(), &SyncEngine::cycleFinished);
    const size_t queued = m_device->store().state().outbox.size();
    action();
    return m_device->store().state().outbox.size() == queued || cycle.wait();
}

QTEST_GUILESS_MAIN(TestLibraryMove)
#include "tst_library_move.moc"
