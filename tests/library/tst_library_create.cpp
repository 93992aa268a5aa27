#include "api/api_client.h"
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "library/library_creator.h"
#include "library/library_row_editor.h"
#include "platform/settings.h"
#include "store/template_store.h"
#include "support/app_harness.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kFolders = QStringLiteral("/api/folders.php");
const QString kPages = QStringLiteral("/api/pages.php");
const QString kBlocks = QStringLiteral("/api/blocks.php");

JSONObject bodyOf(const HttpRequest &request)
{
    return parseJSONObject(request.body);
}

QStringList keysOf(const JSONObject &object)
{
    QStringList keys;
    for (const auto &entry : object)
        keys << entry.first;
    return keys;
}

PageTemplate meetingTemplate()
{
    PageTemplate t;
    t.id = QStringLiteral("T1");
    t.name = QStringLiteral("Meeting");
    t.icon = QStringLiteral("📝");
    t.blocks = {{QStringLiteral("h1"), QStringLiteral(R"({"text":"Agenda"})"), std::nullopt},
                {QStringLiteral("todo"), QStringLiteral(R"({"text":"Notes","checked":false})"), std::nullopt},
                {QStringLiteral("text"), QStringLiteral("not json"), std::nullopt}};
    return t;
}

} // namespace

// Making folders and pages in the sidebar, end to end against the fake service.
class TestLibraryCreate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void nothingWithoutAWorkspace();
    void folderPlacement_data();
    void folderPlacement();
    void folderCreateReplyKeepsEditsMadeMeanwhile_data();
    void folderCreateReplyKeepsEditsMadeMeanwhile();
    void pagePlacement_data();
    void pagePlacement();
    void blankPageAndSubpageReachTheService();
    void pageInFolderIsMovedOnceItHasItsServerID_data();
    void pageInFolderIsMovedOnceItHasItsServerID();
    void templatePageSendsItsBlocks();
    void templateBlocksAreSentAsTheyAreWhenTheIDComes();
    void templateWithoutBlocksQueuesNoBlocks();
    void templateNestingReachesTheService();
    void owedWorkSurvivesARestart();
    void deleteTemplateRemovesEveryCopy();

private:
    void signIn();
    FNFolder syncedFolder(const QString &name);
    std::vector<HttpRequest> requests(const QString &path, const QByteArray &method) const
    {
        return requestsWith(m_fake, path, method);
    }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<LibraryCreator> m_creator;
    QDateTime m_now;
    int m_accounts = 0;
};

void TestLibraryCreate::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryCreate::init()
{
    m_fake.clearFaults();
    m_fake.setOffline(false);
    signIn();
    m_fake.clearRequests();
}

void TestLibraryCreate::cleanup()
{
    m_creator.reset();
    m_device.reset();
}

void TestLibraryCreate::signIn()
{
    m_account =
        m_fake.createAccount(QStringLiteral("make%1@example.com").arg(++m_accounts), "secret12", "Maker");
    m_device = deviceInWorkspace(m_fake, m_account);
    m_now = QDateTime::currentDateTimeUtc();
    m_device->engine().setClock([this] { return m_now; });
    m_creator = std::make_unique<LibraryCreator>(m_device->store(), m_device->engine(), nullptr);
}

FNFolder TestLibraryCreate::syncedFolder(const QString &name)
{
    FNFolder f;
    f.serverID = m_fake.state().nextFolderId++;
    f.workspaceServerID = m_account.workspaceId;
    f.name = name;
    f.position = 1;
    return mirrorFolder(m_fake, m_device->store(), f);
}

void TestLibraryCreate::nothingWithoutAWorkspace()
{
    LocalStore &store = m_device->store();
    store.setWorkspaces({});
    QSignalSpy created(m_creator.get(), &LibraryCreator::pageCreated);
    QVERIFY(!m_creator->createFolder(std::nullopt));
    QVERIFY(!m_creator->createPage(std::nullopt, std::nullopt));
    QVERIFY(!m_creator->createPageFromTemplate(meetingTemplate()));
    QVERIFY(store.state().folders.empty() && store.state().pages.empty() && store.state().blocks.empty());
    QVERIFY(store.state().outbox.empty());
    QCOMPARE(created.count(), 0);
}

void TestLibraryCreate::folderPlacement_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<bool>("nested");
    QTest::newRow("top level: after 1 and 5 comes 6") << "" << qint64(6) << false;
    QTest::newRow("in a synced folder with children") << "Synced" << qint64(4) << true;
    QTest::newRow("first in an empty synced folder") << "Empty" << qint64(1) << true;
    QTest::newRow("first in an unsynced folder, linked by local id") << "Local" << qint64(1) << false;
}

void TestLibraryCreate::folderPlacement()
{
    QFETCH(QString, parent);
    QFETCH(qint64, position);
    QFETCH(bool, nested);
    LocalStore &store = m_device->store();
    auto add = [&](const QString &name, qint64 serverID, qint64 parentID, qint64 pos, qint64 workspace) {
        FNFolder f;
        f.serverID = serverID;
        f.workspaceServerID = workspace;
        f.parentFolderServerID = parentID;
        f.name = name;
        f.position = pos;
        store.upsertFolder(f);
        return f;
    };
    QHash<QString, FNFolder> folders;
    folders[QStringLiteral("Synced")] = add(QStringLiteral("Synced"), 501, 0, 1, m_account.workspaceId);
    folders[QStringLiteral("Local")] = add(QStringLiteral("Local"), 0, 0, 5, m_account.workspaceId);
    folders[QStringLiteral("Empty")] = add(QStringLiteral("Empty"), 502, 501, 3, m_account.workspaceId);
    store.markFolderDeleted(add(QStringLiteral("Deleted"), 503, 0, 9, m_account.workspaceId).localID);
    add(QStringLiteral("Elsewhere"), 504, 0, 20, m_account.workspaceId + 1000);

    const std::optional<FNFolder> chosen = parent.isEmpty() ? std::nullopt : std::optional(folders[parent]);
    const auto localID = m_creator->createFolder(chosen);
    QVERIFY(localID);
    const FNFolder made = *store.folder(*localID);
    QCOMPARE(made.name, QStringLiteral("New folder"));
    QCOMPARE(made.icon, QStringLiteral("📁"));
    QCOMPARE(made.position, position);
    QCOMPARE(made.serverID, qint64(0));
    QCOMPARE(made.parentFolderServerID, nested ? chosen->serverID : qint64(0));
    const bool linked = chosen && chosen->serverID == 0;
    QCOMPARE(made.parentFolderLocalID, linked ? std::optional(chosen->localID) : std::nullopt);
    if (linked)
        return; // its create waits for the parent's server id

    QTRY_COMPARE(requests(kFolders, "POST").size(), size_t(1));
    const JSONObject body = bodyOf(requests(kFolders, "POST")[0]);
    QStringList expectedKeys{"icon", "name", "workspace_id"};
    if (nested)
        expectedKeys << "parent_folder_id";
    expectedKeys.sort();
    QCOMPARE(keysOf(body), expectedKeys);
}

void TestLibraryCreate::folderCreateReplyKeepsEditsMadeMeanwhile_data()
{
    QTest::addColumn<bool>("rename");
    QTest::addColumn<bool>("remove");
    QTest::newRow("renamed") << true << false;
    QTest::newRow("deleted") << false << true;
}

void TestLibraryCreate::folderCreateReplyKeepsEditsMadeMeanwhile()
{
    QFETCH(bool, rename);
    QFETCH(bool, remove);
    LocalStore &store = m_device->store();
    m_fake.setFault(kFolders, once(FakeService::Fault::delay(300)));
    const QString localID = *m_creator->createFolder(std::nullopt);
    QTRY_COMPARE(requests(kFolders, "POST").size(), size_t(1));

    FNFolder edited = store.state().folders[0];
    if (rename)
        edited.name = QStringLiteral("Renamed meanwhile");
    store.upsertFolder(edited);
    if (remove)
        store.markFolderDeleted(localID);

    QTRY_VERIFY(store.state().folders[0].serverID != 0);
    const FNFolder &after = store.state().folders[0];
    QCOMPARE(after.name, rename ? QStringLiteral("Renamed meanwhile") : QStringLiteral("New folder"));
    QCOMPARE(bool(after.deletedAt), remove);
    QCOMPARE(store.state().folders.size(), size_t(1));
}

void TestLibraryCreate::pagePlacement_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("parentID");
    QTest::addColumn<qint64>("folderID");
    QTest::newRow("top level") << ""
                               << "" << qint64(6) << qint64(0) << qint64(0);
    QTest::newRow("in a synced folder") << ""
                                        << "Synced" << qint64(3) << qint64(0) << qint64(701);
    QTest::newRow("first in an unsynced folder, linked by local id")
        << ""
        << "Local" << qint64(1) << qint64(0) << qint64(0);
    QTest::newRow("subpage: among all the parent's children, no folder")
        << "Parent"
        << "" << qint64(5) << qint64(801) << qint64(0);
    QTest::newRow("first subpage of an unsynced page, linked by local id")
        << "Unsynced"
        << "" << qint64(1) << qint64(0) << qint64(0);
}

void TestLibraryCreate::pagePlacement()
{
    QFETCH(QString, parent);
    QFETCH(QString, folder);
    QFETCH(qint64, position);
    QFETCH(qint64, parentID);
    QFETCH(qint64, folderID);
    m_device->setToken(std::nullopt); // placement only: nothing is sent
    LocalStore &store = m_device->store();
    QHash<QString, FNFolder> folders;
    for (const auto &[name, serverID] : {std::pair{"Synced", 701}, std::pair{"Local", 0}}) {
        FNFolder f;
        f.serverID = serverID;
        f.workspaceServerID = m_account.workspaceId;
        f.name = QString::fromLatin1(name);
        store.upsertFolder(f);
        folders[f.name] = f;
    }
    QHash<QString, FNPage> pages;
    auto add = [&](const QString &title, qint64 serverID, qint64 inFolder, qint64 under, qint64 pos,
                   qint64 workspace = 0) {
        FNPage p;
        p.serverID = serverID;
        p.workspaceServerID = workspace ? workspace : m_account.workspaceId;
        p.folderServerID = inFolder;
        p.parentPageServerID = under;
        p.title = title;
        p.position = pos;
        store.upsertPage(p);
        pages[title] = p;
        return p;
    };
    add(QStringLiteral("Parent"), 801, 701, 0, 1);
    add(QStringLiteral("Unsynced"), 0, 0, 0, 5);
    add(QStringLiteral("Child in no folder"), 802, 0, 801, 1);
    add(QStringLiteral("Child naming a folder"), 803, 701, 801, 4);
    add(QStringLiteral("In folder"), 804, 701, 0, 2);
    store.markPageDeleted(add(QStringLiteral("Deleted"), 805, 0, 0, 40).localID);
    add(QStringLiteral("Elsewhere"), 806, 0, 0, 50, m_account.workspaceId + 1000);

    const std::optional<FNPage> parentPage = parent.isEmpty() ? std::nullopt : std::optional(pages[parent]);
    const std::optional<FNFolder> inFolder = folder.isEmpty() ? std::nullopt : std::optional(folders[folder]);
    QCOMPARE(m_creator->nextPagePosition(parentPage, inFolder), position);
    QSignalSpy created(m_creator.get(), &LibraryCreator::pageCreated);
    const QString localID = *m_creator->createPage(parentPage, inFolder);
    QCOMPARE(created.count(), 1);
    QCOMPARE(created[0][0].toString(), localID);

    const FNPage &made = *m_device->page(localID);
    QCOMPARE(made.title, QStringLiteral("Untitled"));
    QCOMPARE(made.icon, QString());
    QCOMPARE(made.position, position);
    QCOMPARE(made.parentPageServerID, parentID);
    QCOMPARE(made.folderServerID, folderID);
    QCOMPARE(made.coverOffsetX, qint64(50));
    QCOMPARE(made.coverOffsetY, qint64(50));
    const bool linkedParent = parentPage && parentPage->serverID == 0;
    const bool linkedFolder = inFolder && inFolder->serverID == 0;
    QCOMPARE(made.parentPageLocalID, linkedParent ? std::optional(parentPage->localID) : std::nullopt);
    QCOMPARE(made.folderLocalID, linkedFolder ? std::optional(inFolder->localID) : std::nullopt);

    // The create, then the move into the folder when the page is in one.
    QCOMPARE(store.state().outbox.size(), size_t(inFolder ? 2 : 1));
    if (inFolder) {
        const FNSyncOp &move = store.state().outbox[1];
        QCOMPARE(move.entity, QStringLiteral("page"));
        QCOMPARE(move.op, QStringLiteral("move"));
        QCOMPARE(move.refLocalID, localID);
        QCOMPARE(move.payloadJSON,
                 folderID ? QStringLiteral(R"({"page_id":0,"folder_id":%1})").arg(folderID)
                          : QStringLiteral(R"({"folder_local_id":"%1","page_id":0})").arg(inFolder->localID));
    }
    if (linkedParent) {
        QCOMPARE(store.state().outbox[0].payloadJSON,
                 QStringLiteral(R"({"icon":"","parent_page_local_id":"%1","position":1,"title":"Untitled",)"
                                R"("workspace_id":%2})")
                     .arg(parentPage->localID)
                     .arg(m_account.workspaceId));
        return;
    }
    const FNSyncOp &op = store.state().outbox[0];
    QCOMPARE(op.entity, QStringLiteral("page"));
    QCOMPARE(op.op, QStringLiteral("create"));
    QCOMPARE(op.refLocalID, localID);
    QCOMPARE(op.attempts, qint64(0));
    // No folder key ever; the parent only when it is on the service.
    QString expected = QStringLiteral(R"({"workspace_id":%1,)").arg(m_account.workspaceId);
    if (parentID)
        expected += QStringLiteral(R"("parent_page_id":%1,)").arg(parentID);
    expected += QStringLiteral(R"("title":"Untitled","icon":"","position":%1})").arg(position);
    QCOMPARE(op.payloadJSON, expected);
}

void TestLibraryCreate::blankPageAndSubpageReachTheService()
{
    LocalStore &store = m_device->store();
    const QString top = *m_creator->createPage(std::nullopt, std::nullopt);
    QTRY_VERIFY(m_device->page(top)->serverID != 0);
    QTRY_VERIFY(store.state().outbox.empty());
    QTRY_VERIFY(!m_device->engine().isSyncing());
    const FNPage parent = *m_device->page(top);

    const QString sub = *m_creator->createPage(parent, std::nullopt);
    QTRY_VERIFY(m_device->page(sub)->serverID != 0);
    const qint64 subID = m_device->page(sub)->serverID;
    QCOMPARE(m_fake.state().pages.at(subID).parentPageId, parent.serverID);
    QCOMPARE(m_fake.state().pages.at(parent.serverID).title, QStringLiteral("Untitled"));
    QCOMPARE(requests(kFolders, "PATCH").size(), size_t(0));
}

void TestLibraryCreate::pageInFolderIsMovedOnceItHasItsServerID_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("idle") << "idle";
    QTest::newRow("a sync already running") << "running";
    QTest::newRow("offline") << "offline";
}

void TestLibraryCreate::pageInFolderIsMovedOnceItHasItsServerID()
{
    QFETCH(QString, situation);
    const FNFolder folder = syncedFolder(QStringLiteral("Projects"));
    auto page = [&](const QString &id) -> const FNPage & { return *m_device->page(id); };

    std::optional<QCoro::Task<>> running;
    if (situation == QLatin1String("running")) {
        m_fake.setFault(QStringLiteral("/api/sync.php"), once(FakeService::Fault::delay(300)));
        running.emplace(m_device->engine().syncNow());
        QVERIFY(m_device->engine().isSyncing());
    } else if (situation == QLatin1String("offline")) {
        m_fake.setOffline(true);
    }

    const QString localID = *m_creator->createPage(std::nullopt, folder);
    QCOMPARE(page(localID).folderServerID, folder.serverID);

    if (running) {
        QVERIFY(runTask(std::move(*running)).ok());
        QCOMPARE(page(localID).serverID, qint64(0)); // that sync did not carry the new page
    } else if (situation == QLatin1String("offline")) {
        QSignalSpy settled(m_creator.get(), &LibraryCreator::pendingSettled);
        QVERIFY(settled.wait());
        QCOMPARE(page(localID).serverID, qint64(0));
        m_fake.setOffline(false);
        m_now = m_now.addSecs(120); // past the retry wait
    }
    if (situation != QLatin1String("idle"))
        QVERIFY(m_device->sync()); // the next cycle of the engine's loop

    QTRY_COMPARE(requests(kFolders, "PATCH").size(), size_t(1));
    const qint64 serverID = page(localID).serverID;
    QVERIFY(serverID != 0);
    QTRY_VERIFY(m_device->store().state().outbox.empty());
    QCOMPARE(m_fake.state().pages.at(serverID).folderId, folder.serverID);
    const JSONObject move = bodyOf(requests(kFolders, "PATCH")[0]);
    QCOMPARE(move.at(QStringLiteral("page_id")).toInt(), serverID);
    QCOMPARE(move.at(QStringLiteral("folder_id")).toInt(), folder.serverID);
    // The create itself named no folder; the page showed in its folder all along.
    QVERIFY(!bodyOf(requests(kPages, "POST")[0]).count(QStringLiteral("folder_id")));
    QCOMPARE(page(localID).folderServerID, folder.serverID);
    QVERIFY(m_device->sync());
    QCOMPARE(page(localID).folderServerID, folder.serverID);
    QCOMPARE(requests(kFolders, "PATCH").size(), size_t(1));
}

void TestLibraryCreate::templatePageSendsItsBlocks()
{
    LocalStore &store = m_device->store();
    const QString localID = *m_creator->createPageFromTemplate(meetingTemplate());
    const FNPage &made = *m_device->page(localID);
    QCOMPARE(made.title, QStringLiteral("Meeting"));
    QCOMPARE(made.icon, QStringLiteral("📝"));
    QCOMPARE(made.position, qint64(1));
    const std::vector<FNBlock> blocks = m_device->liveBlocks(localID);
    QCOMPARE(blocks.size(), size_t(3));
    for (qint64 i = 0; i < 3; ++i)
        QCOMPARE(blocks[size_t(i)].position, i * kBlockPositionGap); // spaced: a first insert moves none
    QCOMPARE(blocks[2].contentJSON, QStringLiteral("not json"));

    QTRY_COMPARE(requests(kBlocks, "POST").size(), size_t(1));
    QTRY_VERIFY(store.state().outbox.empty());
    const qint64 pageID = m_device->page(localID)->serverID;
    // A block whose content does not read is kept here as it is, never sent as an empty one.
    const auto stored = m_fake.storedBlocks(pageID);
    QCOMPARE(stored.size(), size_t(2));
    QCOMPARE(stored[0].type, QStringLiteral("h1"));
    QCOMPARE(stored[0].content.at(QStringLiteral("text")).toString(), QStringLiteral("Agenda"));
    QCOMPARE(m_device->block(blocks[2].localID)->contentJSON, QStringLiteral("not json"));
    const JSONObject body = bodyOf(requests(kBlocks, "POST")[0]);
    const JSONArray items = body.at(QStringLiteral("blocks")).toArray();
    QCOMPARE(items.size(), size_t(2));
    for (const JSONValue &item : items) {
        QVERIFY(!item.toObject().count(QStringLiteral("id")));
        QVERIFY(!item.toObject().count(QStringLiteral("parent_block_id")));
    }
    QCOMPARE(items[0].toObject().at(QStringLiteral("client_id")).toString(), blocks[0].localID);
    // The template page is created at the top level: no move follows.
    QCOMPARE(requests(kFolders, "PATCH").size(), size_t(0));
}

void TestLibraryCreate::templateBlocksAreSentAsTheyAreWhenTheIDComes()
{
    LocalStore &store = m_device->store();
    m_fake.setOffline(true);
    QSignalSpy settled(m_creator.get(), &LibraryCreator::pendingSettled);
    const QString localID = *m_creator->createPageFromTemplate(meetingTemplate());
    QVERIFY(settled.wait());
    QVERIFY(m_creator->hasPendingBlockUpload(localID));

    // Edited in the editor before the page reached the service.
    const std::vector<FNBlock> blocks = m_device->liveBlocks(localID);
    m_device->setBlockText(blocks[0].localID, QStringLiteral("Agenda, revised"));
    store.markBlockDeleted(blocks[2].localID);

    m_fake.setOffline(false);
    m_now = m_now.addSecs(120);
    QVERIFY(m_device->sync());
    QTRY_VERIFY(!m_creator->hasPendingBlockUpload(localID));
    QTRY_VERIFY(store.state().outbox.empty());
    const qint64 pageID = m_device->page(localID)->serverID;
    const auto stored = m_fake.storedBlocks(pageID);
    QCOMPARE(stored.size(), size_t(2));
    QCOMPARE(stored[0].content.at(QStringLiteral("text")).toString(), QStringLiteral("Agenda, revised"));
    QVERIFY(m_device->block(blocks[0].localID)->serverID != 0);
}

void TestLibraryCreate::templateWithoutBlocksQueuesNoBlocks()
{
    LocalStore &store = m_device->store();
    PageTemplate bare;
    bare.id = QStringLiteral("T2");
    bare.name = QStringLiteral("Name");
    bare.title = QStringLiteral("Title wins");
    const QString localID = *m_creator->createPageFromTemplate(bare);
    QCOMPARE(store.state().pages[0].title, QStringLiteral("Title wins"));
    QTRY_VERIFY(m_device->page(localID)->serverID != 0);
    QTRY_VERIFY(store.state().outbox.empty());
    QVERIFY(!m_creator->hasPendingBlockUpload(localID));
    QCOMPARE(requests(kBlocks, "POST").size(), size_t(0));
}

void TestLibraryCreate::templateNestingReachesTheService()
{
    PageTemplate recipe;
    recipe.id = QStringLiteral("T3");
    recipe.name = QStringLiteral("Recipe");
    recipe.blocks = {{QStringLiteral("toggle"), QStringLiteral(R"({"text":"Ingredients"})"), std::nullopt},
                     {QStringLiteral("text"), QStringLiteral(R"({"text":"2 eggs"})"), 0},
                     {QStringLiteral("text"), QStringLiteral(R"({"text":"Serve"})"), std::nullopt}};
    const QString localID = *m_creator->createPageFromTemplate(recipe);
    QTRY_VERIFY(m_device->page(localID)->serverID != 0);
    QTRY_VERIFY(m_device->store().state().outbox.empty());
    QTRY_COMPARE(m_fake.storedBlocks(m_device->page(localID)->serverID).size(), size_t(3));
    qint64 toggle = 0;
    for (const auto &b : m_fake.storedBlocks(m_device->page(localID)->serverID)) {
        if (b.type == QLatin1String("toggle"))
            toggle = b.id;
    }
    QVERIFY(toggle != 0);
    for (const auto &b : m_fake.storedBlocks(m_device->page(localID)->serverID)) {
        const QString text = b.content.at(QStringLiteral("text")).toString();
        QCOMPARE(b.parentBlockId, text == QLatin1String("2 eggs") ? toggle : 0);
    }
}

void TestLibraryCreate::owedWorkSurvivesARestart()
{
    const FNFolder inbox = syncedFolder(QStringLiteral("Inbox"));
    AppDevice device(m_fake.origin());
    auto app = std::make_unique<AppHarness>(device);
    app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Maker"), QString()});
    FNWorkspace workspace;
    workspace.serverID = m_account.workspaceId;
    app->store.setWorkspaces({workspace});
    app->store.upsertFolder(inbox);
    // A folder an older version stored without queuing its create.
    FNFolder unqueued;
    unqueued.workspaceServerID = m_account.workspaceId;
    unqueued.name = QStringLiteral("From before");
    app->store.upsertFolder(unqueued);

    m_fake.setOffline(true);
    QString folderID, inFolder, fromTemplate;
    {
        LibraryCreator creator(app->store, app->engine, nullptr);
        LibraryRowEditor editor(app->store, app->engine);
        folderID = *creator.createFolder(std::nullopt);
        editor.commitFolderRename(folderID, QStringLiteral("Archive"));
        inFolder = *creator.createPage(std::nullopt, inbox);
        fromTemplate = *creator.createPageFromTemplate(meetingTemplate());
        QTRY_VERIFY(!app->engine.isSyncing());
    }
    app->store.save();

    // The app is quit and launched again, then the network comes back.
    app = std::make_unique<AppHarness>(device);
    app->session.restoreSession();                                   // as the window does at launch
    const auto later = QDateTime::currentDateTimeUtc().addSecs(600); // past every retry wait
    app->engine.setClock([later] { return later; });
    LibraryCreator creator(app->store, app->engine, nullptr);
    m_fake.setOffline(false);
    QVERIFY(runTask(app->engine.syncNow()).ok());
    QTRY_COMPARE(requests(kBlocks, "POST").size(), size_t(1));
    QTRY_VERIFY(app->store.state().outbox.empty());

    const FNFolder &made = app->storedFolder(folderID);
    QVERIFY(made.serverID != 0);
    QCOMPARE(m_fake.state().folders.at(made.serverID).name, QStringLiteral("Archive"));
    const FNFolder &older = app->storedFolder(unqueued.localID);
    QVERIFY(older.serverID != 0);
    QCOMPARE(m_fake.state().folders.at(older.serverID).name, QStringLiteral("From before"));
    const qint64 moved = app->storedPage(inFolder).serverID;
    QCOMPARE(m_fake.state().pages.at(moved).folderId, inbox.serverID);
    QCOMPARE(app->storedPage(inFolder).folderServerID, inbox.serverID);
    // The meeting template's third block does not read as content: it stays on this device.
    QCOMPARE(m_fake.storedBlocks(app->storedPage(fromTemplate).serverID).size(), size_t(2));
}

void TestLibraryCreate::deleteTemplateRemovesEveryCopy()
{
    const auto settings = Settings::temporary();
    TemplateStore templates(*settings);
    PageTemplate keep = meetingTemplate();
    keep.id = QStringLiteral("keep");
    PageTemplate doomed = meetingTemplate();
    templates.setTemplates({doomed, keep, doomed});
    LibraryCreator creator(m_device->store(), m_device->engine(), &templates);
    creator.deleteTemplate(doomed);
    QCOMPARE(templates.templates(), std::vector<PageTemplate>{keep});
    TemplateStore reloaded(*settings);
    QCOMPARE(reloaded.templates(), std::vector<PageTemplate>{keep});
}

QTEST_GUILESS_MAIN(TestLibraryCreate)
#include "tst_library_create.moc"
