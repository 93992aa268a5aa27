#pragma once

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// Turns a burst of calls into one action: each `schedule` replaces the waiting action and restarts
// the wait, so only the last one runs, `delay` after the last call. A wait outlives its debouncer:
// an action scheduled before the owner went away still runs, so it must capture what it needs by
// value (or through a guarded pointer), never the owner itself.
//
// Every wait of the process is known, so the app can write them all before it ends (`flushAll`):
// their timers would never fire once the event loop has returned. GUI thread only.
class Debouncer
{
public:
    static constexpr std::chrono::milliseconds kDelay{700};

    explicit Debouncer(std::chrono::milliseconds delay = kDelay);
    ~Debouncer();
    Debouncer(const Debouncer &) = delete;
    Debouncer &operator=(const Debouncer &) = delete;

    void schedule(std::function<void()> action);
    // Runs the waiting action, if any, before returning.
    void flush();
    // An action of this debouncer waits to run.
    bool isPending() const;

    // Runs every waiting action of the process now, those of debouncers already gone included, in
    // the order they were scheduled; one an action schedules meanwhile runs too.
    static void flushAll();
    static int pendingCount();

private:
    struct Wait;
    static std::vector<std::shared_ptr<Wait>> &waiting();
    static void forget(const Wait *wait);
    static void run(const std::shared_ptr<Wait> &wait);
    static std::function<void()> retire(const std::shared_ptr<Wait> &wait);

    std::chrono::milliseconds m_delay;
    // The wait this debouncer scheduled last; it clears itself once run or replaced.
    std::weak_ptr<Wait> m_wait;
};
