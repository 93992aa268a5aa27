#include "collab/version_history.h"
#include "collab/version_history_sheet.h"
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "platform/app_events.h"
#include "platform/preset_confirmer.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kVersions = QStringLiteral("/api/versions.php");
const QString kSync = QStringLiteral("/api/sync.php");
const QString kBlocks = QStringLiteral("/api/blocks.php");

} // namespace

// The version history sheet's list and restore, end to end against the fake service.
class TestVersionHistory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void byteSize_data();
    void byteSize();
    void versionDate_data();
    void versionDate();
    void shortTimeHasNoSeconds_data();
    void shortTimeHasNoSeconds();
    void mediumDateOfTheLocale_data();
    void mediumDateOfTheLocale();
    void listKeepsItsPlaceThroughARestore_data();
    void listKeepsItsPlaceThroughARestore();
    void pageWithoutServerIdAsksForASaveWithoutARequest();
    void restoreSendsThePatchThenSyncsToastsAndCloses();
    void failedRestoreKeepsTheSheetOpenAndDoesNotSync_data();
    void failedRestoreKeepsTheSheetOpenAndDoesNotSync();
    void restoreFinishingAfterTheSheetClosedStillToasts();
    void restoreDuringACyclePullsTheRestoredTextAndTellsTheEditor();
    void restoreHoldsOverAnEditWaiting_data();
    void restoreHoldsOverAnEditWaiting();
    void sheetRestoresAfterTheConfirmationAndCloses();

private:
    // A synced page with two saved versions, and a history of it that has loaded them.
    std::unique_ptr<VersionHistory> loadedHistory();
    // A synced page whose one line read "old words", then "new words"; its version with the old text.
    struct TwoVersions {
        FNPage page;
        FNBlock block;
        VersionDTO older;
    };
    std::optional<TwoVersions> pageWithTwoVersions();
    QStringList serviceTexts(qint64 pageServerID) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<ToastCenter> m_toasts;
    int m_accounts = 0;
    QDateTime m_now; // the device's clock, where a test holds it
};

void TestVersionHistory::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestVersionHistory::init()
{
    m_fake.clearFaults();
    m_account =
        m_fake.createAccount(QStringLiteral("hist%1@example.com").arg(++m_accounts), "secret12", "Hana");
    m_device = deviceInWorkspace(m_fake, m_account);
    m_toasts = std::make_unique<ToastCenter>();
}

void TestVersionHistory::cleanup()
{
    m_toasts.reset();
    m_device.reset();
}

std::unique_ptr<VersionHistory> TestVersionHistory::loadedHistory()
{
    const FNPage made = m_device->addPage(m_account.workspaceId, QStringLiteral("Diary"));
    m_device->addBlock(made.localID, QStringLiteral("first"), 0);
    if (!m_device->sync())
        return nullptr;
    m_device->queueBlockUpsert(made.localID);
    if (!m_device->sync())
        return nullptr;
    const qint64 serverID = m_device->page(made.localID)->serverID;
    auto history =
        std::make_unique<VersionHistory>(m_device->client(), &m_device->engine(), m_toasts.get(), serverID);
    if (!runTask(history->load()).ok() || history->versions().empty())
        return nullptr;
    m_fake.clearRequests();
    return history;
}

void TestVersionHistory::byteSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << qint64(0) << "0 B";
    QTest::newRow("just under a kilobyte") << qint64(1023) << "1023 B";
    QTest::newRow("one kilobyte") << qint64(1024) << "1 KB";
    QTest::newRow("just under a megabyte") << qint64(1048575) << "1024 KB";
    QTest::newRow("one megabyte") << qint64(1048576) << "1.0 MB";
    QTest::newRow("one and a half") << qint64(1572864) << "1.5 MB";
}

void TestVersionHistory::byteSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(formatByteSize(bytes), text);
}

void TestVersionHistory::versionDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc"); // empty: not a date, shown as it is
    QTest::newRow("rfc 3339") << "2024-05-01T09:30:00Z"
                              << "2024-05-01T09:30:00.000Z";
    QTest::newRow("rfc 3339 with a fraction") << "2024-05-01T09:30:00.25Z"
                                              << "2024-05-01T09:30:00.250Z";
    QTest::newRow("rfc 3339 with an offset") << "2024-05-01T11:30:00+02:00"
                                             << "2024-05-01T09:30:00.000Z";
    QTest::newRow("service stamp, read as utc") << "2024-05-01 09:30:00"
                                                << "2024-05-01T09:30:00.000Z";
    QTest::newRow("no zone") << "2024-05-01T09:30:00"
                             << "";
    QTest::newRow("date alone") << "2024-05-01"
                                << "";
    QTest::newRow("no such day") << "2024-02-30 09:30:00"
                                 << "";
    QTest::newRow("words") << "yesterday"
                           << "";
}

void TestVersionHistory::versionDate()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const auto parsed = parseVersionDate(text);
    if (utc.isEmpty()) {
        QVERIFY(!parsed);
        QCOMPARE(formatVersionDate(text), text);
        return;
    }
    QVERIFY(parsed);
    QCOMPARE(parsed->toUTC().toString(Qt::ISODateWithMs), utc);
    QVERIFY(formatVersionDate(text) != text);
}

void TestVersionHistory::shortTimeHasNoSeconds_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("C, whose short pattern has seconds") << "C"
                                                        << "HH:mm";
    QTest::newRow("US English") << "en_US"
                                << "h:mm AP";
    QTest::newRow("Finnish") << "fi_FI"
                             << "H.mm";
    QTest::newRow("German") << "de_DE"
                            << "HH:mm";
}

void TestVersionHistory::shortTimeHasNoSeconds()
{
    QFETCH(QString, locale);
    QFETCH(QString, pattern);
    QCOMPARE(shortTimeFormat(QLocale(locale)), pattern);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    const QString shown = formatVersionDate(QStringLiteral("2024-05-01 09:30:47"));
    QLocale::setDefault(before);
    QVERIFY2(!shown.contains(QStringLiteral("47")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("2024")), qPrintable(shown));
}

void TestVersionHistory::mediumDateOfTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("date");
    QTest::newRow("American") << "en_US"
                              << "May 1, 2024";
    QTest::newRow("British") << "en_GB"
                             << "1 May 2024";
    QTest::newRow("German") << "de_DE"
                            << "1. Mai 2024";
    QTest::newRow("Japanese") << "ja_JP"
                              << "2024年5月1日";
}

void TestVersionHistory::mediumDateOfTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, date);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    // Midday: the same day in every time zone the machine may be in.
    const QString shown = formatVersionDate(QStringLiteral("2024-05-01 12:00:00"));
    QVERIFY2(shown.startsWith(date + QStringLiteral(", ")), qPrintable(shown));

    // The sheet's rows show it so.
    const auto loaded = loadedHistory();
    QVERIFY(loaded);
    AppContext context = m_device->context();
    context.toasts = m_toasts.get();
    VersionHistorySheet sheet(context, m_device->store().state().pages.front());
    sheet.show();
    QLabel *label = nullptr;
    QTRY_VERIFY((label = sheet.findChild<QLabel *>(QStringLiteral("versionDate"))));
    QStringList dates;
    for (const VersionDTO &version : loaded->versions())
        dates << formatVersionDate(version.created_at);
    QVERIFY2(dates.contains(label->text()), qPrintable(label->text()));
    QVERIFY(label->text().contains(QStringLiteral("2")));
}

void TestVersionHistory::listKeepsItsPlaceThroughARestore_data()
{
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("moveOn"); // the keyboard goes up a row while the restore is out
    QTest::newRow("restore under way") << false << false;
    QTest::newRow("restore failed") << true << false;
    QTest::newRow("restore failed after the keyboard moved on") << true << true;
}

void TestVersionHistory::listKeepsItsPlaceThroughARestore()
{
    QFETCH(bool, fails);
    QFETCH(bool, moveOn);
    const auto loaded = loadedHistory();
    QVERIFY(loaded);
    // More versions than the sheet shows at once.
    FakeServiceState &state = m_fake.state();
    const FakeServiceState::Version saved = state.versions.rbegin()->second;
    for (int i = 0; i < 14; ++i) {
        FakeServiceState::Version more = saved;
        more.id = state.nextVersionId++;
        state.versions[more.id] = more;
    }
    AppContext context = m_device->context();
    context.toasts = m_toasts.get();
    PresetConfirmer confirmer(true);
    QPointer<VersionHistorySheet> sheet =
        new VersionHistorySheet(context, m_device->store().state().pages.front());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setConfirmer(&confirmer);
    sheet->show();
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    QScrollArea *scroll = nullptr;
    QTRY_VERIFY((scroll = sheet->findChild<QScrollArea *>()) && scroll->verticalScrollBar()->maximum() > 0);

    // Far down the list.
    qint64 target = 0;
    for (const auto &[id, version] : state.versions) {
        if (version.pageId == saved.pageId && (target == 0 || id < target))
            target = id;
    }
    auto *restore = sheet->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(target));
    QVERIFY(restore);
    scroll->ensureWidgetVisible(restore);
    const int place = scroll->verticalScrollBar()->value();
    QVERIFY(place > 0);
    restore->setFocus();
    QTRY_VERIFY(restore->hasFocus());
    FakeService::Fault answer =
        fails ? FakeService::Fault::http(500, R"({"error":"no"})") : FakeService::Fault::held();
    answer.holdAnswer = true;
    m_fake.setFault(kVersions, once(answer));
    const qsizetype before = m_fake.requestsTo(kVersions).size();
    QTest::keyClick(restore, Qt::Key_Space);
    QCOMPARE(confirmer.questions().size(), 1);

    // The version's row is busy, in the same place, and the keyboard is still on it.
    const auto keyboardOn = [] {
        QWidget *focused = QApplication::focusWidget();
        return focused ? focused->property("versionID").toLongLong() : 0;
    };
    QScrollArea *now = nullptr;
    QTRY_VERIFY((now = sheet->findChild<QScrollArea *>()) && now != scroll);
    QTRY_COMPARE(now->verticalScrollBar()->value(), place);
    QVERIFY(!now->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(target)));
    QTRY_COMPARE(keyboardOn(), target);
    qint64 keyboardAt = target;
    if (moveOn) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        keyboardAt = keyboardOn();
        QVERIFY(keyboardAt != 0 && keyboardAt != target);
    }
    QTRY_VERIFY(m_fake.requestsTo(kVersions).size() > before);
    m_fake.releaseHeldAnswers();
    if (!fails) {
        QTRY_VERIFY(sheet.isNull());
        return;
    }

    // The button is back where it was, and the keyboard on the row it was on, ready for the next key.
    QTRY_VERIFY(m_toasts->current());
    QScrollArea *after = nullptr;
    QTRY_VERIFY((after = sheet->findChild<QScrollArea *>()) && after != now);
    QTRY_COMPARE(after->verticalScrollBar()->value(), place);
    QTRY_VERIFY(after->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(target)));
    QTRY_COMPARE(keyboardOn(), keyboardAt);
    confirmer.setAnswer(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(confirmer.questions().size(), 2);
}

void TestVersionHistory::pageWithoutServerIdAsksForASaveWithoutARequest()
{
    VersionHistory history(m_device->client(), &m_device->engine(), m_toasts.get(), 0);
    m_fake.clearRequests();
    QVERIFY(runTask(history.load()).ok());
    QVERIFY(!history.loading());
    QCOMPARE(history.error(),
             std::optional<QString>(QStringLiteral("Save this page first to see its history.")));
    QVERIFY(m_fake.requestsTo(kVersions).isEmpty());
}

void TestVersionHistory::restoreSendsThePatchThenSyncsToastsAndCloses()
{
    const auto history = loadedHistory();
    QVERIFY(history);
    const VersionDTO oldest = history->versions().back();
    QSignalSpy closed(history.get(), &VersionHistory::closeRequested);

    history->askRestore(oldest);
    history->cancelRestore();
    QVERIFY(!history->confirmVersion());
    QVERIFY(m_fake.requests().isEmpty());

    history->askRestore(oldest);
    auto task = history->confirmRestore();
    QCOMPARE(history->restoringID(), std::optional<qint64>(oldest.id));
    QVERIFY(runTask(std::move(task)).ok());

    const QList<HttpRequest> seen = m_fake.requests();
    QVERIFY(seen.size() >= 2);
    QCOMPARE(seen.front().method, QByteArray("PATCH"));
    QCOMPARE(seen.front().path(), kVersions.toUtf8());
    const JSONValue sent(parseJSONObject(seen.front().body));
    QCOMPARE(sent[QStringLiteral("version_id")].toInt(), oldest.id);
    QCOMPARE(sent[QStringLiteral("restore")].toBool(), true);
    QCOMPARE(seen.back().path(), kSync.toUtf8());
    QVERIFY(m_toasts->current());
    QCOMPARE(m_toasts->current()->message,
             "Restored version from " + formatVersionDate(oldest.created_at) + ".");
    QCOMPARE(closed.size(), 1);
    QVERIFY(!history->restoringID());
}

void TestVersionHistory::failedRestoreKeepsTheSheetOpenAndDoesNotSync_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("toast");
    QTest::newRow("404 with the service's words")
        << 404 << QByteArray(R"({"error":"Version gone"})") << "Not found. (Version gone)";
    QTest::newRow("ok false") << 200 << QByteArray(R"({"ok":false})") << "Restore failed.";
    QTest::newRow("ok not a boolean")
        << 200 << QByteArray(R"({"ok":"yes"})") << "Couldn't read the server's response.";
}

void TestVersionHistory::failedRestoreKeepsTheSheetOpenAndDoesNotSync()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, toast);
    const auto history = loadedHistory();
    QVERIFY(history);
    QSignalSpy closed(history.get(), &VersionHistory::closeRequested);
    m_fake.setFault(kVersions, once(FakeService::Fault::http(status, body)));

    history->askRestore(history->versions().front());
    QVERIFY(runTask(history->confirmRestore()).ok());

    QVERIFY(m_toasts->current());
    QCOMPARE(m_toasts->current()->message, toast);
    QCOMPARE(closed.size(), 0);
    QVERIFY(!history->restoringID());
    QVERIFY(m_fake.requestsTo(kSync).isEmpty());
    QVERIFY(!history->versions().empty());
}

void TestVersionHistory::restoreFinishingAfterTheSheetClosedStillToasts()
{
    auto history = loadedHistory();
    QVERIFY(history);
    const VersionDTO version = history->versions().front();
    m_fake.setFault(kVersions, once(FakeService::Fault::delay(200)));
    history->askRestore(version);
    auto task = history->confirmRestore();
    history.reset();
    QVERIFY(runTask(std::move(task)).ok());
    QVERIFY(m_toasts->current());
    QCOMPARE(m_toasts->current()->message,
             "Restored version from " + formatVersionDate(version.created_at) + ".");
}

std::optional<TestVersionHistory::TwoVersions> TestVersionHistory::pageWithTwoVersions()
{
    const FNPage made = m_device->addPage(m_account.workspaceId, QStringLiteral("Notes"));
    const FNBlock block = m_device->addBlock(made.localID, QStringLiteral("old words"), 0);
    if (!m_device->sync() || !m_device->queueBlockUpsert(made.localID) || !m_device->sync())
        return std::nullopt;
    m_device->setBlockText(block.localID, QStringLiteral("new words"));
    if (!m_device->queueBlockUpsert(made.localID) || !m_device->sync())
        return std::nullopt;
    const FNPage page = *m_device->page(made.localID);
    VersionHistory history(m_device->client(), nullptr, nullptr, page.serverID);
    if (!runTask(history.load()).ok())
        return std::nullopt;
    for (const VersionDTO &version : history.versions()) {
        const JSONArray blocks =
            JSONValue(m_fake.state().versions.at(version.id).snapshot)[QStringLiteral("blocks")].toArray();
        if (blocks.size() == 1 &&
            blocks.front()[QStringLiteral("content")][QStringLiteral("text")].toString() == u"old words")
            return TwoVersions{page, *m_device->block(block.localID), version};
    }
    return std::nullopt;
}

QStringList TestVersionHistory::serviceTexts(qint64 pageServerID) const
{
    QStringList texts;
    for (const FakeServiceState::Block &block : m_fake.storedBlocks(pageServerID))
        texts << JSONValue(block.content)[QStringLiteral("text")].toString();
    return texts;
}

void TestVersionHistory::restoreDuringACyclePullsTheRestoredTextAndTellsTheEditor()
{
    const auto made = pageWithTwoVersions();
    QVERIFY(made);
    const FNBlock block = made->block;
    const qint64 serverID = made->page.serverID;
    VersionHistory history(m_device->client(), &m_device->engine(), m_toasts.get(), serverID);
    history.setEvents(&m_device->events());
    QSignalSpy restored(&m_device->events(), &AppEvents::pageRestored);
    QVERIFY(runTask(history.load()).ok());
    const auto version = std::find_if(history.versions().begin(), history.versions().end(),
                                      [&](const VersionDTO &v) { return v.id == made->older.id; });
    QVERIFY(version != history.versions().end());

    // A cycle whose pull the service answered before the restore is still on its way back.
    m_fake.clearRequests();
    m_fake.setFault(kSync, once(FakeService::Fault::delay(300)));
    auto cycle = m_device->engine().syncNow();
    QTRY_VERIFY(!m_fake.requestsTo(kSync).isEmpty());
    history.askRestore(*version);
    QVERIFY(runTask(history.confirmRestore()).ok());
    QVERIFY(runTask(std::move(cycle)).ok());

    QCOMPARE(TestDevice::textOf(*m_device->block(block.localID)), QStringLiteral("old words"));
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored.front().front().toLongLong(), serverID);
}

void TestVersionHistory::restoreHoldsOverAnEditWaiting_data()
{
    QTest::addColumn<int>("status");  // the service's answer to the edit's sends; 0: its send is on its way
    QTest::addColumn<bool>("always"); // else to its first send only
    QTest::addColumn<bool>("restored");
    QTest::newRow("sent when the restore is asked") << 0 << false << true;
    QTest::newRow("one send failed") << 503 << false << true;
    QTest::newRow("the service still failing") << 503 << true << false;
    QTest::newRow("refused for this page") << 403 << true << true;
}

// An edit of the page waiting in the outbox never lands over the version restored after it: it goes
// first, or the restore waits for it, or, refused by the service, it goes away.
void TestVersionHistory::restoreHoldsOverAnEditWaiting()
{
    QFETCH(int, status);
    QFETCH(bool, always);
    QFETCH(bool, restored);
    const auto made = pageWithTwoVersions();
    QVERIFY(made);
    // The device's clock stands still: the failed send waits out its back-off as long as the test runs.
    m_now = QDateTime::currentDateTimeUtc();
    m_device->engine().setClock([this] { return m_now; });
    auto failure =
        status ? FakeService::Fault::http(status, R"({"error":"Not now"})") : FakeService::Fault::delay(300);
    failure.method = "POST";
    m_fake.setFault(kBlocks, always ? failure : once(failure));
    m_device->setBlockText(made->block.localID, QStringLiteral("unsent words"));
    QVERIFY(m_device->queueBlockUpsert(made->page.localID));
    std::optional<QCoro::Task<>> underWay;
    if (status) {
        m_device->sync();
        QCOMPARE(m_device->store().state().outbox.size(), size_t(1));
        QCOMPARE(m_device->store().state().outbox.front().attempts, qint64(1));
        m_fake.clearRequests();
    } else {
        m_fake.clearRequests();
        underWay = m_device->engine().syncNow();
        QTRY_VERIFY(!m_fake.requestsTo(kBlocks).isEmpty());
    }

    VersionHistory history(m_device->client(), &m_device->engine(), m_toasts.get(), made->page.serverID);
    QSignalSpy closed(&history, &VersionHistory::closeRequested);
    history.askRestore(made->older);
    QVERIFY(runTask(history.confirmRestore()).ok());
    if (underWay)
        QVERIFY(runTask(std::move(*underWay)).ok());

    const auto text = [&] { return TestDevice::textOf(*m_device->block(made->block.localID)); };
    QVERIFY(m_toasts->current());
    if (!restored) {
        // Nothing restored, and the user is told why; the edit still waits.
        QCOMPARE(m_toasts->current()->message, QString::fromLatin1(VersionHistory::kEditsWaiting));
        QCOMPARE(closed.size(), 0);
        QVERIFY(m_fake.requestsTo(kVersions).isEmpty());
        QCOMPARE(m_device->store().state().outbox.size(), size_t(1));
        QCOMPARE(text(), QStringLiteral("unsent words"));
        QCOMPARE(serviceTexts(made->page.serverID), QStringList{QStringLiteral("new words")});
        return;
    }
    QCOMPARE(m_toasts->current()->message,
             "Restored version from " + formatVersionDate(made->older.created_at) + ".");
    QCOMPARE(closed.size(), 1);
    // One cycle sent the edit before the restore went.
    QStringList order;
    for (const HttpRequest &r : m_fake.requests())
        order << QString::fromUtf8(r.method + ' ' + r.path());
    const qsizetype restoreAt = order.indexOf(QStringLiteral("PATCH ") + kVersions);
    QVERIFY2(restoreAt >= 0, qPrintable(order.join(u", ")));
    QCOMPARE(order.mid(0, restoreAt).count(QStringLiteral("POST ") + kBlocks), status == 403 ? 0 : 1);
    // Later cycles bring nothing over the restored text, here or there.
    m_now = m_now.addSecs(600);
    QVERIFY(m_device->sync());
    QVERIFY(m_device->sync());
    QVERIFY(m_device->store().state().outbox.empty());
    QCOMPARE(serviceTexts(made->page.serverID), QStringList{QStringLiteral("old words")});
    QCOMPARE(text(), QStringLiteral("old words"));
}

void TestVersionHistory::sheetRestoresAfterTheConfirmationAndCloses()
{
    const auto loaded = loadedHistory(); // the page and its versions
    QVERIFY(loaded);
    const FNPage page = m_device->store().state().pages.front();
    AppContext context = m_device->context();
    context.toasts = m_toasts.get();
    PresetConfirmer confirmer(true);
    QPointer<VersionHistorySheet> sheet = new VersionHistorySheet(context, page);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setConfirmer(&confirmer);
    sheet->show();
    QPushButton *restore = nullptr;
    QTRY_VERIFY((restore = sheet->findChild<QPushButton *>(
                     QStringLiteral("restore-%1").arg(loaded->versions().front().id))));
    restore->click();
    QCOMPARE(confirmer.questions().size(), 1);
    QCOMPARE(confirmer.questions().front().title,
             "Restore this version? Your current content will be replaced.");
    QTRY_VERIFY(sheet.isNull());
    QVERIFY(m_toasts->current() && m_toasts->current()->message.startsWith("Restored version from "));
}

QTEST_MAIN(TestVersionHistory)
#include "tst_version_history.moc"
