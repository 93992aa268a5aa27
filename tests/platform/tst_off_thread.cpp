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

QTEST_MAIN(TestOffThread)
#include "tst_off_thread.moc"
