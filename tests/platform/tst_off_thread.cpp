#include "platform/background_thread.h"
#include "platform/off_thread.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// Work sent off the window's thread never holds up the window's own drawing.
class TestOffThread : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aPaintIsNotHeldByBusyBackgroundWork();
    void backgroundWorkGivesWayToTheWindow_data();
    void backgroundWorkGivesWayToTheWindow();
};

// Qt's painter hands the strips of a large translucent fill to Qt's global pool and waits for
// them: long work of ours in that pool would keep a paint waiting until it ended.
void TestOffThread::aPaintIsNotHeldByBusyBackgroundWork()
{
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        int started = 0;
        int timedOut = 0;
    } gate;
    // As many long tasks as Qt's pool has threads, each held until the paint is done.
    const int tasks = QThreadPool::globalInstance()->maxThreadCount();
    std::vector<QCoro::Task<int>> held;
    for (int i = 0; i < tasks; ++i) {
        held.push_back(offThread([&gate] {
            std::unique_lock lock(gate.mutex);
            ++gate.started;
            if (!gate.opened.wait_for(lock, std::chrono::seconds(20), [&] { return gate.open; }))
                ++gate.timedOut;
            return 0;
        }));
    }
    QTRY_VERIFY([&] {
        std::lock_guard lock(gate.mutex);
        return gate.started == std::min(tasks, workPool().maxThreadCount());
    }());

    QImage image(800, 800, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(0, 0, 0, 40));
    }
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.opened.notify_all();
    QCOMPARE(gate.timedOut, 0);
    QVERIFY(image.pixelColor(400, 400) != QColor(Qt::white));
    // The tasks read the gate until they are done.
    QTRY_VERIFY(std::all_of(held.cbegin(), held.cend(), [](const auto &task) { return task.isReady(); }));
}

void TestOffThread::backgroundWorkGivesWayToTheWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("a result computed aside") << QStringLiteral("offThread");
    QTest::newRow("a value let go aside") << QStringLiteral("dropOffThread");
    QTest::newRow("work spread over helpers") << QStringLiteral("forEachSpread");
}

// Work handed to a pool thread does not take the processor from the window's thread when that
// thread wakes for it; the window's thread itself, working alongside its helpers, keeps its place.
void TestOffThread::backgroundWorkGivesWayToTheWindow()
{
    QFETCH(QString, way);
    // Threads made afresh for this way alone: one marked by another way's work would pass for it.
    QVERIFY(workPool().waitForDone(20000));
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::pair<bool, bool>> runs; // on the window's thread, marked as background
        void note()
        {
            std::lock_guard lock(mutex);
            runs.emplace_back(QThread::currentThread() == qApp->thread(), isBackgroundThread());
            changed.notify_all();
        }
    };
    auto seen = std::make_shared<Seen>();
    if (way == QLatin1String("offThread")) {
        QCoro::Task<int> task = offThread([seen] {
            seen->note();
            return 0;
        });
        QTRY_VERIFY(task.isReady());
    } else if (way == QLatin1String("dropOffThread")) {
        struct NotesWhereItGoes {
            std::shared_ptr<Seen> seen;
            ~NotesWhereItGoes()
            {
                if (seen)
                    seen->note();
            }
        };
        NotesWhereItGoes value{seen};
        dropOffThread(std::move(value));
        QTRY_VERIFY([&] {
            std::lock_guard lock(seen->mutex);
            return !seen->runs.empty();
        }());
    } else {
        if (QThread::idealThreadCount() < 2)
            QSKIP("no helpers on one processor");
        // The first item waits until another thread has run one, so that both kinds of thread work.
        forEachSpread(8, [&](size_t i) {
            seen->note();
            if (i != 0)
                return;
            std::unique_lock lock(seen->mutex);
            seen->changed.wait_for(lock, std::chrono::seconds(20), [&] {
                const auto &runs = seen->runs;
                return std::adjacent_find(runs.begin(), runs.end(), [](const auto &a, const auto &b) {
                           return a.first != b.first;
                       }) != runs.end();
            });
        });
    }
    std::lock_guard lock(seen->mutex);
    bool aside = false;
    for (const auto &[onWindowThread, background] : seen->runs) {
        QCOMPARE(background, !onWindowThread);
        aside = aside || !onWindowThread;
    }
    QVERIFY(aside);
}

QTEST_MAIN(TestOffThread)
#include "tst_off_thread.moc"
