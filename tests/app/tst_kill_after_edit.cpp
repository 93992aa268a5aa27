#include "app/app_window.h"
#include "app/main_view.h"
#include "app/root_view.h"
#include "editor/auto_height_text_view.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "support/app_harness.h"
#include "support/killed_child.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 30000;
const QString kTitle = QStringLiteral("Budget");
const QString kText = QStringLiteral("Notes");
const QString kTyped = QStringLiteral(" for May");

// The child process is the app; these tell it what to do. Its mode is "window" (the app's window
// with its sync running, as a user has it) or "hold" (a lone page whose edits are never queued
// after they are saved, nor sent).
const char *const kModeVar = "PENROOST_KILL_MODE";
const char *const kFieldVar = "PENROOST_KILL_FIELD"; // "block" or "title"
const char *const kOriginVar = "PENROOST_KILL_ORIGIN";
const char *const kTokenVar = "PENROOST_KILL_TOKEN";
const char *const kUserVar = "PENROOST_KILL_USER";
const char *const kFolderVar = "PENROOST_KILL_FOLDER";
const char *const kPageVar = "PENROOST_KILL_PAGE";   // server id
const char *const kBlockVar = "PENROOST_KILL_BLOCK"; // server id

// What the child says on its one line of output.
const QByteArray kTypedLine = "typed";
const QByteArray kSavedLine = "saved";

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

void signIn(AppHarness &app, const QString &token, qint64 userId)
{
    app.signInReturning(token,
                        AuthUser{userId, QStringLiteral("Kay Ill"), QStringLiteral("kill@example.com")});
}

// Types at the end of the field with real key events, after a click into it as a user does.
bool typeAtEnd(QTextEdit *field, const QString &text)
{
    if (!field)
        return false;
    field->window()->activateWindow();
    QApplication::setActiveWindow(field->window());
    QTest::mouseClick(field->viewport(), Qt::LeftButton, {}, QPoint(field->viewport()->width() - 4, 8));
    if (!QTest::qWaitFor([&] { return field->hasFocus(); }, kWait))
        return false;
    QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    return true;
}

QTextEdit *fieldOf(const PageView &view, const QString &field, const QString &blockLocalID)
{
    if (field == QLatin1String("title"))
        return view.titleField();
    BlockRow *row = view.row(blockLocalID);
    return row ? row->richEditor() : nullptr;
}

// The child: the app on the data folder, signed in to the parent's fake service. It types into the
// page, says so, and idles until it is killed.
int actAsApp()
{
    const QString mode = env(kModeVar);
    const QString field = env(kFieldVar);
    const qint64 pageServerID = env(kPageVar).toLongLong();
    const qint64 blockServerID = env(kBlockVar).toLongLong();
    AppDevice device(env(kOriginVar), env(kFolderVar));
    AppHarness app(device);
    signIn(app, env(kTokenVar), env(kUserVar).toLongLong());

    std::unique_ptr<AppWindow> window;
    std::unique_ptr<PageView> lone;
    const auto pulled = [&] {
        return app.store.pageWithServerID(pageServerID) && app.store.liveBlockWithServerID(blockServerID);
    };
    if (mode == QLatin1String("window")) {
        window =
            std::make_unique<AppWindow>(app.context(), [](const AppContext &c) { return new MainView(c); });
        window->resize(1100, 800);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return KilledChild::fail("window not shown");
        // Its sync brings the page.
        if (!QTest::qWaitFor(pulled, kWait))
            return KilledChild::fail("page not pulled");
        auto *main = qobject_cast<MainView *>(window->rootView()->currentScreen());
        if (!main)
            return KilledChild::fail("not signed in");
        main->setSelectedPage(app.store.pageWithServerID(pageServerID)->localID);
    } else {
        if (!runTask(app.engine.syncNow()).ok() || !pulled())
            return KilledChild::fail("page not pulled");
        // Nothing queued from here on is sent, and no block edit is queued after its save.
        app.engine.setQueueDelay(24h);
        PageViewModel::Timing timing;
        timing.blockFlush = 24h;
        timing.title = 24h;
        lone = std::make_unique<PageView>(app.context(), app.store.pageWithServerID(pageServerID)->localID,
                                          nullptr, timing);
        lone->resize(900, 700);
        lone->show();
    }
    const QString blockLocalID = app.store.liveBlockWithServerID(blockServerID)->localID;
    const auto view = [&]() -> PageView * {
        if (lone)
            return lone.get();
        auto *main = qobject_cast<MainView *>(window->rootView()->currentScreen());
        return main ? qobject_cast<PageView *>(main->detail()) : nullptr;
    };
    if (!QTest::qWaitFor(
            [&] { return view() && view()->isLaidOut() && fieldOf(*view(), field, blockLocalID); }, kWait))
        return KilledChild::fail("page not shown");
    // The page as pulled is on disk before the first key: a kill at any moment leaves it there.
    if (!QTest::qWaitFor([&] { return !app.store.isSavePending(); }, kWait))
        return KilledChild::fail("pulled page not saved");
    if (!typeAtEnd(fieldOf(*view(), field, blockLocalID), kTyped))
        return KilledChild::fail("no keyboard in the field");

    if (mode == QLatin1String("window")) {
        KilledChild::say(kTypedLine);
    } else {
        const auto stored = [&] {
            const QString now = field == QLatin1String("title")
                                    ? app.store.pageWithServerID(pageServerID)->title
                                    : TestDevice::textOf(*app.store.block(blockLocalID));
            return now.endsWith(kTyped) && !app.store.isSavePending();
        };
        if (!QTest::qWaitFor(stored, kWait))
            return KilledChild::fail("edit not saved");
        KilledChild::say(kSavedLine);
    }
    return KilledChild::idleUntilKilled();
}

} // namespace

// The app killed at any moment after an edit (a crash, kill -9, power loss), relaunched on its data
// and synced: whatever text its saved file holds reaches the service, in a block and in a title.
class TestKillAfterEdit : public QObject, private KilledChildFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void savedEditReachesTheServiceAfterAKill_data();
    void savedEditReachesTheServiceAfterAKill();

private:
    // Runs the app as a child on m_folder in `mode`, waits for its line, then kills it `killAfter`
    // later; the line it said.
    QByteArray runAndKill(const QString &mode, const QString &field, std::chrono::milliseconds killAfter);
    QString serviceText() const;
    QString serviceTitle() const;
};

void TestKillAfterEdit::initTestCase()
{
    QVERIFY(m_fake.start());
}

QByteArray TestKillAfterEdit::runAndKill(const QString &mode, const QString &field,
                                         std::chrono::milliseconds killAfter)
{
    const QHash<QString, QString> environment{
        {QString::fromLatin1(kModeVar), mode},
        {QString::fromLatin1(kFieldVar), field},
        {QString::fromLatin1(kOriginVar), m_fake.origin()},
        {QString::fromLatin1(kTokenVar), m_account.token},
        {QString::fromLatin1(kUserVar), QString::number(m_account.userId)},
        {QString::fromLatin1(kFolderVar), m_folder->path()},
        {QString::fromLatin1(kPageVar), QString::number(m_pageServerID)},
        {QString::fromLatin1(kBlockVar), QString::number(m_blockServerID)},
    };
    return KilledChild::runAndKill(environment, kWait, [&](const QByteArray &line) {
        if (line == kTypedLine || line == kSavedLine)
            QTest::qWait(int(killAfter.count()));
        return line;
    });
}

QString TestKillAfterEdit::serviceText() const
{
    for (const FakeServiceState::Block &block : m_fake.storedBlocks(m_pageServerID)) {
        if (block.id == m_blockServerID)
            return FakeService::stringField(block.content, QStringLiteral("text"));
    }
    return QStringLiteral("<no block>");
}

QString TestKillAfterEdit::serviceTitle() const
{
    const auto &pages = const_cast<FakeService &>(m_fake).state().pages;
    const auto it = pages.find(m_pageServerID);
    return it == pages.end() ? QStringLiteral("<no page>") : it->second.title;
}

void TestKillAfterEdit::savedEditReachesTheServiceAfterAKill_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("killAfter"); // ms after the word
    // The checked build runs several times slower: it takes every other moment.
    const bool checked = QCoreApplication::applicationFilePath().endsWith(QLatin1String("_sanitized"));
    for (const QString &field : {QStringLiteral("block"), QStringLiteral("title")}) {
        // The edit saved, nothing queued or sent after it: by construction between the two.
        QTest::addRow("%s, between its save and its queuing", qPrintable(field)) << "hold" << field << 0;
        for (int ms = 0; ms <= 2000; ms += checked ? 500 : 250)
            QTest::addRow("%s, killed %d ms after the last key", qPrintable(field), ms)
                << "window" << field << ms;
    }
}

void TestKillAfterEdit::savedEditReachesTheServiceAfterAKill()
{
    QFETCH(QString, mode);
    QFETCH(QString, field);
    QFETCH(int, killAfter);
    const bool title = field == QLatin1String("title");
    QVERIFY(seedAccount(QStringLiteral("kill"), QStringLiteral("Kay Ill"), kTitle, kText));
    m_other.reset(); // only the seed needs it
    const QByteArray line = runAndKill(mode, field, std::chrono::milliseconds(killAfter));
    QVERIFY2(line == kTypedLine || line == kSavedLine, line.constData());

    // The relaunch, on the same data.
    AppDevice device(m_fake.origin(), m_folder->path());
    AppHarness app(device);
    const FNPage *page = app.store.pageWithServerID(m_pageServerID);
    const FNBlock *block = app.store.liveBlockWithServerID(m_blockServerID);
    QVERIFY(page && block);
    const QString saved = title ? page->title : TestDevice::textOf(*block);
    const QString typed = (title ? kTitle : kText) + kTyped;
    if (mode == QLatin1String("hold"))
        QCOMPARE(saved, typed);

    signIn(app, m_account.token, m_account.userId);
    QSignalSpy cycles(&app.engine, &SyncEngine::cycleFinished);
    app.engine.setTickInterval(100ms);
    app.engine.start();
    QTRY_VERIFY_WITH_TIMEOUT(
        cycles.count() >= 1 && !app.engine.isSyncing() && app.store.state().outbox.empty(), kWait);

    // What the file held is on the service; only an edit sent before its own save may be newer there.
    const QString held = title ? serviceTitle() : serviceText();
    QVERIFY2(held == saved || held == typed,
             qPrintable(QStringLiteral("saved \"%1\", the service holds \"%2\"").arg(saved, held)));
    // And the relaunched app shows what the service holds.
    const QString shown = title ? app.store.pageWithServerID(m_pageServerID)->title
                                : TestDevice::textOf(*app.store.liveBlockWithServerID(m_blockServerID));
    QCOMPARE(shown, held);
    app.engine.stopLoop();
    QTRY_VERIFY_WITH_TIMEOUT(!app.engine.isSyncing(), kWait);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kModeVar))
        return actAsApp();
    TestKillAfterEdit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kill_after_edit.moc"
