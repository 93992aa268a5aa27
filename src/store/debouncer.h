#pragma once

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

// Turns a burst of calls into one action: each `schedule` replaces the waiting action and restarts
// the wait, so only the last one runs, `delay` after the last call. A wait outlives its debouncer:
// an action scheduled before the owner went away still runs, so it must capture what it needs by
// value (or through a guarded pointer), never the owner itself.
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

private:
    void cancelWait();

    std::chrono::milliseconds m_delay;
    QPointer<QTimer> m_wait;
    // Shared with the running wait, which clears it; the wait holds it weakly.
    std::shared_ptr<std::function<void()>> m_pending;
};
