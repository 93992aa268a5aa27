#include "library/library_tree.h"
#include "platform/settings.h"
#include "store/favorites_store.h"
#include "store/local_store.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QDateTime kT0 = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<Settings> settings = Settings::temporary();
    std::unique_ptr<LocalStore> store =
        std::make_unique<LocalStore>(dir.path(), std::chrono::milliseconds(1));
    FavoritesStore favorites{*settings};
    std::unique_ptr<LibraryTree> tree = std::make_unique<LibraryTree>(*store, &favorites);
    int clock = 0;

    Fixture()
    {
        FNWorkspace one;
        one.serverID = 1;
        one.name = QStringLiteral("One");
        FNWorkspace two;
        two.serverID = 2;
        two.name = QStringLiteral("Two");
        store->setWorkspaces({one, two});
    }

    // Records are appended as they are, so two may share a server id (as a lost race leaves them).
    QString folder(const QString &name, qint64 serverID, qint64 parent = 0, qint64 position = 1,
                   qint64 workspace = 1)
    {
        FNFolder f;
        f.serverID = serverID;
        f.workspaceServerID = workspace;
        f.parentFolderServerID = parent;
        f.name = name;
        f.position = position;
        f.createdAt = kT0.addSecs(++clock);
        store->change([&](StoreState &s) { s.folders.push_back(f); });
        return f.localID;
    }

    QString page(const QString &title, qint64 serverID, qint64 folder = 0, qint64 parent = 0,
                 qint64 position = 1, qint64 workspace = 1)
    {
        FNPage p;
        p.serverID = serverID;
        p.workspaceServerID = workspace;
        p.folderServerID = folder;
        p.parentPageServerID = parent;
        p.title = title;
        p.position = position;
        p.createdAt = kT0.addSecs(++clock);
        store->change([&](StoreState &s) { s.pages.push_back(p); });
        return p.localID;
    }

    void expand(const QStringList &localIDs)
    {
        for (const QString &id : localIDs)
            tree->setExpanded(id, true);
    }

    // One line per row: two spaces per level, "F " or "P " and the name; "Favorites" and "---".
    QStringList rendered() const
    {
        QStringList out;
        for (const LibraryTree::Row &row : tree->listContent()) {
            switch (row.kind) {
            case LibraryTree::Row::Kind::FavoritesCaption:
                out << row.title;
                break;
            case LibraryTree::Row::Kind::Divider:
                out << QStringLiteral("---");
                break;
            case LibraryTree::Row::Kind::Folder:
                out << QString(row.depth * 2, QLatin1Char(' ')) + QStringLiteral("F ") + row.title;
                break;
            case LibraryTree::Row::Kind::Page:
                out << QString(row.depth * 2, QLatin1Char(' ')) + QStringLiteral("P ") + row.title;
                break;
            }
        }
        return out;
    }
};

} // namespace

class TestLibraryTree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void nestingOrderAndExpansion();
    void workspaceFilter_data();
    void workspaceFilter();
    void favourites_data();
    void favourites();
    void badParentDataEndsAndShowsEachRecordOnce_data();
    void badParentDataEndsAndShowsEachRecordOnce();
    void expansionIsPersistedAndLoadedOnce();
    void rowsMendedOnlyWhereNoRowMoves_data();
    void rowsMendedOnlyWhereNoRowMoves();
};

void TestLibraryTree::nestingOrderAndExpansion()
{
    Fixture f;
    const QString a = f.folder(QStringLiteral("A"), 10, 0, 2);
    f.folder(QStringLiteral("B"), 11, 0, 1);
    const QString sub = f.folder(QStringLiteral("A/sub"), 12, 10, 1);
    f.page(QStringLiteral("in sub"), 40, 12);
    const QString local = f.folder(QStringLiteral("local only"), 0, 0, 3);
    f.page(QStringLiteral("P-later"), 20, 0, 0, 1);
    // Equal position: the older one first; equal in both, store order.
    FNPage older;
    older.serverID = 21;
    older.workspaceServerID = 1;
    older.title = QStringLiteral("P-older");
    older.position = 1;
    older.createdAt = kT0;
    f.store->upsertPage(older);
    const QString parent = f.page(QStringLiteral("P-parent"), 22, 0, 0, 5);
    // A subpage stays under its page even when it names a folder.
    f.page(QStringLiteral("child"), 23, 10, 22);
    f.page(QStringLiteral("in A"), 24, 10);
    f.page(QStringLiteral("also in A, first"), 25, 10, 0, 0);
    f.page(QStringLiteral("hidden: no such folder"), 26, 99);

    QCOMPARE(f.rendered(),
             QStringList({"F B", "F A", "F local only", "P P-older", "P P-later", "P P-parent"}));

    // Subfolders before pages; a folder without a server id never shows children.
    f.expand({a, sub, parent, local});
    QCOMPARE(f.rendered(),
             QStringList({"F B", "F A", "  F A/sub", "    P in sub", "  P also in A, first", "  P in A",
                          "F local only", "P P-older", "P P-later", "P P-parent", "  P child"}));

    const auto rows = f.tree->listContent();
    QCOMPARE(rows[1].rowID(), QStringLiteral("folder:") + a);
    QVERIFY(rows[1].hasChildren && rows[1].expanded);
    QVERIFY(!rows[0].hasChildren); // B is empty
    QVERIFY(!rows[6].hasChildren); // local only

    // Deleting a folder hides what it holds; restoring shows it again.
    f.store->markFolderDeleted(a);
    QCOMPARE(f.rendered(),
             QStringList({"F B", "F local only", "P P-older", "P P-later", "P P-parent", "  P child"}));
    f.store->restoreFolder(a);
    QCOMPARE(f.rendered().size(), 11);
}

void TestLibraryTree::workspaceFilter_data()
{
    QTest::addColumn<bool>("workspacesKnown");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("current workspace only") << true << QStringList({"F mine", "P mine"});
    QTest::newRow("no workspace known: everything")
        << false << QStringList({"F mine", "F theirs", "P mine", "P theirs"});
}

void TestLibraryTree::workspaceFilter()
{
    QFETCH(bool, workspacesKnown);
    QFETCH(QStringList, expected);
    Fixture f;
    if (!workspacesKnown)
        f.store->setWorkspaces({});
    f.folder(QStringLiteral("mine"), 1, 0, 1, 1);
    f.folder(QStringLiteral("theirs"), 2, 0, 1, 2);
    f.page(QStringLiteral("mine"), 3, 0, 0, 1, 1);
    f.page(QStringLiteral("theirs"), 4, 0, 0, 1, 2);
    f.store->markPageDeleted(f.page(QStringLiteral("deleted"), 5));
    QCOMPARE(f.rendered(), expected);
}

void TestLibraryTree::favourites_data()
{
    QTest::addColumn<QStringList>("favourite");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("none") << QStringList() << QStringList({"F Folder", "P Root"});
    QTest::newRow("only unlisted ids")
        << QStringList({"missing", "other workspace", "deleted"}) << QStringList({"F Folder", "P Root"});
    QTest::newRow("shown twice, in tree order")
        << QStringList({"Root", "In deleted folder"})
        << QStringList({"Favorites", "P In deleted folder", "P Root", "---", "F Folder", "P Root"});
}

void TestLibraryTree::favourites()
{
    QFETCH(QStringList, favourite);
    QFETCH(QStringList, expected);
    Fixture f;
    f.folder(QStringLiteral("Folder"), 1);
    f.store->markFolderDeleted(f.folder(QStringLiteral("Gone"), 2));
    QHash<QString, QString> ids;
    ids[QStringLiteral("In deleted folder")] = f.page(QStringLiteral("In deleted folder"), 10, 2, 0, 0);
    ids[QStringLiteral("Root")] = f.page(QStringLiteral("Root"), 11);
    ids[QStringLiteral("other workspace")] = f.page(QStringLiteral("Elsewhere"), 12, 0, 0, 1, 2);
    ids[QStringLiteral("deleted")] = f.page(QStringLiteral("Deleted"), 13);
    f.store->markPageDeleted(ids[QStringLiteral("deleted")]);
    QSet<QString> set;
    for (const QString &name : favourite)
        set.insert(ids.value(name, name));
    f.favorites.setIds(set);
    QCOMPARE(f.rendered(), expected);
}

void TestLibraryTree::badParentDataEndsAndShowsEachRecordOnce_data()
{
    QTest::addColumn<int>("shape");
    QTest::newRow("two pages naming each other as parent") << 0;
    QTest::newRow("a page whose server id copy is its own child") << 1;
    QTest::newRow("a folder whose server id copy sits inside it") << 2;
}

void TestLibraryTree::badParentDataEndsAndShowsEachRecordOnce()
{
    QFETCH(int, shape);
    Fixture f;
    QStringList all;
    if (shape == 0) {
        all << f.page(QStringLiteral("A"), 2, 0, 3) << f.page(QStringLiteral("B"), 3, 0, 2);
        f.favorites.setIds({all[0], all[1]});
    } else if (shape == 1) {
        all << f.page(QStringLiteral("A"), 5) << f.page(QStringLiteral("A copy"), 5, 0, 5);
        f.favorites.setIds({all[1]});
    } else {
        all << f.folder(QStringLiteral("F"), 7) << f.folder(QStringLiteral("F copy"), 7, 7);
        all << f.page(QStringLiteral("in F"), 8, 7);
    }
    f.expand(all);

    const auto rows = f.tree->listContent();
    QVERIFY(rows.size() < 20);
    // Within each top-level node (and within the tree), no record is drawn twice.
    QSet<QString> seen;
    for (const LibraryTree::Row &row : rows) {
        if (row.depth == 0 && row.kind == LibraryTree::Row::Kind::Page &&
            f.favorites.ids().contains(row.localID))
            seen.clear();
        if (row.kind == LibraryTree::Row::Kind::Divider)
            seen.clear();
        if (row.localID.isEmpty())
            continue;
        QVERIFY2(!seen.contains(row.rowID()), qPrintable(f.rendered().join(QLatin1Char('|'))));
        seen.insert(row.rowID());
    }
    if (shape == 0)
        QCOMPARE(f.rendered(), QStringList({"Favorites", "P A", "  P B", "P B", "  P A", "---"}));
    if (shape == 2)
        QCOMPARE(f.rendered(), QStringList({"F F", "  F F copy", "    P in F"}));
}

void TestLibraryTree::expansionIsPersistedAndLoadedOnce()
{
    Fixture f;
    const QString folder = f.folder(QStringLiteral("F"), 1);
    const QString empty = f.folder(QStringLiteral("Empty"), 2);
    const QString page = f.page(QStringLiteral("P"), 3, 1);
    f.page(QStringLiteral("Sub"), 4, 0, 3);
    QSignalSpy changed(f.tree.get(), &LibraryTree::expandedChanged);

    f.tree->toggleFolderExpanded(*f.store->folder(empty));
    QCOMPARE(changed.count(), 0);
    f.tree->toggleFolderExpanded(*f.store->folder(folder));
    f.tree->togglePageExpanded(*f.store->page(page));
    QCOMPARE(changed.count(), 2);
    const std::vector<QString> stored = f.store->state().expandedRowIDs;
    QCOMPARE(QSet<QString>(stored.begin(), stored.end()), QSet<QString>({folder, page}));
    QTRY_VERIFY(!f.store->isSavePending());

    // A restart opens the same rows.
    f.tree.reset();
    f.store = std::make_unique<LocalStore>(f.dir.path(), std::chrono::milliseconds(1));
    f.tree = std::make_unique<LibraryTree>(*f.store, &f.favorites);
    QVERIFY(f.tree->expandedFolderIDs().isEmpty());
    f.tree->loadExpandedOnce();
    QCOMPARE(f.tree->expandedFolderIDs(), QSet<QString>({folder, page}));
    QCOMPARE(f.rendered(), QStringList({"F F", "  P P", "    P Sub", "F Empty"}));

    // A second appearance keeps what the sidebar holds.
    f.tree->setExpanded(page, false);
    f.store->changeOutsideRecords([](StoreState &s) { s.expandedRowIDs = {QStringLiteral("other")}; });
    f.tree->loadExpandedOnce();
    QCOMPARE(f.tree->expandedFolderIDs(), QSet<QString>({folder}));
}

void TestLibraryTree::rowsMendedOnlyWhereNoRowMoves_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("mended"); // else the tree is to be listed anew
    QTest::newRow("a title") << "title" << true;
    QTest::newRow("an icon") << "icon" << true;
    QTest::newRow("a folder's name") << "folder name" << true;
    QTest::newRow("a page of another workspace") << "elsewhere" << true;
    QTest::newRow("a position") << "position" << false;
    QTest::newRow("a folder") << "folder" << false;
    QTest::newRow("a parent page") << "parent" << false;
    QTest::newRow("a server id") << "server id" << false;
    QTest::newRow("to the trash") << "delete" << false;
    QTest::newRow("to another workspace") << "workspace" << false;
    QTest::newRow("a page new here") << "arrived" << false;
}

// A change that leaves every row where it was mends the rows it names and costs no listing of the
// whole tree; one that may move, add or drop a row asks for the listing.
void TestLibraryTree::rowsMendedOnlyWhereNoRowMoves()
{
    QFETCH(QString, change);
    QFETCH(bool, mended);
    Fixture f;
    const QString folder = f.folder(QStringLiteral("Work"), 10);
    const QString page = f.page(QStringLiteral("Plan"), 20, 10);
    const QString elsewhere = f.page(QStringLiteral("Away"), 21, 0, 0, 1, 2);
    f.expand({folder});
    const std::vector<LibraryTree::Row> rows = f.tree->listContent();
    LocalStore &store = *f.store;
    const auto edit = [&](const std::function<void(FNPage &)> &e) {
        store.editPage(page, e, LocalStore::Stamp::Keep);
    };
    QSet<QString> folders, pages{page};
    if (change == QLatin1String("title"))
        edit([](FNPage &p) { p.title = QStringLiteral("Typed"); });
    else if (change == QLatin1String("icon"))
        edit([](FNPage &p) { p.icon = QStringLiteral("🌵"); });
    else if (change == QLatin1String("position"))
        edit([](FNPage &p) { p.position = 7; });
    else if (change == QLatin1String("folder"))
        edit([](FNPage &p) { p.folderServerID = 0; });
    else if (change == QLatin1String("parent"))
        edit([](FNPage &p) { p.parentPageServerID = 21; });
    else if (change == QLatin1String("server id"))
        edit([](FNPage &p) { p.serverID = 22; });
    else if (change == QLatin1String("workspace"))
        edit([](FNPage &p) { p.workspaceServerID = 2; });
    else if (change == QLatin1String("delete"))
        store.markPageDeleted(page);
    else if (change == QLatin1String("folder name")) {
        store.editFolder(folder, [](FNFolder &r) { r.name = QStringLiteral("Play"); });
        folders = {folder};
        pages.clear();
    } else if (change == QLatin1String("elsewhere")) {
        store.editPage(elsewhere, [](FNPage &p) { p.title = QStringLiteral("Gone"); });
        pages = {elsewhere};
    } else if (change == QLatin1String("arrived")) {
        store.editPage(
            elsewhere, [](FNPage &p) { p.workspaceServerID = 1; }, LocalStore::Stamp::Keep);
        pages = {elsewhere};
    }
    const auto after = f.tree->rowsAfterEdits(rows, folders, pages);
    QCOMPARE(after.has_value(), mended);
    if (mended)
        QVERIFY(*after == f.tree->listContent());
}

QTEST_GUILESS_MAIN(TestLibraryTree)
#include "tst_library_tree.moc"
