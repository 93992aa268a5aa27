#include "app/root_view.h"
#include "app/sync_button.h"
#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/icon_theme.h"
#include "support/collab_steps.h"
#include "support/journey.h"
#include "ui/toast_center.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using namespace journey;

namespace {

const QString kRefusal = QStringLiteral(R"({"error":"You can only comment on this page"})");

} // namespace

// A change the service refuses every time (someone who may only comment types on a shared page) is
// given up after ten tries, so it holds nothing else back: the window then tells which page it was
// and shows what the service holds, and the badge never says "Up to date" over an edit the service
// does not have.
class TestRefusedChange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void refusedChangeIsToldAndUndone_data();
    void refusedChangeIsToldAndUndone();

private:
    // Clicks the sync button and waits for the cycle it starts.
    void clickSync();

    FakeService m_fake;
    AppDevice m_device;
    std::unique_ptr<Launch> m_launched;
    int m_accounts = 0;
};

void TestRefusedChange::initTestCase()
{
    IconTheme::installFallback();
    QVERIFY(m_fake.start());
    m_device.origin = m_fake.origin();
}

void TestRefusedChange::cleanup()
{
    quit(m_launched);
    m_fake.clearFaults();
}

void TestRefusedChange::clickSync()
{
    SyncEngine &engine = m_launched->app->engine;
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isSyncing(), kWait);
    QSignalSpy cycles(&engine, &SyncEngine::cycleFinished);
    QTest::mouseClick(m_launched->mainView()->syncButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!cycles.isEmpty() && !engine.isSyncing(), kWait);
}

void TestRefusedChange::refusedChangeIsToldAndUndone_data()
{
    QTest::addColumn<bool>("title"); // else a line of the page
    QTest::newRow("a line's text") << false;
    QTest::newRow("the page's title") << true;
}

void TestRefusedChange::refusedChangeIsToldAndUndone()
{
    QFETCH(bool, title);
    // Each row's own page and account: the service outlives the rows.
    const QString kTitle = QStringLiteral("Budget %1").arg(m_accounts + 1);
    AppDevice device;
    device.origin = m_fake.origin();
    m_launched = launch(device);
    QVERIFY(m_launched);
    signInThroughTheForm(*m_launched, QStringLiteral("pat%1@example.com").arg(++m_accounts),
                         QStringLiteral("hunter22"), QStringLiteral("Pat"));
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
    activate(m_launched->window.get());
    QTest::keyClick(m_launched->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus());
    PageView *page = m_launched->pageView();
    QTest::keyClicks(keyboard(), kTitle);
    typeBlocks(page, {QStringLiteral("original")});
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageServerID(m_fake, kTitle)), QStringList{"original"}, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);

    // From now on the service refuses this device's changes of the page, and the device's clock
    // runs as the test says, so its waits between tries pass at once.
    SyncEngine &engine = m_launched->app->engine;
    engine.stopLoop();
    engine.setQueueDelay(24h);
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isSyncing(), kWait);
    QDateTime now = QDateTime::currentDateTimeUtc();
    engine.setClock([&] { return now; });
    auto refusal = FakeService::Fault::http(403, kRefusal.toUtf8());
    refusal.method = title ? "PATCH" : "POST";
    m_fake.setFault(title ? QStringLiteral("/api/pages.php") : QStringLiteral("/api/blocks.php"), refusal);

    const QString typed = QStringLiteral(" my important edit");
    if (title) {
        focus(page->titleField());
        QTest::keyClick(keyboard(), Qt::Key_End);
        QTest::keyClicks(keyboard(), typed);
    } else {
        RichTextEditor *editor = rowsAsDrawn(page).front()->richEditor();
        focus(editor);
        QTest::keyClick(keyboard(), Qt::Key_End);
        QTest::keyClicks(keyboard(), typed);
        QTest::keyClick(keyboard(), Qt::Key_Up); // leaves the line, so its text is stored at once
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_launched->app->store.state().outbox.empty(), kWait);

    QSignalSpy toasts(&m_launched->app->toasts, &ToastCenter::currentChanged);
    for (int tries = 0; tries < 12 && !m_launched->app->store.state().outbox.empty(); ++tries) {
        // Until it is given up, the badge says a change waits.
        QVERIFY(!upToDate(*m_launched));
        now = now.addSecs(120);
        clickSync();
    }
    QVERIFY(m_launched->app->store.state().outbox.empty());

    // Told, naming the page, in the service's words.
    QTRY_VERIFY_WITH_TIMEOUT(m_launched->app->toasts.current(), kWait);
    const QString message = m_launched->app->toasts.current()->message;
    QVERIFY2(message.contains(QStringLiteral("“") + kTitle + (title ? typed : QString()) + QStringLiteral("”")),
             qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("You can only comment on this page")), qPrintable(message));
    QCOMPARE(toasts.size(), 1);

    // This device shows what the service holds, and only then is up to date.
    if (title) {
        QTRY_COMPARE_WITH_TIMEOUT(m_launched->app->store.page(page->model().pageLocalID())->title, kTitle, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(page->titleField()->toPlainText(), kTitle, kWait);
    } else {
        QCOMPARE(storedTexts(m_fake, pageServerID(m_fake, kTitle)), QStringList{"original"});
        QTRY_COMPARE_WITH_TIMEOUT(shownTexts(page), QStringList{"original"}, kWait);
    }
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
    quit(m_launched);
}

QTEST_MAIN(TestRefusedChange)
#include "tst_refused_change.moc"
