// What a user feels of work on the GUI thread: how long the event loop went without turning, as a
// 1 ms timer sees it. Wall clock, not thread CPU time: a wait on a lock or a page fault counts too.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>

class StallMeter
{
public:
    // A gap this long between beats is a stall; shorter ones are the scheduler's noise on a busy
    // machine, not work.
    static constexpr double kStallMs = 2.0;

    StallMeter()
    {
        m_beat.setTimerType(Qt::PreciseTimer);
        m_beat.setInterval(1);
        QObject::connect(&m_beat, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_longest = m_total = 0;
        m_stalls = 0;
        m_clock.start();
        m_last = 0;
        m_beat.start();
    }
    // Counts the gap up to now too: a stall still under way when the measured work ends.
    void stop()
    {
        tick();
        m_beat.stop();
    }

    double longestMs() const { return m_longest; }
    // Each stall counted less the beat's own millisecond.
    double totalMs() const { return m_total; }
    int stalls() const { return m_stalls; }

    // Turns a real event loop until `done` holds, at most `limitMs`; QTest's waits sleep between
    // their passes, which would count as stalls. False when the time ran out.
    template <typename Done>
    static bool spinUntil(Done done, int limitMs)
    {
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer check;
        check.setInterval(1);
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done() || clock.elapsed() >= limitMs)
                loop.quit();
        });
        if (done())
            return true;
        check.start();
        loop.exec();
        return done();
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double gap = double(now - m_last) / 1e6;
        m_last = now;
        if (gap < kStallMs)
            return;
        ++m_stalls;
        m_longest = std::max(m_longest, gap);
        m_total += gap - 1.0;
    }

    QTimer m_beat;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_longest = 0;
    double m_total = 0;
    int m_stalls = 0;
};
