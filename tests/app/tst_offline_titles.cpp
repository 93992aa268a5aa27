#include "app/sync_button.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_tree.h"
#include "platform/icon_theme.h"
#include "support/journey.h"
#include "support/test_device.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using namespace journey;

// A page made offline and titled both in its header and in the sidebar before anything reached the
// service: the title typed last is the one the service and another device end with.
class TestOfflineTitles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void newestTitleWins_data();
    void newestTitleWins();

private:
    // Clicks the sync button, the waits between tries passed, and waits for the cycle it starts.
    void clickSync();
    // Renames the sidebar's row through its field; true once the page has the title.
    bool renameInSidebar(const QString &from, const QString &to);

    FakeService m_fake;
    std::unique_ptr<Launch> m_launched;
    int m_accounts = 0;
    QDateTime m_now;
};

void TestOfflineTitles::initTestCase()
{
    IconTheme::installFallback();
    QVERIFY(m_fake.start());
}

void TestOfflineTitles::cleanup()
{
    quit(m_launched);
    m_fake.setOffline(false);
}

void TestOfflineTitles::clickSync()
{
    // The engine is idle between clicks: nothing reads the clock while it moves.
    m_now = m_now.addSecs(120);
    journey::clickSync(*m_launched);
}

bool TestOfflineTitles::renameInSidebar(const QString &from, const QString &to)
{
    LibraryView *sidebar = m_launched->sidebar();
    if (!QTest::qWaitFor([&] { return sidebarRow(sidebar, from).isValid(); }))
        return qWarning() << "no row" << sidebarRows(sidebar), false;
    if (!chooseFromRowMenu(sidebar, from, QStringLiteral("Rename")))
        return qWarning() << "no menu", false;
    QLineEdit *field = nullptr;
    if (!QTest::qWaitFor([&] {
            field = sidebar->listView()->viewport()->findChild<QLineEdit *>();
            return field && field->isVisible();
        }))
        return qWarning() << "no field", false;
    field->selectAll();
    QTest::keyClicks(field, to);
    QTest::keyClick(field, Qt::Key_Return);
    if (!QTest::qWaitFor([&] { return sidebarRow(sidebar, to).isValid(); }))
        return qWarning() << "not renamed" << sidebarRows(sidebar), false;
    return true;
}

void TestOfflineTitles::newestTitleWins_data()
{
    QTest::addColumn<bool>("subpage");     // else a top-level page
    QTest::addColumn<bool>("sidebarLast"); // else the header is typed into after the sidebar's rename
    QTest::addColumn<bool>("pause");       // between the two, the header's title saved meanwhile
    QTest::newRow("a subpage, typed in its header, then renamed in the sidebar") << true << true << true;
    QTest::newRow("a page, typed in its header and at once renamed in the sidebar") << false << true << false;
    QTest::newRow("a subpage, renamed in the sidebar, then typed in its header") << true << false << true;
}

void TestOfflineTitles::newestTitleWins()
{
    QFETCH(bool, subpage);
    QFETCH(bool, sidebarLast);
    QFETCH(bool, pause);
    AppDevice device;
    device.origin = m_fake.origin();
    m_launched = launch(device);
    QVERIFY(m_launched);
    signInThroughTheForm(*m_launched, QStringLiteral("titles%1@example.com").arg(++m_accounts),
                         QStringLiteral("hunter22"), QStringLiteral("Tess"));
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
    // The engine syncs when the button is clicked, on the test's clock.
    QVERIFY(syncOnlyWhenTold(*m_launched, m_now));

    m_fake.setOffline(true);
    activate(m_launched->window.get());
    QTest::keyClick(m_launched->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus());
    LibraryView *sidebar = m_launched->sidebar();
    QString parentLocalID;
    if (subpage) {
        QTest::keyClicks(keyboard(), QStringLiteral("Trip"));
        QTRY_VERIFY(sidebarRow(sidebar, QStringLiteral("Trip")).isValid());
        parentLocalID = m_launched->pageView()->model().pageLocalID();
        QVERIFY(chooseFromRowMenu(sidebar, QStringLiteral("Trip"), QStringLiteral("New subpage")));
        QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->model().pageLocalID() != parentLocalID);
        QTRY_VERIFY(m_launched->pageView()->titleField()->hasFocus());
        sidebar->tree().setExpanded(parentLocalID, true); // the chevron clicked
    }
    PageView *page = m_launched->pageView();
    const QString localID = page->model().pageLocalID();
    const QString kNewest = QStringLiteral("Packing list");
    if (sidebarLast) {
        QTest::keyClicks(keyboard(), QStringLiteral("Packing"));
        QTRY_COMPARE(m_launched->app->store.page(localID)->title, QStringLiteral("Packing"));
        if (pause)
            QTRY_VERIFY(!page->model().hasUnsentTitle());
        QVERIFY(renameInSidebar(QStringLiteral("Packing"), kNewest));
    } else {
        QVERIFY(renameInSidebar(QStringLiteral("Untitled"), QStringLiteral("Packing")));
        QTRY_COMPARE(page->titleField()->toRawText(), QStringLiteral("Packing"));
        focus(page->titleField());
        QTest::keyClicks(keyboard(), QStringLiteral(" list"));
    }
    QTRY_COMPARE(m_launched->app->store.page(localID)->title, kNewest);
    clickSync(); // still offline

    m_fake.setOffline(false);
    for (int tries = 0; tries < 6 && !m_launched->app->store.state().outbox.empty(); ++tries)
        clickSync();
    QVERIFY(m_launched->app->store.state().outbox.empty());
    const qint64 serverID = m_launched->app->store.page(localID)->serverID;
    QVERIFY(serverID != 0);
    QCOMPARE(m_fake.state().pages.at(serverID).title, kNewest);
    if (subpage)
        QCOMPARE(m_fake.state().pages.at(serverID).parentPageId,
                 m_launched->app->store.page(parentLocalID)->serverID);

    // Another device of the account has the title; this one still shows it after its next pulls.
    TestDevice other(m_fake.origin(),
                     m_fake.issueToken(m_launched->app->session.userID().value_or(0), "other"));
    QVERIFY(other.sync());
    QVERIFY(other.pageWithServerID(serverID));
    QCOMPARE(other.pageWithServerID(serverID)->title, kNewest);
    clickSync();
    QCOMPARE(m_launched->app->store.page(localID)->title, kNewest);
    QTRY_COMPARE(page->titleField()->toRawText(), kNewest);
    QVERIFY(sidebarRow(sidebar, kNewest).isValid());
    quit(m_launched); // before the device's folder goes
}

QTEST_MAIN(TestOfflineTitles)
#include "tst_offline_titles.moc"
