#include "app/root_view.h"
#include "app/sync_button.h"
#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "library/library_dock.h"
#include "library/library_view.h"
#include "library/trash_view.h"
#include "platform/icon_theme.h"
#include "store/retry_policy.h"
#include "support/collab_steps.h"
#include "support/journey.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
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
    void refusalEnds_data();
    void refusalEnds();
    void refusedNewPageIsTold();
    void refusedNewFolderIsTold();

private:
    // Launches, signs up a new account, makes a page with the title and one line "original", and waits
    // until it is on the service; then the engine syncs only when told, on the test's clock (`m_now`).
    PageView *startPage(const QString &title);
    // Launches and signs up a new account; true once the window says it is up to date.
    bool launchSignedUp();
    // Types at the end of the page's first line and leaves it.
    void typeInFirstLine(PageView *page, const QString &typed);
    // Syncs, the waits between tries passed, until the outbox is empty (at most twelve cycles).
    void syncUntilDrained();
    // Deletes the page for good from the trash window, as the user does, and closes the window.
    void emptyFromTheTrash(qint64 pageServerID);

    FakeService m_fake;
    AppDevice m_device;
    std::unique_ptr<AppDevice> m_signedUp; // the device of the latest launchSignedUp
    std::unique_ptr<Launch> m_launched;
    int m_accounts = 0;
    QDateTime m_now;
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
    QVERIFY(launchSignedUp());
    activate(m_launched->window.get());
    QTest::keyClick(m_launched->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus());
    PageView *page = m_launched->pageView();
    QTest::keyClicks(keyboard(), kTitle);
    typeBlocks(page, {QStringLiteral("original")});
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageServerID(m_fake, kTitle)), QStringList{"original"},
                              kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);

    // From now on the service refuses this device's changes of the page, and the device's clock
    // runs as the test says, so its waits between tries pass at once.
    QVERIFY(syncOnlyWhenTold(*m_launched, m_now));
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
        m_now = m_now.addSecs(120);
        clickSync(*m_launched);
    }
    QVERIFY(m_launched->app->store.state().outbox.empty());

    // Told, naming the page, in the service's words.
    QTRY_VERIFY_WITH_TIMEOUT(m_launched->app->toasts.current(), kWait);
    const QString message = m_launched->app->toasts.current()->message;
    QVERIFY2(
        message.contains(QStringLiteral("“") + kTitle + (title ? typed : QString()) + QStringLiteral("”")),
        qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("You can only comment on this page")), qPrintable(message));
    QCOMPARE(toasts.size(), 1);

    // This device shows what the service holds, and only then is up to date.
    if (title) {
        QTRY_COMPARE_WITH_TIMEOUT(m_launched->app->store.page(page->model().pageLocalID())->title, kTitle,
                                  kWait);
        QTRY_COMPARE_WITH_TIMEOUT(page->titleField()->toPlainText(), kTitle, kWait);
    } else {
        QCOMPARE(storedTexts(m_fake, pageServerID(m_fake, kTitle)), QStringList{"original"});
        QTRY_COMPARE_WITH_TIMEOUT(shownTexts(page), QStringList{"original"}, kWait);
    }
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
    quit(m_launched);
}

bool TestRefusedChange::launchSignedUp()
{
    m_signedUp = std::make_unique<AppDevice>(m_fake.origin());
    m_launched = launch(*m_signedUp);
    if (!m_launched)
        return false;
    signInThroughTheForm(*m_launched, QStringLiteral("pat%1@example.com").arg(++m_accounts),
                         QStringLiteral("hunter22"), QStringLiteral("Pat"));
    return QTest::qWaitFor([&] { return upToDate(*m_launched); }, kWait);
}

PageView *TestRefusedChange::startPage(const QString &title)
{
    if (!launchSignedUp())
        return nullptr;
    activate(m_launched->window.get());
    QTest::keyClick(m_launched->window.get(), Qt::Key_N, Qt::ControlModifier);
    if (!QTest::qWaitFor(
            [&] { return m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus(); }))
        return nullptr;
    PageView *page = m_launched->pageView();
    QTest::keyClicks(keyboard(), title);
    typeBlocks(page, {QStringLiteral("original")});
    const bool sent = QTest::qWaitFor(
        [&] {
            return storedTexts(m_fake, pageServerID(m_fake, title)) == QStringList{"original"} &&
                   upToDate(*m_launched);
        },
        kWait);
    if (!sent)
        return nullptr;
    if (!syncOnlyWhenTold(*m_launched, m_now))
        return nullptr;
    return page;
}

void TestRefusedChange::typeInFirstLine(PageView *page, const QString &typed)
{
    RichTextEditor *editor = rowsAsDrawn(page).front()->richEditor();
    focus(editor);
    QTest::keyClick(keyboard(), Qt::Key_End);
    QTest::keyClicks(keyboard(), typed);
    QTest::keyClick(keyboard(), Qt::Key_Up); // leaves the line, so its text is stored at once
}

void TestRefusedChange::syncUntilDrained()
{
    for (int tries = 0; tries < 12 && !m_launched->app->store.state().outbox.empty(); ++tries) {
        m_now = m_now.addSecs(120);
        clickSync(*m_launched);
    }
}

void TestRefusedChange::emptyFromTheTrash(qint64 pageServerID)
{
    LibraryView *sidebar = m_launched->sidebar();
    QTest::mouseClick(sidebar->dock()->button(QString::fromLatin1(LibraryDock::kTrash)), Qt::LeftButton);
    TrashView *trash = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (trash = m_launched->window->findChild<TrashView *>()) && trash->rowFor(pageServerID), kWait);
    const auto button = [&](const char *textOrTip) -> QAbstractButton * {
        QWidget *row = trash->rowFor(pageServerID);
        for (QAbstractButton *b : row ? row->findChildren<QAbstractButton *>() : QList<QAbstractButton *>()) {
            if (b->text() == QLatin1String(textOrTip) || b->toolTip() == QLatin1String(textOrTip))
                return b;
        }
        return nullptr;
    };
    QVERIFY(button(TrashView::kPermanentlyDelete));
    m_fake.clearRequests();
    QTest::mouseClick(button(TrashView::kPermanentlyDelete), Qt::LeftButton);
    QTRY_VERIFY(button(TrashView::kConfirmDelete));
    QTest::mouseClick(button(TrashView::kConfirmDelete), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!trash->rowFor(pageServerID) && trash->currentBody() != trash->spinnerPage(),
                             kWait);
    QVERIFY(!m_fake.state().pages.count(pageServerID));
    trash->close();
}

void TestRefusedChange::refusalEnds_data()
{
    QTest::addColumn<bool>("trashed");    // else reading the page is refused as well
    QTest::addColumn<bool>("relaunched"); // between the refusal and the restore
    QTest::addColumn<bool>("emptied");    // from the trash here, rather than restored
    QTest::newRow("the page trashed on another device, then restored") << true << false << false;
    QTest::newRow("trashed elsewhere, the app relaunched, then restored") << true << true << false;
    QTest::newRow("trashed elsewhere, then emptied from the trash here") << true << false << true;
    QTest::newRow("trashed elsewhere, the app relaunched, then emptied") << true << true << true;
    QTest::newRow("reading the page refused too") << false << false << false;
}

// A refused edit stops costing requests once its page is known gone, and while the page cannot be
// laid back to the service's copy the window does not call it saved.
void TestRefusedChange::refusalEnds()
{
    QFETCH(bool, trashed);
    QFETCH(bool, relaunched);
    QFETCH(bool, emptied);
    const QString kTitle = QStringLiteral("Ledger %1").arg(m_accounts + 1);
    PageView *page = startPage(kTitle);
    QVERIFY(page);
    const qint64 pageID = pageServerID(m_fake, kTitle);
    const QString kBlocks = QStringLiteral("/api/blocks.php");
    std::unique_ptr<TestDevice> other;
    if (trashed) {
        other = std::make_unique<TestDevice>(m_fake.origin(), m_launched->app->session.token());
        QVERIFY(other->sync());
        other->queuePageDelete(other->pageWithServerID(pageID)->localID);
        QVERIFY(other->sync());
        QVERIFY(m_fake.state().pages.at(pageID).inTrash());
    } else {
        m_fake.setFault(kBlocks, FakeService::Fault::http(403, kRefusal.toUtf8()));
    }
    const QString typed = QStringLiteral(" unsaved words");
    typeInFirstLine(page, typed);
    QTRY_VERIFY_WITH_TIMEOUT(!m_launched->app->store.state().outbox.empty(), kWait);
    syncUntilDrained();
    QVERIFY(m_launched->app->store.state().outbox.empty());
    QTRY_VERIFY_WITH_TIMEOUT(m_launched->app->toasts.current(), kWait);

    const auto blockReads = [&] {
        int reads = 0;
        for (const HttpRequest &r : m_fake.requestsTo(kBlocks))
            reads += r.method == "GET" ? 1 : 0;
        return reads;
    };
    if (trashed) {
        // The toast does not claim the page shows what the service holds: in the trash, it cannot.
        const QString message = m_launched->app->toasts.current()->message;
        QVERIFY2(message.contains(QStringLiteral("the page is in the trash")), qPrintable(message));
        // Nothing is asked for it while it is there, whatever the number of cycles, and the edit it
        // holds is not called saved.
        m_fake.clearRequests();
        for (int cycle = 0; cycle < 5; ++cycle) {
            m_now = m_now.addSecs(120);
            clickSync(*m_launched);
            QVERIFY(!upToDate(*m_launched));
        }
        QCOMPARE(blockReads(), 0);
        if (relaunched) {
            // What was refused is remembered: the next launch neither calls the page saved nor forgets
            // to lay it back.
            quit(m_launched);
            m_launched = launch(*m_signedUp);
            QVERIFY(m_launched);
            QTRY_COMPARE_WITH_TIMEOUT(badge(*m_launched), QStringLiteral("1"), kWait);
            QVERIFY(syncOnlyWhenTold(*m_launched, m_now));
            QVERIFY(!upToDate(*m_launched));
        }
        if (emptied) {
            // Emptied from the trash here, it takes what it held back with it: the button says so at
            // once, with no request beyond the purge and the trash's list, and after a relaunch too.
            emptyFromTheTrash(pageID);
            QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
            for (const HttpRequest &r : m_fake.requests()) {
                const QByteArray target = r.method + ' ' + r.target;
                QVERIFY2(target.contains("permanent=1") || target.contains("trash=1"), target.constData());
            }
            quit(m_launched);
            m_launched = launch(*m_signedUp);
            QVERIFY(m_launched);
            QVERIFY(syncOnlyWhenTold(*m_launched, m_now));
            clickSync(*m_launched);
            QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
            QCOMPARE(blockReads(), 0);
            return;
        }
        // Restored on the other device, it comes back here with the sidebar's refresh, still not saved
        // until the next cycle lays it back to the service's copy with one read.
        QVERIFY(runTask(other->client().restorePage(pageID)).ok());
        QTRY_VERIFY_WITH_TIMEOUT(!m_launched->app->store.pageWithServerID(pageID)->deletedAt, kWait);
        QVERIFY(!upToDate(*m_launched));
        m_now = m_now.addSecs(120);
        clickSync(*m_launched);
        if (relaunched) {
            QTRY_VERIFY_WITH_TIMEOUT(sidebarRows(m_launched->sidebar()).contains(kTitle), kWait);
            clickRow(m_launched->sidebar(), kTitle);
            QTRY_VERIFY_WITH_TIMEOUT(m_launched->pageView(), kWait);
        }
        QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_launched->pageView()), QStringList{"original"}, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
        QCOMPARE(blockReads(), 1);
        QCOMPARE(storedTexts(m_fake, pageID), QStringList{"original"});
        return;
    }
    // The edit the service does not hold is still shown, so the window does not say "Up to date";
    // nor does it ask at every cycle.
    QVERIFY(m_launched->pageView());
    QCOMPARE(shownTexts(m_launched->pageView()), QStringList{QStringLiteral("original") + typed});
    m_fake.clearRequests();
    for (int cycle = 0; cycle < 3; ++cycle) {
        clickSync(*m_launched);
        QVERIFY(!upToDate(*m_launched));
    }
    QVERIFY(blockReads() <= 1);
    // Once the page can be read, it shows what the service holds and is up to date.
    m_fake.clearFaults();
    m_now = m_now.addSecs(120);
    clickSync(*m_launched);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_launched->pageView()), QStringList{"original"}, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
}

// The service refuses a page made here every time: the window says which page was not saved, the page's
// title and lines typed meanwhile hold nothing back, and the button counts the page and its line as not
// saved until the next launch sends it, when another device gets it whole.
void TestRefusedChange::refusedNewPageIsTold()
{
    AppDevice device;
    device.origin = m_fake.origin();
    m_launched = launch(device);
    QVERIFY(m_launched);
    signInThroughTheForm(*m_launched, QStringLiteral("pat%1@example.com").arg(++m_accounts),
                         QStringLiteral("hunter22"), QStringLiteral("Pat"));
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched), kWait);
    QVERIFY(syncOnlyWhenTold(*m_launched, m_now));
    auto refusal = FakeService::Fault::http(400, R"({"error":"Too many pages"})");
    refusal.method = "POST";
    refusal.remaining = int(RetryPolicy::kDropAtAttempts);
    m_fake.setFault(QStringLiteral("/api/pages.php"), refusal);

    activate(m_launched->window.get());
    QTest::keyClick(m_launched->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Plans"));
    typeBlocks(m_launched->pageView(), {QStringLiteral("first line")});
    QTRY_VERIFY_WITH_TIMEOUT(!m_launched->app->store.state().outbox.empty(), kWait);
    syncUntilDrained();
    QVERIFY(m_launched->app->store.state().outbox.empty());

    QTRY_VERIFY_WITH_TIMEOUT(m_launched->app->toasts.current(), kWait);
    const QString message = m_launched->app->toasts.current()->message;
    QVERIFY2(message.contains(QStringLiteral("“Plans”")) &&
                 message.contains(QStringLiteral("not saved; it stays on this device")) &&
                 message.contains(QStringLiteral("Too many pages")),
             qPrintable(message));
    QTRY_COMPARE_WITH_TIMEOUT(badge(*m_launched), QStringLiteral("2"), kWait);
    QCOMPARE(m_launched->mainView()->syncButton()->toolTip(),
             QStringLiteral("2 unsynced changes — tap to sync"));

    // Its title typed again, the app quit before any sync: sent again at the next launch, the page is
    // saved, and whole on another device.
    focus(m_launched->pageView()->titleField());
    QTest::keyClicks(keyboard(), QStringLiteral(" 2026"));
    QTRY_VERIFY(m_launched->app->store.state().outbox.size() > 0);
    quit(m_launched);
    m_launched = launch(device);
    QVERIFY(m_launched);
    const QString kTitle = QStringLiteral("Plans 2026");
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_launched) && pageServerID(m_fake, kTitle) != 0, kWait);
    const qint64 pageID = pageServerID(m_fake, kTitle);
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageID), QStringList{"first line"}, kWait);
    TestDevice other(m_fake.origin(), m_launched->app->session.token());
    QVERIFY(other.sync());
    QVERIFY(other.pageWithServerID(pageID));
    const std::vector<FNBlock> lines = other.liveBlocks(other.pageWithServerID(pageID)->localID);
    QCOMPARE(lines.size(), size_t(1));
    QCOMPARE(TestDevice::textOf(lines.front()), QStringLiteral("first line"));
    quit(m_launched); // before the device's folder goes
}

// The same for a new folder: the window says what happened to it and to what it held, and the button
// counts it as not saved.
void TestRefusedChange::refusedNewFolderIsTold()
{
    QVERIFY(launchSignedUp());
    QVERIFY(syncOnlyWhenTold(*m_launched, m_now));
    auto refusal = FakeService::Fault::http(400, R"({"error":"Folder limit reached"})");
    refusal.method = "POST";
    refusal.remaining = int(RetryPolicy::kDropAtAttempts);
    m_fake.setFault(QStringLiteral("/api/folders.php"), refusal);

    LibraryView *sidebar = m_launched->sidebar();
    QTest::mouseClick(sidebar->dock()->button(QString::fromLatin1(LibraryDock::kNewFolder)), Qt::LeftButton);
    QTRY_COMPARE(sidebarRows(sidebar), QStringList{QStringLiteral("📁 New folder")});
    QVERIFY(chooseFromRowMenu(sidebar, QStringLiteral("New folder"), QStringLiteral("New page in folder")));
    QTRY_VERIFY(m_launched->pageView() && m_launched->pageView()->titleField()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Inside"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_launched->app->store.state().outbox.empty(), kWait);
    syncUntilDrained();
    QVERIFY(m_launched->app->store.state().outbox.empty());

    QTRY_VERIFY_WITH_TIMEOUT(m_launched->app->toasts.current(), kWait);
    const QString message = m_launched->app->toasts.current()->message;
    QVERIFY2(message.contains(QStringLiteral("new folder “New folder”")) &&
                 message.contains(QStringLiteral("not saved; it stays on this device")) &&
                 message.contains(QStringLiteral("What it held was saved one level up")) &&
                 message.contains(QStringLiteral("Folder limit reached")) &&
                 !message.contains(QStringLiteral("shows what the server holds")),
             qPrintable(message));
    // The page went up, here and on the service; the folder is still here, not saved.
    QTRY_COMPARE(sidebarRows(sidebar),
                 (QStringList{QStringLiteral("📁 New folder"), QStringLiteral("Inside")}));
    QCOMPARE(m_fake.state().pages.at(pageServerID(m_fake, QStringLiteral("Inside"))).folderId, qint64(0));
    QTRY_COMPARE_WITH_TIMEOUT(badge(*m_launched), QStringLiteral("1"), kWait);
}

QTEST_MAIN(TestRefusedChange)
#include "tst_refused_change.moc"
