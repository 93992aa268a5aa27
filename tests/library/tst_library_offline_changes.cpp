#include "library/library_creator.h"
#include "library/library_deleter.h"
#include "library/library_list_view.h"
#include "library/library_mover.h"
#include "library/library_refresher.h"
#include "library/library_row_editor.h"
#include "library/library_row_model.h"
#include "library/library_tree.h"
#include "library_sync_fixture.h"
#include "store/retry_policy.h"
#include "support/task_outcome.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// Sidebar changes made offline, or that move a page to another parent, reach the service and stay
// put there and here: children of a record the service does not know yet, parent-changing drags,
// and folder deletes that fail or are cut short by a quit.
class TestLibraryOfflineChanges : public QObject, private LibrarySyncFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { startFake(); }
    void init();
    void cleanup() { cleanupView(); }

    void childOfAnOfflineParentLandsUnderIt_data();
    void childOfAnOfflineParentLandsUnderIt();
    void dragThatChangesTheParentIsSent_data();
    void dragThatChangesTheParentIsSent();
    void folderDeleteReachesTheServiceInTheEnd_data();
    void folderDeleteReachesTheServiceInTheEnd();
    void renamedOfflineSubpageStaysUnderItsParent_data();
    void renamedOfflineSubpageStaysUnderItsParent();
    void childrenOfARefusedPageAreSaved_data();
    void childrenOfARefusedPageAreSaved();
    void folderRenamedBeforeItsCreateGoesIsMadeOnce_data();
    void folderRenamedBeforeItsCreateGoesIsMadeOnce();
    void folderDeletedBeforeItsCreateWasAnsweredGivesUpItsPage_data();
    void folderDeletedBeforeItsCreateWasAnsweredGivesUpItsPage();

private:
    // One refresh of the sidebar from the service's listing.
    void refresh();
    // The row id of the row the record's row hangs under; empty at the top level.
    QString parentRowOf(const QString &rowID);
    using LibrarySyncFixture::parentRowOf;
    // The title of the page or name of the folder the record with the server id is listed under in
    // the sidebar of a second device of the account, once refreshed; empty at the top level.
    QString parentOnAnotherDevice(qint64 pageServerID);
    QString madeFolder(const std::function<void()> &make);
    QString madePage(const std::function<void()> &make);
    QMenu *menuOf(const QString &rowID);
    // Renamed in place, through the row's field.
    bool renameRow(const QString &rowID, const QString &text);
    // The folders of the account's workspace on the service, by name.
    QStringList serviceFolders();
    // The folder names and the page titles at the top level of a second device's refreshed sidebar.
    QString topRowsOnAnotherDevice();
};

void TestLibraryOfflineChanges::init()
{
    initClockedView();
}

void TestLibraryOfflineChanges::refresh()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), 15000);
    QSignalSpy polled(&m_view->refresher(), &LibraryRefresher::pollCycleFinished);
    m_view->refresher().startPolling();
    QVERIFY(polled.wait(15000));
    m_view->refresher().stopPolling();
}

QString TestLibraryOfflineChanges::parentRowOf(const QString &rowID)
{
    return parentRowOf(*m_view, m_app->store, rowID);
}

QString TestLibraryOfflineChanges::parentOnAnotherDevice(qint64 pageServerID)
{
    return onAnotherDevice([&](LibraryView &view, AppHarness &app) -> QString {
        const FNPage *page = app.store.pageWithServerID(pageServerID);
        if (!page)
            return QStringLiteral("(not listed)");
        const QString parent = parentRowOf(view, app.store, QStringLiteral("page:") + page->localID);
        if (parent.startsWith(QLatin1String("page:")))
            return app.store.page(parent.mid(5))->title;
        if (parent.startsWith(QLatin1String("folder:")))
            return app.store.folder(parent.mid(7))->name;
        return parent;
    });
}

QString TestLibraryOfflineChanges::madeFolder(const std::function<void()> &make)
{
    QSet<QString> before;
    for (const FNFolder &f : m_app->store.state().folders)
        before.insert(f.localID);
    make();
    for (const FNFolder &f : m_app->store.state().folders) {
        if (!before.contains(f.localID))
            return f.localID;
    }
    return QString();
}

QString TestLibraryOfflineChanges::madePage(const std::function<void()> &make)
{
    QSignalSpy created(&m_view->creator(), &LibraryCreator::pageCreated);
    make();
    return created.isEmpty() ? QString() : created.last().at(0).toString();
}

QMenu *TestLibraryOfflineChanges::menuOf(const QString &rowID)
{
    if (!QTest::qWaitFor([&] { return row(rowID).isValid(); }, 15000))
        return nullptr;
    return m_view->contextMenu(row(rowID));
}

bool TestLibraryOfflineChanges::renameRow(const QString &rowID, const QString &text)
{
    if (!QTest::qWaitFor([&] { return !renameField() && row(rowID).isValid(); }))
        return false;
    m_view->beginRename(row(rowID));
    if (!QTest::qWaitFor([&] { return renameField(); }))
        return false;
    renameField()->setText(text);
    QTest::keyClick(renameField(), Qt::Key_Return);
    return QTest::qWaitFor([&] { return !renameField(); });
}

QStringList TestLibraryOfflineChanges::serviceFolders()
{
    QStringList names;
    for (const auto &[id, f] : m_fake.state().folders) {
        if (f.workspaceId == m_account.workspaceId)
            names << f.name;
    }
    return names;
}

QString TestLibraryOfflineChanges::topRowsOnAnotherDevice()
{
    return onAnotherDevice([&](LibraryView &view, AppHarness &app) {
        QStringList top;
        for (const LibraryTree::Row &r : view.tree().listContent()) {
            if (r.depth != 0)
                continue;
            if (r.rowID().startsWith(QLatin1String("folder:")))
                top << app.store.folder(r.rowID().mid(7))->name;
            else if (r.rowID().startsWith(QLatin1String("page:")))
                top << app.store.page(r.rowID().mid(5))->title;
        }
        return top.join(QLatin1Char('|'));
    });
}

void TestLibraryOfflineChanges::childOfAnOfflineParentLandsUnderIt_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("folderParent");
    QTest::addColumn<bool>("folderChild");
    QTest::newRow("New page in folder") << "New page in folder" << true << false;
    QTest::newRow("New subfolder") << "New subfolder" << true << true;
    QTest::newRow("New subpage") << "New subpage" << false << false;
    QTest::newRow("page dragged onto the folder") << "drag" << true << false;
    QTest::newRow("folder dragged onto the folder") << "drag" << true << true;
    QTest::newRow("page dragged beside a subpage of the page") << "drag" << false << false;
}

void TestLibraryOfflineChanges::childOfAnOfflineParentLandsUnderIt()
{
    QFETCH(QString, way);
    QFETCH(bool, folderParent);
    QFETCH(bool, folderChild);
    LibraryCreator &creator = m_view->creator();
    const bool drag = way == QLatin1String("drag");

    // What is dragged is on the service already.
    QString child;
    if (drag) {
        child = folderChild ? madeFolder([&] { creator.createFolder(std::nullopt); })
                            : madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
        syncLater();
        QVERIFY(m_app->store.state().outbox.empty());
    }

    m_fake.setOffline(true);
    const QString parent = folderParent ? madeFolder([&] { creator.createFolder(std::nullopt); })
                                        : madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    const QString parentRow = (folderParent ? QStringLiteral("folder:") : QStringLiteral("page:")) + parent;
    QString besideRow;
    if (drag && !folderParent) {
        // A subpage already under the offline page; the dragged page is dropped just before it.
        std::unique_ptr<QMenu> menu(menuOf(parentRow));
        QVERIFY(menu);
        besideRow = QStringLiteral("page:") +
                    madePage([&] { action(menu.get(), QStringLiteral("New subpage"))->trigger(); });
    }
    syncLater();

    if (!drag) {
        std::unique_ptr<QMenu> menu(menuOf(parentRow));
        QVERIFY(menu);
        QAction *item = action(menu.get(), way);
        QVERIFY(item);
        child = folderChild ? madeFolder([&] { item->trigger(); }) : madePage([&] { item->trigger(); });
    } else {
        const QString payload =
            folderChild ? LibraryMover::folderPayload(child) : LibraryMover::pagePayload(child);
        if (folderParent)
            Q_EMIT m_view->listView()->droppedOnFolder(payload, parent);
        else
            Q_EMIT m_view->listView()->droppedOnPage(payload, besideRow.mid(5));
    }
    QVERIFY(!child.isEmpty());
    const QString childRow = (folderChild ? QStringLiteral("folder:") : QStringLiteral("page:")) + child;
    QCOMPARE(parentRowOf(childRow), parentRow);
    syncLater(); // still offline
    QCOMPARE(parentRowOf(childRow), parentRow);

    m_fake.setOffline(false);
    syncLater();
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 parentID =
        folderParent ? m_app->storedFolder(parent).serverID : m_app->storedPage(parent).serverID;
    QVERIFY(parentID != 0);
    FakeServiceState &service = m_fake.state();
    if (folderChild) {
        const qint64 childID = m_app->storedFolder(child).serverID;
        QVERIFY(childID != 0);
        QCOMPARE(service.folders.at(childID).parentFolderId, parentID);
    } else {
        const qint64 childID = m_app->storedPage(child).serverID;
        QVERIFY(childID != 0);
        QCOMPARE(folderParent ? service.pages.at(childID).folderId : service.pages.at(childID).parentPageId,
                 parentID);
    }

    refresh();
    syncLater();
    QCOMPARE(parentRowOf(childRow), parentRow);
}

void TestLibraryOfflineChanges::dragThatChangesTheParentIsSent_data()
{
    QTest::addColumn<bool>("toRoot");
    QTest::newRow("a subpage onto the list root") << true;
    QTest::newRow("a top-level page onto another page's subpage") << false;
}

void TestLibraryOfflineChanges::dragThatChangesTheParentIsSent()
{
    QFETCH(bool, toRoot);
    LibraryCreator &creator = m_view->creator();
    const QString top = madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    syncLater();
    const QString sub = madePage([&] { creator.createPage(m_app->storedPage(top), std::nullopt); });
    const QString other = madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 topID = m_app->storedPage(top).serverID;

    const QString dragged = toRoot ? sub : other;
    if (toRoot)
        Q_EMIT m_view->listView()->droppedOnRoot(LibraryMover::pagePayload(sub));
    else
        Q_EMIT m_view->listView()->droppedOnPage(LibraryMover::pagePayload(other), sub);
    const QString expectedParent = toRoot ? QString() : QStringLiteral("page:") + top;
    QCOMPARE(parentRowOf(QStringLiteral("page:") + dragged), expectedParent);

    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 draggedID = m_app->storedPage(dragged).serverID;
    QCOMPARE(m_fake.state().pages.at(draggedID).parentPageId, toRoot ? qint64(0) : topID);
    refresh();
    syncLater();
    QCOMPARE(parentRowOf(QStringLiteral("page:") + dragged), expectedParent);
    QCOMPARE(m_app->storedPage(dragged).parentPageServerID, toRoot ? qint64(0) : topID);
}

void TestLibraryOfflineChanges::folderDeleteReachesTheServiceInTheEnd_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::newRow("the service fails it once") << "500";
    QTest::newRow("made offline") << "offline";
    QTest::newRow("still in its undo window at quit") << "quit";
}

void TestLibraryOfflineChanges::folderDeleteReachesTheServiceInTheEnd()
{
    QFETCH(QString, trouble);
    const QString localID = madeFolder([&] { m_view->creator().createFolder(std::nullopt); });
    syncLater();
    const qint64 serverID = m_app->storedFolder(localID).serverID;
    QVERIFY(serverID != 0);
    QVERIFY(m_fake.state().folders.count(serverID));

    if (trouble == QLatin1String("500"))
        m_fake.setFault(kFolders, once(FakeService::Fault::http(500, "{}")));
    else if (trouble == QLatin1String("offline"))
        m_fake.setOffline(true);
    m_view->deleter().deleteFolder(localID);

    if (trouble == QLatin1String("quit")) {
        // Quit at once and launch again.
        relaunch();
        QVERIFY(m_app->store.folder(localID) && m_app->store.folder(localID)->deletedAt);
    } else {
        // The undo window passes and the first send fails.
        const auto failedOnce = [&] {
            const auto &outbox = m_app->store.state().outbox;
            return std::any_of(outbox.begin(), outbox.end(), [&](const FNSyncOp &op) {
                return op.entity == QLatin1String("folder") && op.op == QLatin1String("delete") &&
                       op.attempts == 1;
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(failedOnce(), 15000);
        QVERIFY(m_fake.state().folders.count(serverID));
        m_fake.setOffline(false);
    }

    syncLater();
    QTRY_VERIFY(!m_fake.state().folders.count(serverID));
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    refresh();
    QVERIFY(m_app->storedFolder(localID).deletedAt);
}

void TestLibraryOfflineChanges::renamedOfflineSubpageStaysUnderItsParent_data()
{
    QTest::addColumn<bool>("parentRenamed");
    QTest::newRow("the subpage renamed") << false;
    QTest::newRow("the page and then its subpage renamed") << true;
}

void TestLibraryOfflineChanges::renamedOfflineSubpageStaysUnderItsParent()
{
    QFETCH(bool, parentRenamed);
    m_fake.setOffline(true);
    const QString parent = madePage([&] { m_view->creator().createPage(std::nullopt, std::nullopt); });
    showView();
    const QString parentRow = QStringLiteral("page:") + parent;
    std::unique_ptr<QMenu> menu(menuOf(parentRow));
    QVERIFY(menu);
    const QString child = madePage([&] { action(menu.get(), QStringLiteral("New subpage"))->trigger(); });
    QVERIFY(!child.isEmpty());

    // Renamed in place, through the row's field, before anything reached the service.
    m_view->tree().setExpanded(parent, true);
    const auto rename = [&](const QString &localID, const QString &title) {
        if (!QTest::qWaitFor(
                [&] { return !renameField() && row(QStringLiteral("page:") + localID).isValid(); }))
            return false;
        m_view->beginRename(row(QStringLiteral("page:") + localID));
        if (!QTest::qWaitFor([&] { return renameField(); }))
            return false;
        renameField()->setText(title);
        QTest::keyClick(renameField(), Qt::Key_Return);
        return QTest::qWaitFor([&] { return m_app->storedPage(localID).title == title; });
    };
    if (parentRenamed)
        QVERIFY(rename(parent, QStringLiteral("Trips")));
    QVERIFY(rename(child, QStringLiteral("Packing list")));
    syncLater(); // still offline
    QCOMPARE(parentRowOf(QStringLiteral("page:") + child), parentRow);

    m_fake.setOffline(false);
    syncLater();
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 parentID = m_app->storedPage(parent).serverID;
    const qint64 childID = m_app->storedPage(child).serverID;
    QVERIFY(parentID != 0 && childID != 0);
    const FakeServiceState::Page &sent = m_fake.state().pages.at(childID);
    QCOMPARE(sent.title, QStringLiteral("Packing list"));
    QCOMPARE(sent.parentPageId, parentID);
    QCOMPARE(parentOnAnotherDevice(childID),
             parentRenamed ? QStringLiteral("Trips") : QStringLiteral("Untitled"));
    refresh();
    QCOMPARE(parentRowOf(QStringLiteral("page:") + child), parentRow);
}

void TestLibraryOfflineChanges::childrenOfARefusedPageAreSaved_data()
{
    QTest::addColumn<QString>("place"); // of the page the service refuses
    QTest::newRow("at the top level") << "top";
    QTest::newRow("in a folder") << "folder";
    QTest::newRow("under a saved page") << "page";
}

void TestLibraryOfflineChanges::childrenOfARefusedPageAreSaved()
{
    QFETCH(QString, place);
    LibraryCreator &creator = m_view->creator();
    QString folder;
    QString grand;
    if (place == QLatin1String("folder"))
        folder = madeFolder([&] { creator.createFolder(std::nullopt); });
    else if (place == QLatin1String("page"))
        grand = madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    syncLater();
    QVERIFY(m_app->store.state().outbox.empty());

    // Made offline: the page, its subpage, and that one's own subpage.
    m_fake.setOffline(true);
    const QString refused = madePage([&] {
        creator.createPage(grand.isEmpty() ? std::nullopt : std::optional(m_app->storedPage(grand)),
                           folder.isEmpty() ? std::nullopt : std::optional(m_app->storedFolder(folder)));
    });
    m_view->rowEditor().commitPageRename(refused, QStringLiteral("Refused"));
    const QString child = madePage([&] { creator.createPage(m_app->storedPage(refused), std::nullopt); });
    const QString grandchild = madePage([&] { creator.createPage(m_app->storedPage(child), std::nullopt); });
    syncLater();

    // Back online, the service refuses the page's create every time it is tried.
    m_fake.setOffline(false);
    auto refusal = FakeService::Fault::http(400, R"({"error":"Page title not allowed"})");
    refusal.method = "POST";
    refusal.remaining = int(RetryPolicy::kDropAtAttempts);
    m_fake.setFault(kPages, refusal);
    QSignalSpy told(&m_app->engine, &SyncEngine::createRefused);
    for (int tries = 0; tries < 12 && told.isEmpty(); ++tries)
        syncLater();

    // Nothing waits for it: its subpage goes up to where it stood, with its own subpage under it,
    // and the user hears which page was not saved.
    syncLater();
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.at(0).at(0).toString(), QStringLiteral("Refused"));
    QCOMPARE(told.at(0).at(2).toInt(), 1);
    QCOMPARE(m_app->storedPage(refused).serverID, qint64(0));
    const qint64 childID = m_app->storedPage(child).serverID;
    const qint64 grandchildID = m_app->storedPage(grandchild).serverID;
    QVERIFY(childID != 0 && grandchildID != 0);
    FakeServiceState &service = m_fake.state();
    QCOMPARE(service.pages.at(grandchildID).parentPageId, childID);
    const QString expectedRow = !grand.isEmpty()    ? QStringLiteral("page:") + grand
                                : !folder.isEmpty() ? QStringLiteral("folder:") + folder
                                                    : QString();
    QCOMPARE(service.pages.at(childID).parentPageId,
             grand.isEmpty() ? qint64(0) : m_app->storedPage(grand).serverID);
    QCOMPARE(service.pages.at(childID).folderId,
             folder.isEmpty() ? qint64(0) : m_app->storedFolder(folder).serverID);
    QCOMPARE(parentRowOf(QStringLiteral("page:") + child), expectedRow);
    refresh();
    QCOMPARE(parentRowOf(QStringLiteral("page:") + child), expectedRow);
    QCOMPARE(parentRowOf(QStringLiteral("page:") + grandchild), QStringLiteral("page:") + child);

    // Its title typed again meanwhile (as the page's title field queues it) holds nothing back either.
    m_app->store.editPage(refused, [](FNPage &p) { p.title = QStringLiteral("Refused twice"); });
    PagePatchReq typed;
    typed.title = QStringLiteral("Refused twice");
    Outbox::of(m_app->store).pageUpdate(refused, typed, Outbox::Unencodable::QueueNothing);
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());

    // The next launch sends the page again, where it stood.
    relaunch();
    syncLater();
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 refusedID = m_app->storedPage(refused).serverID;
    QVERIFY(refusedID != 0);
    QCOMPARE(service.pages.at(refusedID).title, QStringLiteral("Refused twice"));
    QCOMPARE(service.pages.at(refusedID).parentPageId,
             grand.isEmpty() ? qint64(0) : m_app->storedPage(grand).serverID);
    QCOMPARE(service.pages.at(refusedID).folderId,
             folder.isEmpty() ? qint64(0) : m_app->storedFolder(folder).serverID);
}

void TestLibraryOfflineChanges::folderRenamedBeforeItsCreateGoesIsMadeOnce_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("name"); // the last one given
    QTest::newRow("offline") << "offline"
                             << "Taxes";
    QTest::newRow("while a cycle runs, before the create's turn") << "cycle"
                                                                  << "Taxes";
    QTest::newRow("named, then renamed while its create is out") << "out"
                                                                 << "Budget";
}

// The create goes out under the name the folder has then, so its copy is known in the listing when the
// answer is lost; a name given after it went follows as an update.
void TestLibraryOfflineChanges::folderRenamedBeforeItsCreateGoesIsMadeOnce()
{
    QFETCH(QString, when);
    QFETCH(QString, name);
    LibraryCreator &creator = m_view->creator();
    const QString page = madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    syncLater();
    QVERIFY(m_app->store.state().outbox.empty());
    showView();
    auto lost = FakeService::Fault::applyThenDrop();
    lost.method = "POST";
    lost.remaining = 1;
    const auto posts = [&] { return int(requestsWith(m_fake, kFolders, "POST").size()); };

    QString folder;
    if (when == QLatin1String("offline")) {
        m_fake.setOffline(true);
        folder = madeFolder([&] { creator.createFolder(std::nullopt); });
        QVERIFY(renameRow(QStringLiteral("folder:") + folder, QStringLiteral("Taxes")));
        syncLater();
        m_fake.setOffline(false);
        m_fake.setFault(kFolders, lost);
    } else if (when == QLatin1String("cycle")) {
        // A cycle takes the page's rename and the folder's create; the rename's answer is slow.
        m_fake.setFault(kPages, once(FakeService::Fault::delay(500)));
        m_fake.setFault(kFolders, lost);
        m_view->rowEditor().commitPageRename(page, QStringLiteral("Plans"));
        folder = madeFolder([&] { creator.createFolder(std::nullopt); });
        QTRY_COMPARE(int(requestsWith(m_fake, kPages, "PATCH").size()), 1);
        QCOMPARE(posts(), 0);
        QVERIFY(renameRow(QStringLiteral("folder:") + folder, QStringLiteral("Taxes")));
    } else {
        lost.delayMs = 500;
        m_fake.setFault(kFolders, lost);
        folder = madeFolder([&] { creator.createFolder(std::nullopt); });
        m_view->rowEditor().commitFolderRename(folder, QStringLiteral("Taxes"));
        QTRY_COMPARE(posts(), 1);
        QVERIFY(renameRow(QStringLiteral("folder:") + folder, name));
    }
    syncLater();
    QTRY_COMPARE(posts(), 1);
    syncLater();
    syncLater();

    QTRY_VERIFY(m_app->store.state().outbox.empty());
    QCOMPARE(serviceFolders(), QStringList{name});
    QCOMPARE(m_app->store.state().folders.size(), size_t(1));
    QCOMPARE(m_app->storedFolder(folder).name, name);
    QVERIFY(m_fake.state().folders.count(m_app->storedFolder(folder).serverID));
    QCOMPARE(posts(), 1);
    QCOMPARE(topRowsOnAnotherDevice(), name + QLatin1Char('|') + m_app->storedPage(page).title);
}

void TestLibraryOfflineChanges::folderDeletedBeforeItsCreateWasAnsweredGivesUpItsPage_data()
{
    QTest::addColumn<bool>("landed");
    QTest::newRow("the create landed") << true;
    QTest::newRow("the create never landed") << false;
}

// Made and named, its create cut off without an answer; then, offline, a page is dropped into it and
// it is deleted. Back online, it is settled at once, with no request: a copy the create may have made
// is not known to be this device's (another device may have made its look-alike then), so it stays.
void TestLibraryOfflineChanges::folderDeletedBeforeItsCreateWasAnsweredGivesUpItsPage()
{
    QFETCH(bool, landed);
    LibraryCreator &creator = m_view->creator();
    const QString page = madePage([&] { creator.createPage(std::nullopt, std::nullopt); });
    m_view->rowEditor().commitPageRename(page, QStringLiteral("Receipts"));
    syncLater();
    QVERIFY(m_app->store.state().outbox.empty());
    const qint64 pageID = m_app->storedPage(page).serverID;
    QVERIFY(pageID != 0);

    auto cut = landed ? FakeService::Fault::applyThenDrop() : FakeService::Fault::drop();
    cut.method = "POST";
    cut.remaining = 1;
    m_fake.setFault(kFolders, cut);
    const QString folder = madeFolder([&] { creator.createFolder(std::nullopt); });
    m_view->rowEditor().commitFolderRename(folder, QStringLiteral("Taxes"));
    const auto createOp = [&] {
        for (const FNSyncOp &op : m_app->store.state().outbox) {
            if (op.kind() == SyncOpKind::FolderCreate)
                return std::optional(op);
        }
        return std::optional<FNSyncOp>();
    };
    QTRY_VERIFY_WITH_TIMEOUT(createOp() && createOp()->unanswered, 15000);
    QCOMPARE(int(serviceFolders().size()), landed ? 1 : 0);
    m_fake.setOffline(true);

    Q_EMIT m_view->listView()->droppedOnFolder(LibraryMover::pagePayload(page), folder);
    QCOMPARE(parentRowOf(QStringLiteral("page:") + page), QStringLiteral("folder:") + folder);
    m_view->deleter().deleteFolder(folder);
    syncLater(); // still offline

    m_fake.clearRequests();
    m_fake.setOffline(false);
    syncLater();
    // Settled in that one cycle: the page is back at the top, here and on the service.
    QCOMPARE(parentRowOf(QStringLiteral("page:") + page), QString());
    QVERIFY(m_app->store.state().outbox.empty());
    QCOMPARE(serviceFolders(), landed ? QStringList{QStringLiteral("Taxes")} : QStringList());
    QCOMPARE(m_fake.state().pages.at(pageID).folderId, qint64(0));
    QVERIFY(requestsWith(m_fake, kFolders, "GET").empty());
    QVERIFY(requestsWith(m_fake, kFolders, "POST").empty());
    QVERIFY(requestsWith(m_fake, kFolders, "DELETE").empty());

    refresh();
    syncLater();
    QCOMPARE(parentRowOf(QStringLiteral("page:") + page), QString());
    QCOMPARE(topRowsOnAnotherDevice(),
             landed ? QStringLiteral("Taxes|Receipts") : QStringLiteral("Receipts"));
}

QTEST_MAIN(TestLibraryOfflineChanges)
#include "tst_library_offline_changes.moc"
