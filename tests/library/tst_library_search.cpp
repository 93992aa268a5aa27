#include "api/api_client.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "library/library_search.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
#include "ui/empty_state_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString kSearch = QStringLiteral("/api/search.php");

FNPage localPage(const QString &title, qint64 serverID, qint64 position)
{
    FNPage p;
    p.title = title;
    p.serverID = serverID;
    p.position = position;
    return p;
}

// The titles the sidebar lists; none while it shows its empty state.
QStringList shownTitles(LibraryView &view)
{
    QStringList out;
    if (view.listView()->isHidden())
        return out;
    const LibraryRowModel &model = view.rowModel();
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.index(row).data().toString();
    return out;
}

} // namespace

// The sidebar's search: the local filter, the service's hits merged in, the debounce, the empty state.
class TestLibrarySearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void mergeResults_data();
    void mergeResults();
    void serverSearchIsDebouncedAndEncoded();
    void failedSearchListsOnlyTheTitleMatches();
    void sidebarShowsResultsOrTheEmptyState();
    void sidebarListsOnlyHitsOfTheQueryInTheField_data();
    void sidebarListsOnlyHitsOfTheQueryInTheField();

private:
    FakeService m_fake;
};

void TestLibrarySearch::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibrarySearch::cleanup()
{
    m_fake.setOffline(false);
    m_fake.clearFaults();
}

void TestLibrarySearch::mergeResults_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QList<qint64>>("hits");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("title match, any case") << "ALP" << QList<qint64>{} << QStringList{"Alpha"};
    QTest::newRow("service hit after the local ones")
        << "alp" << QList<qint64>{3} << QStringList{"Alpha", "gamma"};
    QTest::newRow("found both ways: listed once, locally")
        << "alp" << QList<qint64>{1} << QStringList{"Alpha"};
    QTest::newRow("hits in tree order, unknown ids dropped")
        << "zzz" << QList<qint64>{3, 42, 2} << QStringList{"Beta notes", "gamma"};
    QTest::newRow("a single space is a query")
        << " " << QList<qint64>{} << QStringList{"Beta notes", "Local draft"};
}

void TestLibrarySearch::mergeResults()
{
    QFETCH(QString, query);
    QFETCH(QList<qint64>, hits);
    QFETCH(QStringList, expected);
    const std::vector<FNPage> pages{
        localPage(QStringLiteral("Alpha"), 1, 0), localPage(QStringLiteral("Beta notes"), 2, 1),
        localPage(QStringLiteral("gamma"), 3, 2), localPage(QStringLiteral("Local draft"), 0, 3)};
    std::vector<SearchHit> serverHits;
    for (qint64 id : hits) {
        SearchHit hit;
        hit.id = id;
        hit.title = QStringLiteral("ignored");
        serverHits.push_back(hit);
    }
    QCOMPARE(titles(LibrarySearch::mergeResults(pages, query, serverHits)), expected);
}

void TestLibrarySearch::serverSearchIsDebouncedAndEncoded()
{
    const FakeService::Account account =
        m_fake.createAccount(QStringLiteral("s1@example.com"), "secret12", "S");
    const auto owned = deviceInWorkspace(m_fake, account);
    TestDevice &device = *owned;
    device.addPage(account.workspaceId, QStringLiteral("R&D notes"));
    const FNPage budget = device.addPage(account.workspaceId, QStringLiteral("Budget"));
    QVERIFY(device.sync());
    device.addBlock(budget.localID, QStringLiteral("Spend on R&D doubles"), 0);
    QVERIFY(device.queueBlockUpsert(budget.localID));
    QVERIFY(device.sync());
    m_fake.clearRequests();

    LibrarySearch search(device.store(), device.client());
    search.setDebounce(30ms);
    QSignalSpy hits(&search, &LibrarySearch::hitsChanged);
    search.setQuery(QStringLiteral("R"));
    QCOMPARE(titles(search.results()), QStringList{"R&D notes"});
    search.setQuery(QStringLiteral("R&"));
    search.setQuery(QStringLiteral("R&D"));
    QVERIFY(hits.wait());

    // One request for the last text, whose "&" arrived as part of the query.
    const QList<HttpRequest> sent = m_fake.requestsTo(kSearch);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].queryValue(QStringLiteral("q")), std::optional<QString>(QStringLiteral("R&D")));
    QCOMPARE(sent[0].queryValue(QStringLiteral("workspace_id")),
             std::optional(QString::number(account.workspaceId)));
    QCOMPARE(titles(search.results()), QStringList({"R&D notes", "Budget"}));

    // Back to one character: the service's hits go at once; the title filter stays.
    search.setQuery(QStringLiteral("R"));
    QVERIFY(search.serverSearchHits().empty());
    QCOMPARE(titles(search.results()), QStringList{"R&D notes"});
}

void TestLibrarySearch::failedSearchListsOnlyTheTitleMatches()
{
    const FakeService::Account account =
        m_fake.createAccount(QStringLiteral("s2@example.com"), "secret12", "S");
    const auto owned = deviceInWorkspace(m_fake, account);
    TestDevice &device = *owned;
    const FNPage page = device.addPage(account.workspaceId, QStringLiteral("Quarterly"));
    QVERIFY(device.sync());
    m_fake.clearRequests();

    LibrarySearch search(device.store(), device.client());
    search.setDebounce(1h); // searches run only when the test asks
    search.setQuery(QStringLiteral("quart"));
    QVERIFY(runTask(search.serverSearch(search.query())).ok());
    QCOMPARE(search.serverSearchHits().size(), size_t(1));

    QCOMPARE(search.results()[0].localID, page.localID);

    // The hits of "quart" say nothing about "Q4 plan".
    m_fake.setFault(kSearch, FakeService::Fault::http(500, R"({"error":"down"})"));
    search.setQuery(QStringLiteral("Q4 plan"));
    QVERIFY(runTask(search.serverSearch(search.query())).ok());
    QCOMPARE(m_fake.requestsTo(kSearch).size(), 2);
    QCOMPARE(titles(search.results()), QStringList{});
    m_fake.clearFaults();
}

void TestLibrarySearch::sidebarShowsResultsOrTheEmptyState()
{
    AppDevice appDevice;
    AppHarness app(appDevice);
    FNWorkspace w;
    w.serverID = 1;
    app.store.setWorkspaces({w});
    FNPage page;
    page.workspaceServerID = 1;
    page.title = QStringLiteral("Roadmap");
    app.store.upsertPage(page);
    LibraryView view(app.context());
    const LibraryRowModel &model = view.rowModel();
    QCOMPARE(view.searchEdit()->placeholderText(), QStringLiteral("Search pages"));
    QTRY_COMPARE(model.rowCount(), 1);

    view.searchEdit()->setText(QStringLiteral("road"));
    QTRY_COMPARE(model.rowCount(), 1);
    QVERIFY(!view.searchClearButton()->isHidden());

    view.searchEdit()->setText(QStringLiteral(" zz "));
    QTRY_VERIFY(!view.noMatchesView()->isHidden());
    QVERIFY(view.listView()->isHidden());
    QTRY_COMPARE(view.noMatchesView()->titleLabel()->text(), QStringLiteral("No matches"));
    QCOMPARE(view.noMatchesView()->subtitleLabel()->text(),
             QStringLiteral("Nothing matched \" zz \". Try a shorter query or different words."));

    view.searchClearButton()->click();
    QCOMPARE(view.searchEdit()->text(), QString());
    QTRY_VERIFY(view.noMatchesView()->isHidden());
    QVERIFY(!view.listView()->isHidden());
    QVERIFY(view.searchClearButton()->isHidden());
    QCOMPARE(model.index(0).data().toString(), QStringLiteral("Roadmap"));
}

void TestLibrarySearch::sidebarListsOnlyHitsOfTheQueryInTheField_data()
{
    QTest::addColumn<bool>("offline");
    QTest::newRow("offline") << true;
    QTest::newRow("online, the service slow") << false;
}

void TestLibrarySearch::sidebarListsOnlyHitsOfTheQueryInTheField()
{
    QFETCH(bool, offline);
    const FakeService::Account account = m_fake.createAccount(
        QStringLiteral("s%1@example.com").arg(offline ? "off" : "on"), "secret12", "S");
    const auto owned = deviceInWorkspace(m_fake, account);
    TestDevice &device = *owned;
    const FNPage numbers = device.addPage(account.workspaceId, QStringLiteral("Q3 numbers"));
    QVERIFY(device.sync());
    device.addBlock(numbers.localID, QStringLiteral("The budget for the quarter"), 0);
    QVERIFY(device.queueBlockUpsert(numbers.localID));
    QVERIFY(device.sync());

    LibraryView view(device.context());
    view.resize(300, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::keyClicks(view.searchEdit(), QStringLiteral("budget"));
    // Listed for its text, which only the service searches.
    QTRY_COMPARE_WITH_TIMEOUT(view.search().serverSearchHits().size(), size_t(1), 10000);
    QTRY_COMPARE(shownTitles(view), QStringList{"Q3 numbers"});

    if (offline)
        m_fake.setOffline(true);
    else
        m_fake.setFault(kSearch, once(FakeService::Fault::held()));
    m_fake.clearRequests();
    view.searchEdit()->setText(QStringLiteral("zebra")); // pasted over "budget"
    // Nothing of "budget" is listed under "zebra", not even while its own search is on its way.
    QCOMPARE(titles(view.search().results()), QStringList{});
    if (!offline) {
        QTRY_COMPARE_WITH_TIMEOUT(m_fake.requestsTo(kSearch).size(), 1, 10000);
        QTRY_COMPARE(view.noMatchesView()->titleLabel()->text(), QStringLiteral("Searching\u2026"));
        QVERIFY(!view.noMatchesView()->isHidden());
        QCOMPARE(shownTitles(view), QStringList{});
        m_fake.releaseHeldAnswers();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!view.noMatchesView()->isHidden() &&
                                 view.noMatchesView()->titleLabel()->text() == QStringLiteral("No matches"),
                             10000);
    QCOMPARE(shownTitles(view), QStringList{});
    QCOMPARE(view.noMatchesView()->subtitleLabel()->text(),
             QStringLiteral("Nothing matched \"zebra\". Try a shorter query or different words."));
}

QTEST_MAIN(TestLibrarySearch)
#include "tst_library_search.moc"
