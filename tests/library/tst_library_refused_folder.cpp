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
#include "ui/toast_center.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// A folder made here that never reaches the service holds nothing back: when the service refuses its
// create, what waits to go into it goes one level up, here and there, and the folder is sent again at
// the next launch; a folder deleted before it went out never goes, and what it held stays one level
// up, here and there, as the service keeps a deleted folder's contents.
class TestLibraryRefusedFolder : public QObject, private LibrarySyncFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { startFake(); }
    void init();
    void cleanup() { cleanupView(); }

    void refusedFolderHoldsNothingBack_data();
    void refusedFolderHoldsNothingBack();
    void folderDeletedBeforeItWentOut();
    void undoneDeleteStillSendsTheFolder();

private:
    // The page's title and the row it hangs under in the sidebar of a second device of the account,
    // named by title or folder name; "(not listed)" when that device does not show it.
    QString shownOnAnotherDevice(qint64 pageServerID);
    QString made(const QString &rowID, const QString &item, bool folder);
    // Drags the page onto the folder's row.
    void dropPageOnFolder(const QString &page, const QString &folder);
};

void TestLibraryRefusedFolder::init()
{
    initClockedView();
}

QString TestLibraryRefusedFolder::shownOnAnotherDevice(qint64 pageServerID)
{
    return onAnotherDevice([&](LibraryView &view, AppHarness &app) -> QString {
        const FNPage *page = app.store.livePageWithServerID(pageServerID);
        if (!page)
            return QStringLiteral("(not listed)");
        const QString parent = parentRowOf(view, app.store, QStringLiteral("page:") + page->localID);
        if (parent.startsWith(QLatin1String("folder:")))
            return page->title + QStringLiteral(" in ") + app.store.folder(parent.mid(7))->name;
        return parent.isEmpty() ? page->title + QStringLiteral(" at the top") : parent;
    });
}

QString TestLibraryRefusedFolder::made(const QString &rowID, const QString &item, bool folder)
{
    if (!QTest::qWaitFor([&] { return row(rowID).isValid(); }, 15000))
        return QString();
    std::unique_ptr<QMenu> menu(m_view->contextMenu(row(rowID)));
    QAction *chosen = menu ? action(menu.get(), item) : nullptr;
    if (!chosen)
        return QString();
    QSet<QString> before;
    for (const FNFolder &f : m_app->store.state().folders)
        before.insert(f.localID);
    for (const FNPage &p : m_app->store.state().pages)
        before.insert(p.localID);
    chosen->trigger();
    if (folder) {
        for (const FNFolder &f : m_app->store.state().folders) {
            if (!before.contains(f.localID))
                return f.localID;
        }
    }
    for (const FNPage &p : m_app->store.state().pages) {
        if (!before.contains(p.localID))
            return p.localID;
    }
    return QString();
}

void TestLibraryRefusedFolder::dropPageOnFolder(const QString &page, const QString &folder)
{
    Q_EMIT m_view->listView()->droppedOnFolder(LibraryMover::pagePayload(page), folder);
}

void TestLibraryRefusedFolder::refusedFolderHoldsNothingBack_data()
{
    QTest::addColumn<bool>("deleted"); // by the user after the refusal, else kept
    QTest::newRow("kept, in a saved folder") << false;
    QTest::newRow("at the top level, deleted after the refusal") << true;
}

void TestLibraryRefusedFolder::refusedFolderHoldsNothingBack()
{
    QFETCH(bool, deleted);
    LibraryCreator &creator = m_view->creator();
    const QString saved = *creator.createPage(std::nullopt, std::nullopt);
    m_view->rowEditor().commitPageRename(saved, QStringLiteral("Saved before"));
    const QString outer = deleted ? QString() : *creator.createFolder(std::nullopt);
    if (!outer.isEmpty())
        m_view->rowEditor().commitFolderRename(outer, QStringLiteral("Saved folder"));
    syncLater();
    QVERIFY(m_app->store.state().outbox.empty());
    const qint64 outerID = outer.isEmpty() ? 0 : m_app->storedFolder(outer).serverID;
    const QString outerRow = outer.isEmpty() ? QString() : QStringLiteral("folder:") + outer;
    const QString where =
        outer.isEmpty() ? QStringLiteral(" at the top") : QStringLiteral(" in Saved folder");

    // Made offline: the folder, a page in it renamed in place, a subfolder with a page of its own.
    m_fake.setOffline(true);
    if (!outer.isEmpty())
        m_view->tree().setExpanded(outer, true);
    const QString folder = outer.isEmpty() ? *creator.createFolder(std::nullopt)
                                           : made(outerRow, QStringLiteral("New subfolder"), true);
    QVERIFY(!folder.isEmpty());
    const QString folderRow = QStringLiteral("folder:") + folder;
    const QString page = made(folderRow, QStringLiteral("New page in folder"), false);
    QVERIFY(!page.isEmpty());
    m_view->rowEditor().commitPageRename(page, QStringLiteral("Notes"));
    const QString subfolder = made(folderRow, QStringLiteral("New subfolder"), true);
    QVERIFY(!subfolder.isEmpty());
    const QString inner =
        made(QStringLiteral("folder:") + subfolder, QStringLiteral("New page in folder"), false);
    QVERIFY(!inner.isEmpty());
    syncLater();

    // Back online, the service refuses the folder's create every time it is tried.
    m_fake.setOffline(false);
    auto refusal = FakeService::Fault::http(400, R"({"error":"Folder limit reached"})");
    refusal.method = "POST";
    refusal.remaining = int(RetryPolicy::kDropAtAttempts) - 1; // the try offline counted one
    m_fake.setFault(kFolders, refusal);
    QSignalSpy told(&m_app->engine, &SyncEngine::folderCreateRefused);
    for (int tries = 0; tries < 12 && told.isEmpty(); ++tries)
        syncLater();
    for (int tries = 0; tries < 4 && !m_app->store.state().outbox.empty(); ++tries)
        syncLater();
    QVERIFY(m_app->store.state().outbox.empty());
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.at(0).at(0).toString(), QStringLiteral("New folder"));
    QVERIFY(told.at(0).at(1).toString().contains(QStringLiteral("Folder limit reached")));
    QCOMPARE(told.at(0).at(2).toInt(), 2); // the page and the subfolder

    // What it held is one level up, here and on the service, the page with its new title.
    FakeServiceState &service = m_fake.state();
    QCOMPARE(m_app->storedFolder(folder).serverID, qint64(0));
    const qint64 pageID = m_app->storedPage(page).serverID;
    const qint64 subfolderID = m_app->storedFolder(subfolder).serverID;
    const qint64 innerID = m_app->storedPage(inner).serverID;
    QVERIFY(pageID != 0 && subfolderID != 0 && innerID != 0);
    QCOMPARE(service.pages.at(pageID).title, QStringLiteral("Notes"));
    QCOMPARE(service.pages.at(pageID).folderId, outerID);
    QCOMPARE(service.folders.at(subfolderID).parentFolderId, outerID);
    QCOMPARE(service.pages.at(innerID).folderId, subfolderID);
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + page), outerRow);
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("folder:") + subfolder), outerRow);
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + inner),
             QStringLiteral("folder:") + subfolder);
    QCOMPARE(shownOnAnotherDevice(pageID), QStringLiteral("Notes") + where);
    // The folder is not saved, and the badge says so; renamed since, it holds nothing back either.
    QCOMPARE(m_app->engine.unsavedPageCount(), 1);
    m_view->rowEditor().commitFolderRename(folder, QStringLiteral("Archive"));
    // A page dragged into it since is not held back either.
    dropPageOnFolder(saved, folder);
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + saved), folderRow);
    const qint64 savedID = m_app->storedPage(saved).serverID;

    if (!deleted) {
        // It goes one level up, here and there.
        syncLater();
        QTRY_VERIFY(m_app->store.state().outbox.empty());
        QCOMPARE(service.pages.at(savedID).folderId, outerID);
        QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + saved), outerRow);
        QCOMPARE(shownOnAnotherDevice(savedID), QStringLiteral("Saved before") + where);
        // The next launch sends the folder again, as it is named now.
        relaunch();
        syncLater();
        QTRY_VERIFY(m_app->store.state().outbox.empty());
        const qint64 folderID = m_app->storedFolder(folder).serverID;
        QVERIFY(folderID != 0);
        QCOMPARE(service.folders.at(folderID).name, QStringLiteral("Archive"));
        QCOMPARE(service.folders.at(folderID).parentFolderId, outerID);
        QCOMPARE(m_app->engine.unsavedPageCount(), 0);
        return;
    }

    // Deleted before that page went: the page stays, one level up, here and there.
    m_view->deleter().deleteFolder(folder);
    syncLater();
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    QVERIFY(!m_app->storedPage(saved).deletedAt);
    QVERIFY(!service.pages.at(savedID).inTrash());
    QCOMPARE(service.pages.at(savedID).folderId, outerID);
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + saved), outerRow);
    QCOMPARE(shownOnAnotherDevice(savedID), QStringLiteral("Saved before") + where);
    // What left the folder at the refusal stays.
    QCOMPARE(shownOnAnotherDevice(pageID), QStringLiteral("Notes at the top"));
    QCOMPARE(m_app->engine.unsavedPageCount(), 0);
}

void TestLibraryRefusedFolder::folderDeletedBeforeItWentOut()
{
    LibraryCreator &creator = m_view->creator();
    const QString saved = *creator.createPage(std::nullopt, std::nullopt);
    m_view->rowEditor().commitPageRename(saved, QStringLiteral("Saved before"));
    syncLater();
    const qint64 savedID = m_app->storedPage(saved).serverID;
    QVERIFY(savedID != 0);

    m_fake.setOffline(true);
    const QString folder = *creator.createFolder(std::nullopt);
    const QString page =
        made(QStringLiteral("folder:") + folder, QStringLiteral("New page in folder"), false);
    QVERIFY(!page.isEmpty());
    dropPageOnFolder(saved, folder);
    syncLater();
    m_view->deleter().deleteFolder(folder);
    syncLater(); // still offline, the undo window past

    m_fake.setOffline(false);
    m_fake.clearRequests();
    for (int tries = 0; tries < 4 && !m_app->store.state().outbox.empty(); ++tries)
        syncLater();
    QVERIFY(m_app->store.state().outbox.empty());
    // The folder never went; what it held stays at the top, here and on the service, where the new
    // page is made once.
    QVERIFY(requestsWith(m_fake, kFolders, "POST").empty());
    QVERIFY(!m_app->storedPage(saved).deletedAt && !m_app->storedPage(page).deletedAt);
    const qint64 pageID = m_app->storedPage(page).serverID;
    QVERIFY(pageID != 0);
    for (const qint64 id : {savedID, pageID}) {
        QVERIFY(!m_fake.state().pages.at(id).inTrash());
        QCOMPARE(m_fake.state().pages.at(id).folderId, qint64(0));
    }
    QCOMPARE(parentRowOf(*m_view, m_app->store, QStringLiteral("page:") + page), QString());
    QCOMPARE(shownOnAnotherDevice(savedID), QStringLiteral("Saved before at the top"));
    QCOMPARE(m_app->engine.unsavedPageCount(), 0);
}

// A folder deleted before it went out and taken back with Undo: a sync within the undo window does not
// count it as gone.
void TestLibraryRefusedFolder::undoneDeleteStillSendsTheFolder()
{
    m_view->deleter().setDelays(1h, 1h); // a sync may come at any moment of the window
    m_fake.setOffline(true);
    const QString folder = *m_view->creator().createFolder(std::nullopt);
    syncLater();
    m_view->deleter().deleteFolder(folder);
    m_fake.setOffline(false);
    syncLater();
    QVERIFY(requestsWith(m_fake, kFolders, "POST").empty());

    ToastCenter &toasts = m_app->toasts;
    QVERIFY(toasts.current() && toasts.hasAction());
    toasts.runAction(toasts.current()->id);
    QVERIFY(!m_app->storedFolder(folder).deletedAt);
    syncLater();
    QTRY_VERIFY(m_app->store.state().outbox.empty());
    const qint64 folderID = m_app->storedFolder(folder).serverID;
    QVERIFY(folderID != 0);
    QVERIFY(m_fake.state().folders.count(folderID));
}

QTEST_MAIN(TestLibraryRefusedFolder)
#include "tst_library_refused_folder.moc"
