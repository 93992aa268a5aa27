#include "app/start_report.h"
#include "platform/work_label.h"
#include "store/local_store.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <optional>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 30000;

// Holds the event loop's thread for `ms` milliseconds in one turn.
void busyFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
    }
}

struct Watched {
    QTemporaryDir dir;
    LocalStore store{dir.path(), 1h};
    QWidget window;
    std::optional<StartReport::Figures> told;
    int tellings = 0;
    StartReport report{&window, store, [this](const StartReport::Figures &f) {
                           told = f;
                           ++tellings;
                       }};

    Watched()
    {
        window.resize(200, 100);
        window.show();
    }
};

// Holds the loop for a while each time an event reaches it.
class SlowReceiver : public QObject
{
public:
    int ms = 0;
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        busyFor(ms);
        return true;
    }
};

} // namespace

class TestStartReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void waitsForTheFirstSaveAfterThePaint();
    void longestTurnAndReadinessCoverAStall_data();
    void longestTurnAndReadinessCoverAStall();
    void namesTheLongestTurns_data();
    void namesTheLongestTurns();
    void onlyWhenTheEnvironmentAsks();
    void theAppBinaryReportsItsStart();
};

void TestStartReport::waitsForTheFirstSaveAfterThePaint()
{
    Watched w;
    w.store.setExpandedRowIDs({QStringLiteral("F")}); // armed for an hour: pending until saved by hand
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QTRY_VERIFY_WITH_TIMEOUT(w.store.isSavePending(), kWait);
    // Quiet for longer than it needs, yet the save is still to come.
    QTest::qWait(int(2 * StartReport::kQuiet.count()));
    QVERIFY(!w.told);

    w.store.save();
    QTRY_VERIFY_WITH_TIMEOUT(w.told.has_value(), kWait);
    const StartReport::Figures f = *w.told;
    QVERIFY(f.paintedAt > 0);
    QVERIFY(f.savedAt >= f.paintedAt);
    QVERIFY(f.readyAt >= f.savedAt);
    QVERIFY(f.peakKbPainted > 0);
    QVERIFY(f.peakKbSaved >= f.peakKbPainted);
    QTest::qWait(int(2 * StartReport::kQuiet.count()));
    QCOMPARE(w.tellings, 1);
}

void TestStartReport::longestTurnAndReadinessCoverAStall_data()
{
    QTest::addColumn<int>("stallMs");
    QTest::newRow("a short turn") << 40;
    QTest::newRow("a long turn") << 300;
}

// A turn that holds the loop after the save is part of the start: the report waits past it and names it.
void TestStartReport::longestTurnAndReadinessCoverAStall()
{
    QFETCH(int, stallMs);
    Watched w;
    w.store.setExpandedRowIDs({QStringLiteral("F")});
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QElapsedTimer clock;
    clock.start();
    const qint64 before = clock.msecsSinceReference();
    w.store.save();
    QTimer::singleShot(0, [stallMs] { busyFor(stallMs); });
    QTRY_VERIFY_WITH_TIMEOUT(w.told.has_value(), kWait);
    // The heartbeat sees a stall to within one beat.
    QVERIFY2(w.told->longestTurnMs >= stallMs - StartReport::kBeat.count(),
             qPrintable(QString::number(w.told->longestTurnMs)));
    QVERIFY(w.told->readyAt >= before + stallMs);
}

void TestStartReport::namesTheLongestTurns_data()
{
    QTest::addColumn<bool>("labelled");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("work with a label") << true << QByteArray("slow-work");
    QTest::newRow("an event without one") << false << QByteArray("User@QObject");
}

// Long turns are listed longest first, each named by the label that covers it or else by the event
// that held the loop; short ones are left out.
void TestStartReport::namesTheLongestTurns()
{
    QFETCH(bool, labelled);
    QFETCH(QByteArray, name);
    Watched w;
    w.store.setExpandedRowIDs({QStringLiteral("F")});
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    SlowReceiver receiver;
    const auto stall = [&](int ms) {
        QTimer::singleShot(0, &receiver, [&receiver, labelled, ms] {
            if (labelled) {
                const WorkLabel label("slow-work");
                busyFor(ms);
            } else {
                receiver.ms = ms;
                QEvent event(QEvent::User);
                QCoreApplication::sendEvent(&receiver, &event);
            }
        });
    };
    const int shortMs = int(StartReport::kNamedTurn.count()) / 3;
    stall(shortMs);
    QTimer::singleShot(200, [&] { stall(60); });
    QTimer::singleShot(400, [&] { stall(150); });
    QTimer::singleShot(800, [&] { w.store.save(); });
    QTRY_VERIFY_WITH_TIMEOUT(w.told.has_value(), kWait);

    const auto &turns = w.told->longestTurns;
    QVERIFY2(turns.size() >= 2, StartReport::line(*w.told).constData());
    for (size_t i = 0; i < turns.size(); ++i) {
        QVERIFY(turns[i].first >= StartReport::kNamedTurn.count());
        if (i > 0)
            QVERIFY(turns[i].first <= turns[i - 1].first);
    }
    // A busy machine may add turns of its own, but never hides these two.
    const auto named = [&](int atLeast) {
        return std::count_if(turns.cbegin(), turns.cend(), [&](const auto &turn) {
            return turn.first >= atLeast - StartReport::kBeat.count() && turn.second == name;
        });
    };
    QVERIFY2(named(150) >= 1 && named(60) >= 2, StartReport::line(*w.told).constData());
    QVERIFY(StartReport::line(*w.told).contains(" turns=" + QByteArray::number(turns[0].first) + ':'));
}

void TestStartReport::onlyWhenTheEnvironmentAsks()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), 1h);
    QWidget window;
    qunsetenv(StartReport::kEnvironment);
    QVERIFY(!StartReport::startIfAsked(&window, store));
    qputenv(StartReport::kEnvironment, "1");
    QVERIFY(StartReport::startIfAsked(&window, store));
    qunsetenv(StartReport::kEnvironment);
}

// Signed out, the app saves nothing at start: it reports once the wait for a save is over.
void TestStartReport::theAppBinaryReportsItsStart()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QString::fromLatin1(StartReport::kEnvironment), QStringLiteral("1"));
    QProcess app;
    app.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    const qint64 launchedAt = clock.msecsSinceReference();
    app.start(QStringLiteral(PENROOST_APP_BINARY), {});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += app.readAllStandardError()).contains("longest_turn_ms="),
                             kWait + int(StartReport::kNoSaveWait.count()));
    app.terminate();
    QVERIFY(app.waitForFinished(kWait));
    const QByteArray line = said.mid(said.indexOf("start-report "));
    QVERIFY2(line.contains(" saved_at=0 "), line.constData());
    const qsizetype at = line.indexOf("painted_at=") + 11;
    const qint64 painted = line.mid(at, line.indexOf(' ', at) - at).toLongLong();
    QVERIFY2(painted > launchedAt, line.constData());
    // The steps of the start, in the order they ran, all before the paint.
    qint64 before = launchedAt;
    for (const char *step : {"step_qt=", "step_lock=", "step_keyring=", "step_load=", "step_window="}) {
        const qsizetype from = line.indexOf(step);
        QVERIFY2(from > 0, step);
        const qsizetype value = from + qsizetype(strlen(step));
        const qint64 ended = line.mid(value, line.indexOf(' ', value) - value).trimmed().toLongLong();
        QVERIFY2(ended >= before && ended <= painted, line.constData());
        before = ended;
    }
}

QTEST_MAIN(TestStartReport)
#include "tst_start_report.moc"
