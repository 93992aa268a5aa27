#include "store/debouncer.h"

#include <QCoreApplication>

#include <algorithm>
#include <vector>

struct Debouncer::Wait {
    std::function<void()> action;
    QPointer<QTimer> timer;
};

namespace {

// An action that schedules again on every run must not hold the app's end forever.
constexpr int kFlushRounds = 8;

} // namespace

std::vector<std::shared_ptr<Debouncer::Wait>> &Debouncer::waiting()
{
    // The waits not yet run, oldest first. They are few (one per field being typed in).
    static std::vector<std::shared_ptr<Wait>> list;
    return list;
}

void Debouncer::forget(const Wait *wait)
{
    auto &list = waiting();
    list.erase(std::remove_if(list.begin(), list.end(), [wait](const auto &w) { return w.get() == wait; }),
               list.end());
}

Debouncer::Debouncer(std::chrono::milliseconds delay)
    : m_delay(delay)
{
}

// The wait in progress is left running on purpose.
Debouncer::~Debouncer() = default;

// Takes the wait out of the list and stops its timer, leaving its action to the caller.
std::function<void()> Debouncer::retire(const std::shared_ptr<Wait> &wait)
{
    forget(wait.get());
    if (wait->timer) {
        wait->timer->stop();
        wait->timer->deleteLater();
    }
    return std::exchange(wait->action, nullptr);
}

void Debouncer::run(const std::shared_ptr<Wait> &wait)
{
    // Retired before running, so an action that schedules again keeps its new wait.
    if (const std::function<void()> action = retire(wait))
        action();
}

void Debouncer::schedule(std::function<void()> action)
{
    if (const auto previous = m_wait.lock())
        retire(previous);
    auto wait = std::make_shared<Wait>();
    wait->action = std::move(action);
    // Owned by the application rather than by this object, so the wait survives the owner.
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setSingleShot(true);
    timer->setInterval(m_delay);
    wait->timer = timer;
    std::weak_ptr<Wait> weak = wait;
    QObject::connect(timer, &QTimer::timeout, timer, [weak] {
        if (const auto w = weak.lock())
            run(w);
    });
    waiting().push_back(wait);
    m_wait = wait;
    timer->start();
}

void Debouncer::flush()
{
    if (const auto wait = m_wait.lock())
        run(wait);
}

bool Debouncer::isPending() const
{
    const auto wait = m_wait.lock();
    return wait && wait->action;
}

void Debouncer::flushAll()
{
    for (int round = 0; round < kFlushRounds && !waiting().empty(); ++round) {
        const std::vector<std::shared_ptr<Wait>> due = waiting();
        for (const auto &wait : due)
            run(wait);
    }
}

int Debouncer::pendingCount()
{
    return int(waiting().size());
}
