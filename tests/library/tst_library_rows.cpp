#include "api/api_client.h"
#include "editor/emoji_picker.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_refresher.h"
#include "library/library_row_delegate.h"
#include "library/library_row_editor.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "library_rows_fixture.h"
#include "support/app_harness.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/glyph_pixmaps.h"
#include "ui/toast_center.h"

#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (const QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return out;
}

} // namespace

// The folder and page rows of the sidebar: icons, menus, badges, and drops onto the list.
class TestLibraryRows : public QObject, protected LibraryRowsFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { startFake(); }
    void init() { initView(); }
    void cleanup() { cleanupView(); }

    void manyRowsDrawEachIconOnce_data();
    void manyRowsDrawEachIconOnce();
    void folderIconAppliesToTheFolderAsStored_data();
    void folderIconAppliesToTheFolderAsStored();
    void iconPickerOpensUnderItsRowAndClosesUnchanged();
    void contextMenus();
    void newPageInFolderShowsUnderItsFolder();
    void deletingTheOpenPageAndUndo();
    void dropsOnTheList();
    void dropsOffTheRows_data();
    void dropsOffTheRows();
    void badgesAndToolTips();
};

void TestLibraryRows::folderIconAppliesToTheFolderAsStored_data()
{
    QTest::addColumn<bool>("remove");
    QTest::newRow("an emoji") << false;
    QTest::newRow("Remove: the folder emoji") << true;
}

void TestLibraryRows::folderIconAppliesToTheFolderAsStored()
{
    QFETCH(bool, remove);
    FNFolder f = folder(QStringLiteral("Projects"), 0);
    f.icon = QStringLiteral("⭐");
    m_app->store.upsertFolder(f);
    QTRY_VERIFY(row(QStringLiteral("folder:") + f.localID).isValid());
    std::unique_ptr<QMenu> menu(m_view->contextMenu(row(QStringLiteral("folder:") + f.localID)));
    action(menu.get(), QStringLiteral("Change icon..."))->trigger();
    // The page header's picker, showing the folder's icon.
    EmojiPicker *picker = m_view->iconPicker();
    QVERIFY(picker && picker->isVisible());
    QCOMPARE(picker->currentIcon(), QStringLiteral("⭐"));

    // While the picker is open the folder is renamed and reaches the service.
    FNFolder current = m_app->storedFolder(f.localID);
    current.name = QStringLiteral("Renamed");
    current.serverID = 51;
    m_app->store.upsertFolder(current);
    m_fake.state().folders[51].id = 51;
    m_fake.state().folders[51].workspaceId = m_account.workspaceId;

    picker->filterField()->setText(QStringLiteral("rocket"));
    const QList<QToolButton *> cells = picker->cells(picker->shownCategories().value(0));
    QCOMPARE(cells.size(), 1);
    if (remove)
        picker->removeButton()->click();
    else
        cells[0]->click();
    QVERIFY(!picker->isVisible());
    QVERIFY(!m_view->iconPickerFolder());

    const QString icon = remove ? QStringLiteral("📁") : QStringLiteral("🚀");
    const FNFolder after = m_app->storedFolder(f.localID);
    QCOMPARE(after.icon, icon);
    QCOMPARE(after.name, QStringLiteral("Renamed"));
    QTRY_COMPARE(patchBodies(), QStringList{QStringLiteral(R"({"folder_id":51,"icon":"%1"})").arg(icon)});
    QCOMPARE(m_fake.state().folders[51].icon, icon);
    QTRY_COMPARE(row(QStringLiteral("folder:") + f.localID).data(LibraryRowModel::IconRole).toString(), icon);
}

void TestLibraryRows::iconPickerOpensUnderItsRowAndClosesUnchanged()
{
    const FNFolder first = folder(QStringLiteral("First"), 0);
    const FNFolder second = folder(QStringLiteral("Second"), 0);
    showView();
    QTRY_VERIFY(row(QStringLiteral("folder:") + second.localID).isValid());
    const QRect rowRect = m_view->listView()->visualRect(row(QStringLiteral("folder:") + second.localID));
    m_view->showIconPicker(first.localID);
    // Another folder's icon: one picker, for that folder, under its row.
    m_view->showIconPicker(second.localID);
    EmojiPicker *picker = m_view->iconPicker();
    QVERIFY(picker && picker->isVisible());
    QCOMPARE(m_view->findChildren<EmojiPicker *>().size(), 1);
    QCOMPARE(m_view->iconPickerFolder(), std::optional(second.localID));
    QCOMPARE(picker->header(), QStringLiteral("Folder icon"));
    const QPoint anchor = m_view->listView()->viewport()->mapToGlobal(rowRect.bottomLeft());
    QVERIFY2((picker->geometry().topLeft() - anchor).manhattanLength() <= 6,
             qPrintable(QStringLiteral("%1,%2").arg(picker->x()).arg(picker->y())));

    picker->closeButton()->click();
    QVERIFY(!picker->isVisible());
    QVERIFY(!m_view->iconPickerFolder());
    QVERIFY(patchBodies().isEmpty());
}

void TestLibraryRows::contextMenus()
{
    const FNFolder f = folder(QStringLiteral("Projects"), 70);
    const FNPage p = page(QStringLiteral("Plan"), 0);
    FNPage filed = page(QStringLiteral("Filed"), 0, 1);
    filed.folderServerID = f.serverID;
    m_app->store.upsertPage(filed);
    QTRY_VERIFY(row(QStringLiteral("page:") + p.localID).isValid());

    std::unique_ptr<QMenu> folderMenu(m_view->contextMenu(row(QStringLiteral("folder:") + f.localID)));
    QCOMPARE(texts(folderMenu->actions()), QStringList({"Rename", "Change icon...", "New page in folder",
                                                        "New subfolder", "---", "Delete folder"}));
    // A page already at the top level is not offered a move that changes nothing.
    std::unique_ptr<QMenu> pageMenu(m_view->contextMenu(row(QStringLiteral("page:") + p.localID)));
    QCOMPARE(texts(pageMenu->actions()),
             QStringList({"Add to Favorites", "Rename", "New subpage", "---", "Delete page"}));
    m_view->tree().setExpanded(f.localID, true);
    QTRY_VERIFY(row(QStringLiteral("page:") + filed.localID).isValid());
    std::unique_ptr<QMenu> filedMenu(m_view->contextMenu(row(QStringLiteral("page:") + filed.localID)));
    QCOMPARE(texts(filedMenu->actions()), QStringList({"Add to Favorites", "Rename", "New subpage",
                                                       "Move to root", "---", "Delete page"}));
    // Deleting is drawn as every destructive action is, and only deleting.
    for (QMenu *menu : {folderMenu.get(), pageMenu.get(), filedMenu.get()}) {
        QVERIFY(qobject_cast<AppMenu *>(menu));
        for (QAction *a : menu->actions())
            QCOMPARE(AppStyle::isDestructive(a), a->text().startsWith(QLatin1String("Delete")));
    }
    action(filedMenu.get(), QStringLiteral("Move to root"))->trigger();
    QCOMPARE(m_app->storedPage(filed.localID).folderServerID, qint64(0));

    action(pageMenu.get(), QStringLiteral("Add to Favorites"))->trigger();
    QVERIFY(m_app->favorites.ids().contains(p.localID));
    pageMenu.reset(m_view->contextMenu(row(QStringLiteral("page:") + p.localID)));
    QCOMPARE(pageMenu->actions()[0]->text(), QStringLiteral("Remove from Favorites"));
    QVERIFY(!m_view->contextMenu(QModelIndex()));

    action(folderMenu.get(), QStringLiteral("Delete folder"))->trigger();
    QVERIFY(m_app->store.state().folders[0].deletedAt);
    QCOMPARE(m_app->toasts.current()->message, QStringLiteral("Folder deleted"));
}

void TestLibraryRows::newPageInFolderShowsUnderItsFolder()
{
    const FNFolder f = folder(QStringLiteral("Projects"), 71);
    showView();
    QTRY_VERIFY(row(QStringLiteral("folder:") + f.localID).isValid());
    QVERIFY(!row(QStringLiteral("folder:") + f.localID).data(LibraryRowModel::ExpandedRole).toBool());
    QSignalSpy created(m_view.get(), &LibraryView::pageCreated);
    std::unique_ptr<QMenu> menu(m_view->contextMenu(row(QStringLiteral("folder:") + f.localID)));
    action(menu.get(), QStringLiteral("New page in folder"))->trigger();
    QTRY_COMPARE(created.size(), 1);
    const QString pageID = created[0][0].toString();
    QTRY_VERIFY(row(QStringLiteral("folder:") + f.localID).data(LibraryRowModel::ExpandedRole).toBool());
    QTRY_VERIFY(row(QStringLiteral("page:") + pageID).isValid());
    QCOMPARE(row(QStringLiteral("page:") + pageID).data(LibraryRowModel::DepthRole).toInt(), 1);
}

void TestLibraryRows::deletingTheOpenPageAndUndo()
{
    const FNPage open = page(QStringLiteral("Open"), 0, 0);
    const FNPage other = page(QStringLiteral("Other"), 0, 1);
    QTRY_VERIFY(row(QStringLiteral("page:") + other.localID).isValid());
    QSignalSpy home(m_view.get(), &LibraryView::homeRequested);
    QSignalSpy selected(m_view.get(), &LibraryView::pageSelected);

    m_view->setSelectedPageLocalID(open.localID);
    std::unique_ptr<QMenu>(m_view->contextMenu(row(QStringLiteral("page:") + other.localID)))
        ->actions()
        .last()
        ->trigger();
    QCOMPARE(home.count(), 0); // another page: the open one stays
    QCOMPARE(m_view->selectedPageLocalID(), std::optional(open.localID));

    std::unique_ptr<QMenu>(m_view->contextMenu(row(QStringLiteral("page:") + open.localID)))
        ->actions()
        .last()
        ->trigger();
    QCOMPARE(home.count(), 1);
    QVERIFY(!m_view->selectedPageLocalID());
    QTRY_VERIFY(!row(QStringLiteral("page:") + open.localID).isValid());

    m_app->toasts.runAction(m_app->toasts.current()->id);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected[0][0].toString(), open.localID);
    QTRY_VERIFY(row(QStringLiteral("page:") + open.localID).isValid());
}

void TestLibraryRows::dropsOnTheList()
{
    const FNFolder f = folder(QStringLiteral("Inbox"), 10);
    const FNPage p = page(QStringLiteral("P"), 0, 0);
    const FNPage q = page(QStringLiteral("Q"), 0, 1);
    showView();
    LibraryListView *list = m_view->listView();
    const LibraryRowModel &model = m_view->rowModel();
    const auto centre = [&](const QString &rowID) { return list->visualRect(row(rowID)).center(); };
    const auto stored = [&](const FNPage &page) { return m_app->storedPage(page.localID); };
    const auto send = [&](QEvent::Type type, const QPoint &at, const QString &text) {
        QMimeData mime;
        if (!text.isEmpty())
            mime.setText(text);
        if (type == QEvent::Drop) {
            // A drop goes to the widget that took the drag's entry.
            QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &enter);
            QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &drop);
            return drop.isAccepted();
        }
        QDragMoveEvent move(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier, type);
        QApplication::sendEvent(list->viewport(), &move);
        return move.isAccepted();
    };

    // The row under a drag is highlighted, and only that one.
    QVERIFY(send(QEvent::DragEnter, centre(QStringLiteral("folder:") + f.localID), QStringLiteral("page:x")));
    QCOMPARE(model.dropTargetFolderLocalID(), std::optional(f.localID));
    QVERIFY(send(QEvent::DragMove, centre(QStringLiteral("page:") + q.localID), QStringLiteral("page:x")));
    QVERIFY(!model.dropTargetFolderLocalID());
    QCOMPARE(model.dropAbovePageLocalID(), std::optional(q.localID));
    QCOMPARE(model.index(row(QStringLiteral("page:") + q.localID).row()).data(LibraryRowModel::DropAboveRole),
             QVariant(true));
    QDragLeaveEvent leave;
    QApplication::sendEvent(list->viewport(), &leave);
    QVERIFY(!model.dropAbovePageLocalID());

    // Nothing dropped: refused.
    QVERIFY(!send(QEvent::Drop, centre(QStringLiteral("page:") + p.localID), QString()));

    // Onto a page: just before it.
    QVERIFY(
        send(QEvent::Drop, centre(QStringLiteral("page:") + p.localID), QStringLiteral("page:") + q.localID));
    QCOMPARE(stored(q).position, qint64(0));
    QCOMPARE(stored(p).position, qint64(1));

    // Onto a folder: into it.
    QVERIFY(send(QEvent::Drop, centre(QStringLiteral("folder:") + f.localID),
                 QStringLiteral("page:") + p.localID));
    QCOMPARE(stored(p).folderServerID, qint64(10));
}

void TestLibraryRows::dropsOffTheRows_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("morePages"); // enough to fill the list, which is then scrolled to its end
    QTest::addColumn<bool>("toTopLevel");
    QTest::newRow("the favourites caption") << "caption" << 0 << true;
    QTest::newRow("the divider after the favourites") << "divider" << 0 << true;
    QTest::newRow("just under the last row") << "under" << 0 << true;
    QTest::newRow("just under the last row of a full list") << "under" << 40 << true;
    QTest::newRow("the empty space below the rows") << "below" << 0 << true;
    QTest::newRow("the list's bottom edge") << "bottom" << 0 << true;
}

// The list root is the rows' extent outside any folder or page row and the whole empty space below.
void TestLibraryRows::dropsOffTheRows()
{
    QFETCH(QString, where);
    QFETCH(int, morePages);
    QFETCH(bool, toTopLevel);
    const FNFolder f = folder(QStringLiteral("Inbox"), 10);
    m_fake.state().pages[30].id = 30;
    m_fake.state().pages[30].workspaceId = m_account.workspaceId;
    m_fake.state().pages[30].folderId = 10;
    FNPage filed = page(QStringLiteral("Filed"), 30);
    filed.folderServerID = f.serverID;
    m_app->store.upsertPage(filed);
    const FNPage favourite = page(QStringLiteral("Favourite"), 0, 1);
    m_app->favorites.toggle(favourite.localID);
    for (int i = 0; i < morePages; ++i)
        page(QStringLiteral("More %1").arg(i), 0, 2 + i);
    showView();
    LibraryListView *list = m_view->listView();
    const LibraryRowModel &model = m_view->rowModel();
    QTRY_COMPARE(model.rowCount(), 5 + morePages); // caption, favourite, divider, folder, favourite, more
    const auto lastRow = [&] { return list->visualRect(model.index(model.rowCount() - 1)); };
    const auto spot = [&] {
        const QRect last = lastRow();
        if (where == QLatin1String("caption"))
            return list->visualRect(model.index(0)).center();
        if (where == QLatin1String("divider"))
            return list->visualRect(model.index(2)).center();
        if (where == QLatin1String("under"))
            return QPoint(last.center().x(), last.bottom() + 4);
        if (where == QLatin1String("below"))
            return QPoint(last.center().x(), last.bottom() + 30);
        return QPoint(last.center().x(), list->viewport()->height() - 2);
    };
    QTRY_VERIFY(!m_app->store.isSavePending());
    // Scrolled to its end once the sidebar's own refresh has stopped moving the rows; a full list
    // still shows the strip under its last row there.
    QPoint at;
    QTRY_VERIFY([&] {
        list->scrollToBottom();
        QCoreApplication::processEvents();
        const QScrollBar *bar = list->verticalScrollBar();
        at = spot();
        return bar->value() == bar->maximum() && list->viewport()->rect().contains(at) &&
               list->dropSpotAt(at).kind == LibraryListView::DropSpot::Kind::Root;
    }());
    const QRect last = lastRow();
    m_fake.clearRequests();
    const StoreState before = m_app->store.state();

    QMimeData mime;
    mime.setText(QStringLiteral("page:") + filed.localID);
    QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QCOMPARE(enter.isAccepted(), toTopLevel);
    // A line under the last row marks the top level while the drag is over it.
    QCOMPARE(list->isRootDropShown(), toTopLevel);
    const QImage shown = list->viewport()->grab().toImage();
    const QColor mark = list->palette().color(QPalette::Highlight);
    int marked = 0;
    for (int y = last.bottom(); y < std::min(shown.height(), last.bottom() + 6); ++y) {
        for (int x = 0; x < shown.width(); ++x)
            marked += shown.pixelColor(x, y) == mark ? 1 : 0;
    }
    QVERIFY2(marked > shown.width(), qPrintable(QString::number(marked)));
    QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    QCOMPARE(drop.isAccepted(), toTopLevel);
    QVERIFY(!list->isRootDropShown());

    if (!toTopLevel) {
        QCOMPARE(m_app->store.state(), before);
        QVERIFY(!m_app->store.isSavePending());
        // Nothing is sent (the sidebar's refresh on showing may still be reading).
        const auto requests = m_fake.requests();
        QVERIFY(std::all_of(requests.begin(), requests.end(),
                            [](const HttpRequest &r) { return r.method == QByteArray("GET"); }));
        return;
    }
    QCOMPARE(m_app->storedPage(filed.localID).folderServerID, qint64(0));
    QTRY_COMPARE(m_fake.state().pages[30].folderId, qint64(0));
    QTRY_VERIFY(m_app->store.state().outbox.empty());
}

void TestLibraryRows::badgesAndToolTips()
{
    const FNPage shared = page(QStringLiteral("Shared"), 20, 0);
    const FNPage plain = page(QStringLiteral("Plain"), 21, 1);
    const FNPage local = page(QStringLiteral("Local"), 0, 2);
    m_app->store.changeOutsideRecords([](StoreState &s) {
        s.pageStatuses = {{QStringLiteral("20"), FNPageStatus{true, 2}},
                          {QStringLiteral("21"), FNPageStatus{false, 0}}};
    });
    showView();
    LibraryListView *list = m_view->listView();
    const QModelIndex sharedRow = row(QStringLiteral("page:") + shared.localID);
    QTRY_VERIFY(sharedRow.data(LibraryRowModel::PublishedRole).toBool());
    QCOMPARE(sharedRow.data(LibraryRowModel::SharedCountRole).toLongLong(), qint64(2));
    for (const FNPage &none : {plain, local}) {
        const QModelIndex index = row(QStringLiteral("page:") + none.localID);
        const LibraryRowDelegate::Parts parts = LibraryRowDelegate::layout(list->visualRect(index), index);
        QVERIFY(parts.globe.isEmpty() && parts.share.isEmpty());
    }

    const LibraryRowDelegate::Parts parts =
        LibraryRowDelegate::layout(list->visualRect(sharedRow), sharedRow);
    QCOMPARE(list->toolTipAt(parts.handle.center()), QStringLiteral("Drag to move"));
    QCOMPARE(list->toolTipAt(parts.globe.center()), QStringLiteral("Published to the web"));
    QCOMPARE(list->toolTipAt(parts.share.center()), QStringLiteral("2 people have access"));
    QCOMPARE(list->toolTipAt(parts.title.center()), QString());
}

void TestLibraryRows::manyRowsDrawEachIconOnce_data()
{
    QTest::addColumn<QStringList>("icons");
    // Icons no other test draws, so each is new to the process.
    QTest::newRow("one icon") << QStringList{QStringLiteral("🌵")};
    QTest::newRow("three icons") << QStringList{QStringLiteral("🍋"), QStringLiteral("🚀"),
                                                QStringLiteral("★")};
}

// Scrolling through hundreds of rows draws each icon once per look, not once per row.
void TestLibraryRows::manyRowsDrawEachIconOnce()
{
    QFETCH(QStringList, icons);
    constexpr int kRows = 300;
    m_app->store.batch([&] {
        for (int i = 0; i < kRows; ++i) {
            FNPage p;
            p.serverID = 7000 + i;
            p.workspaceServerID = m_account.workspaceId;
            p.title = QStringLiteral("Page %1").arg(i);
            p.icon = icons[i % icons.size()];
            p.position = i;
            m_app->store.upsertPage(p);
        }
    });
    const int before = GlyphPixmaps::cachedCount();
    showView();
    QTRY_VERIFY(m_view->rowModel().rowCount() >= kRows);
    QListView *list = m_view->listView();
    for (int step = 0; step < 50 && list->verticalScrollBar()->value() < list->verticalScrollBar()->maximum();
         ++step) {
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() + list->viewport()->height());
        list->viewport()->repaint();
    }
    QCOMPARE(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    const int made = GlyphPixmaps::cachedCount() - before;
    // One look each, two where a row was drawn selected.
    QVERIFY2(made >= int(icons.size()) && made <= 2 * int(icons.size()), qPrintable(QString::number(made)));
    // The same icon, drawn again, is the very pixmap made the first time.
    const QPixmap first = GlyphPixmaps::pixmap(icons[0], AppStyle::system(13), Qt::black, 1.0);
    QCOMPARE(GlyphPixmaps::pixmap(icons[0], AppStyle::system(13), Qt::black, 1.0).cacheKey(),
             first.cacheKey());
}

QTEST_MAIN(TestLibraryRows)
#include "tst_library_rows.moc"
