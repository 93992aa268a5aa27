#include "store/debouncer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr auto kDelay = 40ms;

// True once a wait as long as the debouncer's, started now, has run out: by then any wait
// started earlier has had its turn.
std::shared_ptr<bool> sentinel()
{
    auto done = std::make_shared<bool>(false);
    QTimer::singleShot(kDelay * 2, QCoreApplication::instance(), [done] { *done = true; });
    return done;
}

} // namespace

class TestDebouncer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void usersWaitSevenTenths();
    void onlyTheLastActionRuns();
    void flushRunsThePendingActionOnce();
    void flushWithNothingPendingRunsNothing();
    void actionThatSchedulesAgainKeepsItsNewAction();
    void ownerDestroyedFirst();
    void flushAllRunsEveryWaitOnce();
};

void TestDebouncer::usersWaitSevenTenths()
{
    QCOMPARE(Debouncer::kDelay, 700ms);
}

void TestDebouncer::onlyTheLastActionRuns()
{
    Debouncer d(kDelay);
    QStringList ran;
    d.schedule([&] { ran << QStringLiteral("A"); });
    d.schedule([&] { ran << QStringLiteral("B"); });
    QElapsedTimer sinceLast;
    sinceLast.start();
    d.schedule([&] { ran << QStringLiteral("C"); });
    QVERIFY(ran.isEmpty());
    QTRY_COMPARE(ran, QStringList{QStringLiteral("C")});
    // Coarse timers may fire up to 5% early.
    QVERIFY2(sinceLast.elapsed() >= kDelay.count() * 95 / 100,
             qPrintable(QString::number(sinceLast.elapsed())));
    const auto done = sentinel();
    QTRY_VERIFY(*done);
    QCOMPARE(ran, QStringList{QStringLiteral("C")});
}

void TestDebouncer::flushRunsThePendingActionOnce()
{
    Debouncer d(kDelay);
    int runs = 0;
    d.schedule([&] { ++runs; });
    d.flush();
    QCOMPARE(runs, 1);
    d.flush();
    QCOMPARE(runs, 1);
    const auto done = sentinel();
    QTRY_VERIFY(*done);
    QCOMPARE(runs, 1);
}

void TestDebouncer::flushWithNothingPendingRunsNothing()
{
    Debouncer d(kDelay);
    d.flush();
    int runs = 0;
    d.schedule([&] { ++runs; });
    QTRY_COMPARE(runs, 1);
    d.flush(); // the wait already ran the action
    QCOMPARE(runs, 1);
}

void TestDebouncer::actionThatSchedulesAgainKeepsItsNewAction()
{
    Debouncer d(kDelay);
    QStringList ran;
    QStringList ranByFlush;
    d.schedule([&] {
        ran << QStringLiteral("A");
        d.schedule([&] { ran << QStringLiteral("B"); });
        // Flush at the next turn of the event loop, long before B's wait runs out.
        QTimer::singleShot(0, QCoreApplication::instance(), [&] {
            d.flush();
            ranByFlush = ran;
        });
    });
    QTRY_COMPARE(ranByFlush, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    const auto done = sentinel();
    QTRY_VERIFY(*done);
    QCOMPARE(ran.size(), 2);
}

void TestDebouncer::ownerDestroyedFirst()
{
    struct Owner {
        Debouncer title{kDelay};
    };
    auto ran = std::make_shared<QStringList>();
    auto owner = std::make_unique<Owner>();
    owner->title.schedule([ran] { *ran << QStringLiteral("A"); });
    owner->title.schedule([ran] { *ran << QStringLiteral("B"); });
    owner.reset();
    QVERIFY(ran->isEmpty());
    QTRY_COMPARE(*ran, QStringList{QStringLiteral("B")});
    const auto done = sentinel();
    QTRY_VERIFY(*done);
    QCOMPARE(*ran, QStringList{QStringLiteral("B")});

    // A flushed debouncer leaves nothing behind to run.
    owner = std::make_unique<Owner>();
    owner->title.schedule([ran] { *ran << QStringLiteral("C"); });
    owner->title.flush();
    owner.reset();
    const auto later = sentinel();
    QTRY_VERIFY(*later);
    QCOMPARE(*ran, (QStringList{QStringLiteral("B"), QStringLiteral("C")}));
}

// As the app ends: every wait runs now, of a debouncer still there or gone, replaced ones not at all.
void TestDebouncer::flushAllRunsEveryWaitOnce()
{
    QStringList ran;
    Debouncer kept(kDelay);
    {
        Debouncer gone(kDelay);
        gone.schedule([&] { ran << QStringLiteral("gone"); });
    }
    kept.schedule([&] { ran << QStringLiteral("replaced"); });
    kept.schedule([&] {
        ran << QStringLiteral("kept");
        // Written as it runs: scheduled again, and run in the same flush.
        kept.schedule([&] { ran << QStringLiteral("again"); });
    });
    QVERIFY(kept.isPending());
    QCOMPARE(Debouncer::pendingCount(), 2);

    Debouncer::flushAll();
    QCOMPARE(ran, (QStringList{QStringLiteral("gone"), QStringLiteral("kept"), QStringLiteral("again")}));
    QVERIFY(!kept.isPending());
    QCOMPARE(Debouncer::pendingCount(), 0);
    const auto done = sentinel();
    QTRY_VERIFY(*done);
    QCOMPARE(ran.size(), 3);
}

QTEST_GUILESS_MAIN(TestDebouncer)
#include "tst_debouncer.moc"
