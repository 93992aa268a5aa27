#include "library/library_creator.h"
#include "library/library_dock.h"
#include "library/library_list_view.h"
#include "library/library_refresher.h"
#include "library/library_row_model.h"
#include "library/library_tree.h"
#include "library/library_view.h"
#include "library/workspace_switcher.h"
#include "platform/app_events.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "support/app_harness.h"
#include "support/block_readout.h"
#include "support/menu_clicks.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

FNWorkspace workspace(qint64 serverID, const QString &name)
{
    FNWorkspace w;
    w.serverID = serverID;
    w.name = name;
    return w;
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (const QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return out;
}

// The rows as the list draws them, one line each.
QStringList described(const std::vector<LibraryTree::Row> &rows)
{
    QStringList out;
    for (const LibraryTree::Row &r : rows)
        out << QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                   .arg(r.rowID(), r.title, r.icon)
                   .arg(r.depth)
                   .arg(r.hasChildren)
                   .arg(r.published)
                   .arg(r.sharedCount);
    return out;
}

struct Listed {
    QList<QString> folders; // A, B, C (under A)
    QList<QString> pages;   // Plan (in A), Notes, Sub (under Notes), Elsewhere, Trashed, Later
};

using ListEdit = std::function<void(LocalStore &, const Listed &)>;

} // namespace

Q_DECLARE_METATYPE(ListEdit)

// The sidebar widget, offscreen: what it shows and what its controls and the New Page command do.
class TestLibraryView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void workspaceSwitcher();
    void workspaceNameFallbacks_data();
    void workspaceNameFallbacks();
    void dockButtons();
    void templateMenu();
    void templatesDeletedByClicksInTheMenu();
    void pageFromASavedTemplateKeepsItsNesting_data();
    void pageFromASavedTemplateKeepsItsNesting();
    void newPageCommandMakesOnePagePerCommand();
    void rowsFavouritesAndClicks();
    void appearanceLoadsExpansionOnceAndPolls();
    void rowsFollowEachKindOfChange_data();
    void rowsFollowEachKindOfChange();

private:
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<LibraryView> m_view;
};

void TestLibraryView::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->store.setWorkspaces({workspace(1, QStringLiteral("Personal"))});
    m_view = std::make_unique<LibraryView>(m_app->context());
}

void TestLibraryView::cleanup()
{
    m_view.reset();
    m_app.reset();
    m_device.reset();
}

void TestLibraryView::workspaceSwitcher()
{
    LocalStore &store = m_app->store;
    QWidget *row = m_view->workspaceButton()->parentWidget();
    QVERIFY(row->isHidden());

    store.setWorkspaces({workspace(1, QStringLiteral("Personal")), workspace(2, QStringLiteral("Team"))});
    QVERIFY(!row->isHidden());
    QCOMPARE(m_view->workspaceLabel()->text(), QStringLiteral("Personal"));

    Q_EMIT m_view->workspaceMenu()->aboutToShow();
    const QList<QAction *> items = m_view->workspaceMenu()->actions();
    QCOMPARE(texts(items), QStringList({"Personal", "Team"}));

    // The current workspace's item changes nothing at all.
    m_view->setSelectedPageLocalID(QStringLiteral("open"));
    QSignalSpy home(m_view.get(), &LibraryView::homeRequested);
    QTRY_VERIFY(!store.isSavePending());
    items[0]->trigger();
    QCOMPARE(home.count(), 0);
    QVERIFY(!store.isSavePending());
    QCOMPARE(m_view->selectedPageLocalID(), std::optional<QString>(QStringLiteral("open")));

    // Another closes the open page at once and shows the other workspace's tree.
    items[1]->trigger();
    QCOMPARE(home.count(), 1);
    QCOMPARE(store.state().currentWorkspaceID, qint64(2));
    QVERIFY(store.isSavePending());
    QVERIFY(!m_view->selectedPageLocalID());
    QCOMPARE(m_view->workspaceLabel()->text(), QStringLiteral("Team"));
}

void TestLibraryView::workspaceNameFallbacks_data()
{
    QTest::addColumn<qint64>("current");
    QTest::addColumn<bool>("any");
    QTest::addColumn<QString>("name");
    QTest::newRow("no workspaces") << qint64(0) << false << "Workspace";
    QTest::newRow("current names none stored: the first") << qint64(99) << true << "Personal";
}

void TestLibraryView::workspaceNameFallbacks()
{
    QFETCH(qint64, current);
    QFETCH(bool, any);
    QFETCH(QString, name);
    LocalStore &store = m_app->store;
    store.setWorkspaces(
        any ? std::vector{workspace(0, QStringLiteral("Unsynced")), workspace(1, QStringLiteral("Personal"))}
            : std::vector<FNWorkspace>{});
    store.changeOutsideRecords([&](StoreState &s) { s.currentWorkspaceID = current; });
    QCOMPARE(m_view->switcher().currentName(), name);
    const auto items = m_view->switcher().items();
    QCOMPARE(items.size(), any ? size_t(2) : size_t(0));
    if (any)
        QVERIFY(!items[0].current && items[1].current);
}

void TestLibraryView::dockButtons()
{
    LibraryDock *dock = m_view->dock();
    for (const char *tip : {"Home", "Trash", "New folder", "New page"})
        QVERIFY2(dock->button(QString::fromLatin1(tip)), tip);
    QSignalSpy home(m_view.get(), &LibraryView::homeRequested);
    QSignalSpy trash(m_view.get(), &LibraryView::trashRequested);
    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);

    dock->button(QStringLiteral("New page"))->click();
    QCOMPARE(selected.count(), 1);
    QCOMPARE(m_view->selectedPageLocalID(), std::optional(selected[0][0].toString()));
    QCOMPARE(m_app->store.state().pages.size(), size_t(1));
    QCOMPARE(m_app->store.state().pages[0].title, QStringLiteral("Untitled"));

    dock->button(QStringLiteral("New folder"))->click();
    QCOMPARE(m_app->store.state().folders.size(), size_t(1));
    QCOMPARE(selected.count(), 1); // a new folder is not selected

    dock->button(QStringLiteral("Trash"))->click();
    QCOMPARE(trash.count(), 1);
    dock->button(QStringLiteral("Home"))->click();
    QCOMPARE(home.count(), 1);
    QVERIFY(!m_view->selectedPageLocalID());
}

void TestLibraryView::templateMenu()
{
    LibraryDock *dock = m_view->dock();
    QVERIFY(dock->templateButton()->isHidden());
    QCOMPARE(dock->templateButton()->toolTip(), QStringLiteral("New from template"));

    PageTemplate weekly;
    weekly.id = QStringLiteral("W");
    weekly.name = QStringLiteral("Weekly");
    weekly.blocks = {{QStringLiteral("text"), QStringLiteral(R"({"text":"Goals"})"), std::nullopt}};
    PageTemplate daily = weekly;
    daily.id = QStringLiteral("D");
    daily.name = QStringLiteral("Daily");
    m_app->templates.add(weekly);
    m_app->templates.add(daily);
    QVERIFY(!dock->templateButton()->isHidden());
    const QList<QAction *> entries = dock->templateMenu()->actions();
    QCOMPARE(texts(entries), QStringList({"Weekly", "Daily", "---", "Delete template"}));
    QMenu *remove = entries[3]->menu();
    QVERIFY(remove);
    QCOMPARE(texts(remove->actions()), QStringList({"Weekly", "Daily"}));

    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);
    entries[1]->trigger();
    QCOMPARE(selected.count(), 1);
    const LocalStore &store = m_app->store;
    const FNPage &made = *store.page(selected[0][0].toString());
    QCOMPARE(made.title, QStringLiteral("Daily"));
    QCOMPARE(store.state().blocks.size(), size_t(1));

    remove->actions()[0]->trigger();
    QCOMPARE(m_app->templates.templates().size(), size_t(1));
    QCOMPARE(texts(dock->templateMenu()->actions()), QStringList({"Daily", "---", "Delete template"}));
    dock->templateMenu()->actions()[2]->menu()->actions()[0]->trigger();
    QVERIFY(dock->templateButton()->isHidden());
}

void TestLibraryView::pageFromASavedTemplateKeepsItsNesting_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("holderContent");
    QTest::addColumn<QString>("shownHolder");
    QTest::newRow("toggle") << "toggle" << R"({"text":"Ingredients","expanded":true})"
                            << "toggle: Ingredients";
    QTest::newRow("columns") << "columns" << R"({"count":2})" << "columns: 2";
}

void TestLibraryView::pageFromASavedTemplateKeepsItsNesting()
{
    QFETCH(QString, holder);
    QFETCH(QString, holderContent);
    QFETCH(QString, shownHolder);
    LocalStore &store = m_app->store;
    FNPage recipe;
    recipe.workspaceServerID = 1;
    recipe.title = QStringLiteral("Omelette");
    store.upsertPage(recipe);
    const auto addBlock = [&](const QString &type, const QString &content, qint64 position,
                              const QString &parent = QString()) {
        FNBlock b;
        b.pageLocalID = recipe.localID;
        b.type = type;
        b.contentJSON = content;
        b.position = position;
        b.parentBlockLocalID = parent;
        store.upsertBlock(b);
        return b.localID;
    };
    const QString held = addBlock(holder, holderContent, 0);
    addBlock(QStringLiteral("text"), QStringLiteral(R"({"text":"2 eggs"})"), 0, held);
    addBlock(QStringLiteral("text"), QStringLiteral(R"({"text":"Serve"})"), 1);

    const auto open = [&](const QString &localID) {
        auto view = std::make_unique<PageView>(m_app->context(), localID);
        view->resize(700, 600);
        view->show();
        return QTest::qWaitFor([&] { return view->isLaidOut(); }) ? std::move(view) : nullptr;
    };
    {
        auto source = open(recipe.localID);
        QVERIFY(source);
        Q_EMIT source->saveAsTemplateRequested();
    }
    QCOMPARE(m_app->templates.templates().size(), size_t(1));

    LibraryDock *dock = m_view->dock();
    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);
    dock->templateMenu()->actions()[0]->trigger();
    QCOMPARE(selected.count(), 1);
    const QString made = selected[0][0].toString();
    auto view = open(made);
    QVERIFY(view);
    QCOMPARE(BlockReadout::shownBlocks(view.get()), QStringList({shownHolder, "text: Serve"}));

    const FNBlock *holderBlock = nullptr;
    const FNBlock *child = nullptr;
    for (const FNBlock *b : store.blocksOfPage(made)) {
        if (b->type == holder)
            holderBlock = b;
        else if (b->contentJSON.contains(QStringLiteral("2 eggs")))
            child = b;
    }
    QVERIFY(holderBlock && child);
    QCOMPARE(child->parentBlockLocalID, holderBlock->localID);
    // The child is drawn inside its holder's row.
    BlockRow *holderRow = view->row(holderBlock->localID);
    QTRY_VERIFY(view->row(child->localID));
    QVERIFY(holderRow->isAncestorOf(view->row(child->localID)));
    QCOMPARE(view->row(child->localID)->richEditor()->toRawText(), QStringLiteral("2 eggs"));
}

void TestLibraryView::templatesDeletedByClicksInTheMenu()
{
    PageTemplate weekly;
    weekly.id = QStringLiteral("W");
    weekly.name = QStringLiteral("Weekly");
    PageTemplate daily = weekly;
    daily.id = QStringLiteral("D");
    daily.name = QStringLiteral("Daily");
    m_app->templates.add(weekly);
    m_app->templates.add(daily);
    m_view->resize(280, 600);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));

    // The submenu clicked in is the one the deletion rebuilds: each click goes through the whole
    // menu as it stands after the last one.
    LibraryDock *dock = m_view->dock();
    const QString remove = QString::fromLatin1(LibraryDock::kDeleteTemplate);
    QVERIFY(MenuClicks::clickThrough(dock->templateButton(), dock->templateMenu(), {remove, "Weekly"}));
    QCOMPARE(m_app->templates.templates().size(), size_t(1));
    QCOMPARE(texts(dock->templateMenu()->actions()), QStringList({"Daily", "---", remove}));
    QVERIFY(MenuClicks::clickThrough(dock->templateButton(), dock->templateMenu(), {remove, "Daily"}));
    QVERIFY(m_app->templates.templates().empty());
    QTRY_VERIFY(dock->templateButton()->isHidden());
}

void TestLibraryView::newPageCommandMakesOnePagePerCommand()
{
    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);
    m_app->events.postNewPage();
    m_app->events.postNewPage();
    const auto &pages = m_app->store.state().pages;
    QCOMPARE(pages.size(), size_t(2));
    QCOMPARE(pages[1].position, qint64(2));
    QCOMPARE(selected.count(), 2);
    QCOMPARE(m_view->selectedPageLocalID(), std::optional(pages[1].localID));

    // Without a current workspace the command makes nothing; without a sidebar nobody handles it.
    m_app->store.setWorkspaces({});
    m_app->events.postNewPage();
    m_app->store.setWorkspaces({workspace(1, QStringLiteral("Personal"))});
    m_view.reset();
    m_app->events.postNewPage();
    QCOMPARE(pages.size(), size_t(2));
}

void TestLibraryView::rowsFavouritesAndClicks()
{
    LocalStore &store = m_app->store;
    FNFolder folder;
    folder.serverID = 10;
    folder.workspaceServerID = 1;
    folder.name = QStringLiteral("Projects");
    store.upsertFolder(folder);
    FNPage inside;
    inside.serverID = 20;
    inside.workspaceServerID = 1;
    inside.folderServerID = 10;
    inside.title = QStringLiteral("Plan");
    store.upsertPage(inside);
    FNPage root;
    root.workspaceServerID = 1;
    store.upsertPage(root);
    m_app->favorites.toggle(root.localID);

    const LibraryRowModel &model = m_view->rowModel();
    auto shown = [&] {
        QStringList out;
        for (int i = 0; i < model.rowCount(); ++i)
            out << model.index(i).data().toString();
        return out;
    };
    QTRY_COMPARE(shown(), QStringList({"Favorites", "Untitled", "", "Projects", "Untitled"}));

    m_view->activateRow(model.index(3));
    QTRY_COMPARE(shown(), QStringList({"Favorites", "Untitled", "", "Projects", "Plan", "Untitled"}));
    QCOMPARE(model.index(4).data(LibraryRowModel::DepthRole).toInt(), 1);
    QCOMPARE(store.state().expandedRowIDs, std::vector<QString>{folder.localID});

    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);
    m_view->activateRow(model.index(4));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected[0][0].toString(), inside.localID);
    QVERIFY(model.index(4).data(LibraryRowModel::SelectedRole).toBool());
    QVERIFY(!model.index(5).data(LibraryRowModel::SelectedRole).toBool());

    // A click through the list view reaches the same handler.
    m_view->resize(260, 400);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    const QRect rowRect = m_view->listView()->visualRect(model.index(5));
    QTest::mouseClick(m_view->listView()->viewport(), Qt::LeftButton, {}, rowRect.center());
    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected[1][0].toString(), root.localID);
}

void TestLibraryView::appearanceLoadsExpansionOnceAndPolls()
{
    m_app->store.changeOutsideRecords([](StoreState &s) { s.expandedRowIDs = {QStringLiteral("F1")}; });
    QVERIFY(!m_view->tree().didLoadExpanded());
    m_view->show();
    QVERIFY(m_view->tree().didLoadExpanded());
    QCOMPARE(m_view->tree().expandedFolderIDs(), QSet<QString>({QStringLiteral("F1")}));
    QVERIFY(m_view->refresher().isPolling());

    m_view->setRenamingPageID(QStringLiteral("P"));
    QVERIFY(m_view->refresher().isRenameInProgress());
    m_view->setRenamingPageID(std::nullopt);
    QVERIFY(!m_view->refresher().isRenameInProgress());

    m_view->hide();
    QVERIFY(!m_view->refresher().isPolling());
    m_app->store.changeOutsideRecords([](StoreState &s) { s.expandedRowIDs = {QStringLiteral("F2")}; });
    m_view->show();
    QCOMPARE(m_view->tree().expandedFolderIDs(), QSet<QString>({QStringLiteral("F1")}));
    QVERIFY(m_view->refresher().isPolling());
}

void TestLibraryView::rowsFollowEachKindOfChange_data()
{
    QTest::addColumn<ListEdit>("edit");
    QTest::addColumn<bool>("shows"); // whether the listing changes at all
    const auto row = [](const char *name, ListEdit edit, bool shows = true) {
        QTest::newRow(name) << edit << shows;
    };
    const auto retitle = [](const QString &title) { return [title](FNPage &p) { p.title = title; }; };
    row("a page renamed", [=](LocalStore &s, const Listed &l) { s.editPage(l.pages[0], retitle("Typed")); });
    row("a favourite renamed",
        [=](LocalStore &s, const Listed &l) { s.editPage(l.pages[1], retitle("Fav")); });
    row("a subpage's icon", [](LocalStore &s, const Listed &l) {
        s.editPage(l.pages[2], [](FNPage &p) { p.icon = QStringLiteral("🌵"); });
    });
    row("a folder renamed", [](LocalStore &s, const Listed &l) {
        s.editFolder(l.folders[0], [](FNFolder &f) { f.name = QStringLiteral("Renamed"); });
    });
    row(
        "a page in the trash renamed",
        [=](LocalStore &s, const Listed &l) { s.editPage(l.pages[4], retitle("Gone")); }, false);
    row("a page moved to another folder", [](LocalStore &s, const Listed &l) {
        s.editPage(
            l.pages[0], [](FNPage &p) { p.folderServerID = 11; }, LocalStore::Stamp::Keep);
    });
    row("a page moved last", [](LocalStore &s, const Listed &l) {
        s.editPage(
            l.pages[5], [](FNPage &p) { p.position = 500; }, LocalStore::Stamp::Keep);
    });
    row("a folder moved into another", [](LocalStore &s, const Listed &l) {
        s.editFolder(l.folders[1], [](FNFolder &f) { f.parentFolderServerID = 10; });
    });
    row("a page deleted", [](LocalStore &s, const Listed &l) { s.markPageDeleted(l.pages[2]); });
    row("a page restored", [](LocalStore &s, const Listed &l) { s.restorePage(l.pages[4]); });
    row("a new page", [](LocalStore &s, const Listed &) {
        FNPage p;
        p.workspaceServerID = 1;
        p.title = QStringLiteral("New");
        s.upsertPage(p);
    });
    row("a pull renaming two pages", [](LocalStore &s, const Listed &l) {
        s.batch([&] {
            for (const int i : {0, 5}) {
                FNPage p = *s.page(l.pages[i]);
                p.title += QStringLiteral(" (pulled)");
                s.upsertPage(p);
            }
        });
    });
    row("the badges", [](LocalStore &s, const Listed &) { s.setPageStatus(100, FNPageStatus{true, 1}); });
}

// After each kind of change the sidebar in its window lists what a fresh listing of the same state
// lists: a rename mends its rows in place, anything that moves a row lists the tree anew.
void TestLibraryView::rowsFollowEachKindOfChange()
{
    QFETCH(ListEdit, edit);
    QFETCH(bool, shows);
    LocalStore &store = m_app->store;
    store.setWorkspaces({workspace(1, QStringLiteral("Personal")), workspace(2, QStringLiteral("Team"))});
    store.setCurrentWorkspaceID(1);
    Listed listed;
    for (const auto &[id, parent, name] : {std::tuple{10, 0, "A"}, {11, 0, "B"}, {12, 10, "C"}}) {
        FNFolder f;
        f.serverID = id;
        f.workspaceServerID = 1;
        f.parentFolderServerID = parent;
        f.name = QString::fromLatin1(name);
        f.position = id;
        store.upsertFolder(f);
        listed.folders << f.localID;
    }
    struct Made {
        qint64 id, workspace, folder, parent;
        const char *title;
        bool deleted;
    };
    for (const Made &m : {Made{100, 1, 10, 0, "Plan", false}, Made{101, 1, 0, 0, "Notes", false},
                          Made{102, 1, 0, 101, "Sub", false}, Made{103, 2, 0, 0, "Elsewhere", false},
                          Made{104, 1, 0, 0, "Trashed", true}, Made{0, 1, 0, 0, "Later", false}}) {
        FNPage p;
        p.serverID = m.id;
        p.workspaceServerID = m.workspace;
        p.folderServerID = m.folder;
        p.parentPageServerID = m.parent;
        p.title = QString::fromLatin1(m.title);
        p.position = m.id;
        if (m.deleted)
            p.deletedAt = QDateTime::currentDateTimeUtc();
        store.upsertPage(p);
        listed.pages << p.localID;
    }
    m_app->favorites.toggle(listed.pages[1]);
    m_view->resize(280, 600);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_view->tree().setExpanded(listed.folders[0], true);
    m_view->tree().setExpanded(listed.pages[1], true);
    const auto fresh = [&] {
        LibraryTree tree(store, &m_app->favorites);
        tree.loadExpandedOnce();
        return described(tree.listContent());
    };
    QTRY_COMPARE(described(m_view->rowModel().rows()), fresh());
    const QStringList before = fresh();

    edit(store, listed);
    QCOMPARE(fresh() != before, shows);
    QTRY_COMPARE(described(m_view->rowModel().rows()), fresh());
}

QTEST_MAIN(TestLibraryView)
#include "tst_library_view.moc"
