#include "app/home_view.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "ui/fitted_text.h"
#include "ui/listing_watch.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

struct Records {
    QString folder;
    QString page;
    QString block;
    QString op;
};
using Edit = std::function<void(LocalStore &, const Records &)>;

FNWorkspace workspace(qint64 serverID, const QString &name)
{
    FNWorkspace w;
    w.serverID = serverID;
    w.name = name;
    return w;
}

PagePatchReq retitle(const QString &title)
{
    PagePatchReq patch;
    patch.title = title;
    return patch;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

// The sidebar and the home dashboard list folders and pages over the whole state; they rebuild when
// what they show changed, not on every outbox change a push or typing makes.
class TestListingWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void tellsOnlyWhatListingsShow_data();
    void tellsOnlyWhatListingsShow();
    void sidebarAndDashboardFollowTheirRecordsOnly();
    void hiddenDashboardCatchesUpWhenShown();

private:
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    Records m_records;
};

void TestListingWatch::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
    LocalStore &store = m_app->store;
    store.setWorkspaces({workspace(1, QStringLiteral("Personal")), workspace(2, QStringLiteral("Team"))});
    store.setCurrentWorkspaceID(1);
    FNFolder folder;
    folder.serverID = 10;
    folder.workspaceServerID = 1;
    folder.name = QStringLiteral("Projects");
    store.upsertFolder(folder);
    FNPage page;
    page.serverID = 20;
    page.workspaceServerID = 1;
    page.title = QStringLiteral("Plan");
    page.updatedAt = QDateTime::currentDateTimeUtc();
    store.upsertPage(page);
    FNBlock block;
    block.serverID = 30;
    block.pageLocalID = page.localID;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral("{\"text\":\"First line\"}");
    store.upsertBlock(block);
    const auto op = Outbox::of(store).pageUpdate(page.localID, retitle(QStringLiteral("Plan")),
                                                 Outbox::Unencodable::QueueNothing);
    QVERIFY(op);
    m_records = {folder.localID, page.localID, block.localID, op->localID};
}

void TestListingWatch::cleanup()
{
    m_app.reset();
    m_device.reset();
}

void TestListingWatch::tellsOnlyWhatListingsShow_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<bool>("told");

    const auto row = [](const char *name, Edit edit, bool told) { QTest::newRow(name) << edit << told; };
    row(
        "an operation queued",
        [](LocalStore &s, const Records &r) {
            Outbox::of(s).pageUpdate(r.page, retitle(QStringLiteral("Next")),
                                     Outbox::Unencodable::QueueNothing);
        },
        false);
    row(
        "an operation pushed", [](LocalStore &s, const Records &r) { QVERIFY(Outbox::of(s).drop(r.op)); },
        false);
    row(
        "the sync cursor", [](LocalStore &s, const Records &) { s.setCursorServerTs(99); }, false);
    row(
        "a block typed into",
        [](LocalStore &s, const Records &r) { s.editBlock(r.block, [](FNBlock &b) { b.position += 1; }); },
        false);
    row(
        "blocks pulled",
        [](LocalStore &s, const Records &r) {
            s.batch([&] {
                FNBlock b = *s.block(r.block);
                b.position = 7;
                s.upsertBlock(b);
            });
        },
        false);
    row(
        "the same expanded rows again",
        [](LocalStore &s, const Records &) { s.setExpandedRowIDs(s.state().expandedRowIDs); }, false);
    row(
        "the same workspaces again",
        [](LocalStore &s, const Records &) { s.setWorkspaces(s.state().workspaces); }, false);

    row(
        "a page renamed",
        [](LocalStore &s, const Records &r) { s.editPage(r.page, [](FNPage &p) { p.title = "Renamed"; }); },
        true);
    row(
        "a page deleted", [](LocalStore &s, const Records &r) { s.markPageDeleted(r.page); }, true);
    row(
        "a folder renamed",
        [](LocalStore &s, const Records &r) {
            s.editFolder(r.folder, [](FNFolder &f) { f.name = "Renamed"; });
        },
        true);
    row(
        "a page pulled",
        [](LocalStore &s, const Records &r) {
            s.batch([&] {
                FNPage p = *s.page(r.page);
                p.title = QStringLiteral("Pulled");
                s.upsertPage(p);
            });
        },
        true);
    row(
        "a folder pulled",
        [](LocalStore &s, const Records &r) {
            s.batch([&] {
                FNFolder f = *s.folder(r.folder);
                f.name = QStringLiteral("Pulled");
                s.upsertFolder(f);
            });
        },
        true);
    row(
        "a bulk edit", [](LocalStore &s, const Records &) { s.change([](StoreState &) {}); }, true);
    row(
        "a reset", [](LocalStore &s, const Records &) { s.reset(); }, true);
    row(
        "badges",
        [](LocalStore &s, const Records &) {
            s.setPageStatus(20, FNPageStatus{true, 2});
        },
        true);
    row(
        "a folder expanded", [](LocalStore &s, const Records &r) { s.setExpandedRowIDs({r.folder}); }, true);
    row(
        "a workspace renamed",
        [](LocalStore &s, const Records &) {
            s.setWorkspaces({workspace(1, QStringLiteral("Home")), workspace(2, QStringLiteral("Team"))});
        },
        true);
    row(
        "another workspace chosen", [](LocalStore &s, const Records &) { s.setCurrentWorkspaceID(2); }, true);
}

void TestListingWatch::tellsOnlyWhatListingsShow()
{
    QFETCH(Edit, edit);
    QFETCH(bool, told);
    LocalStore &store = m_app->store;
    ListingWatch watch(store);
    QSignalSpy spy(&watch, &ListingWatch::changed);
    QSignalSpy folders(&watch, &ListingWatch::folderChanged);
    QSignalSpy pages(&watch, &ListingWatch::pageChanged);
    const auto tellings = [&] { return spy.size() + folders.size() + pages.size(); };
    edit(store, m_records);
    QCOMPARE(tellings() > 0, told);

    // Once told, the same fields unchanged tell nothing more.
    spy.clear();
    folders.clear();
    pages.clear();
    store.setCursorServerTs(store.state().cursorServerTs + 1);
    QCOMPARE(tellings(), 0);
}

void TestListingWatch::sidebarAndDashboardFollowTheirRecordsOnly()
{
    LocalStore &store = m_app->store;
    LibraryView library(m_app->context());
    HomeView home(m_app->context());
    const LibraryRowModel &rows = library.rowModel();
    const auto sidebarShows = [&](const QString &title) {
        for (int i = 0; i < rows.rowCount(); ++i) {
            if (rows.index(i).data().toString() == title)
                return true;
        }
        return false;
    };
    const auto dashboardTitle = [&] {
        const auto &cards = home.recentCards();
        return cards.size() == 1 ? cards[0]->findChild<FittedText *>(QStringLiteral("title"))->text() : QString();
    };
    QTRY_VERIFY(sidebarShows(QStringLiteral("Plan")));
    QCOMPARE(dashboardTitle(), QStringLiteral("Plan"));
    QPushButton *card = home.recentCards()[0];

    // An outbox change says the records stand as they were, so neither reads them again: a title
    // slipped into the state beside it stays unseen.
    store.changeOutsideRecords([&](StoreState &s) {
        s.pages.front().title = QStringLiteral("Unseen");
        s.outbox.clear();
    });
    QTest::qWait(50);
    QVERIFY(sidebarShows(QStringLiteral("Plan")));
    QCOMPARE(home.recentCards()[0], card);
    QCOMPARE(dashboardTitle(), QStringLiteral("Plan"));

    // A rename on this device and one pulled from another both show.
    store.editPage(m_records.page, [](FNPage &p) { p.title = QStringLiteral("Typed"); });
    QTRY_VERIFY(sidebarShows(QStringLiteral("Typed")));
    QTRY_COMPARE(dashboardTitle(), QStringLiteral("Typed"));
    store.batch([&] {
        FNPage p = *store.page(m_records.page);
        p.title = QStringLiteral("Pulled");
        store.upsertPage(p);
    });
    QTRY_VERIFY(sidebarShows(QStringLiteral("Pulled")));
    QTRY_COMPARE(dashboardTitle(), QStringLiteral("Pulled"));
}

// Behind an open page the dashboard fills no card on each rename of the page's title; shown again,
// it has caught up before its first frame, on the cards it had.
void TestListingWatch::hiddenDashboardCatchesUpWhenShown()
{
    LocalStore &store = m_app->store;
    HomeView home(m_app->context());
    home.resize(900, 700);
    home.show();
    QVERIFY(QTest::qWaitForWindowExposed(&home));
    const auto titleOf = [](const QPushButton *card) {
        return card->findChild<FittedText *>(QStringLiteral("title"))->text();
    };
    QTRY_COMPARE(home.recentCards().size(), 1);
    QPointer<QPushButton> card = home.recentCards()[0];
    QCOMPARE(titleOf(card), QStringLiteral("Plan"));

    const qsizetype cards = home.findChildren<QPushButton *>().size();
    home.hide();
    for (const char *title : {"P", "Pl", "Pla", "Plan B"})
        store.editPage(m_records.page, [&](FNPage &p) { p.title = QString::fromLatin1(title); });
    QTest::qWait(50);
    QVERIFY(card);
    QCOMPARE(titleOf(card), QStringLiteral("Plan"));

    home.show();
    QCOMPARE(titleOf(card), QStringLiteral("Plan B"));
    QCOMPARE(home.findChildren<QPushButton *>().size(), cards);
    QCOMPARE(home.recentCards()[0], card.data());
}

QTEST_MAIN(TestListingWatch)
#include "tst_listing_watch.moc"
