#include "store/debouncer.h"

#include <QCoreApplication>

Debouncer::Debouncer(std::chrono::milliseconds delay)
    : m_delay(delay)
    , m_pending(std::make_shared<std::function<void()>>())
{
}

// The wait in progress is left running on purpose.
Debouncer::~Debouncer() = default;

void Debouncer::cancelWait()
{
    if (m_wait) {
        m_wait->stop();
        m_wait->deleteLater();
    }
    m_wait.clear();
}

void Debouncer::schedule(std::function<void()> action)
{
    cancelWait();
    *m_pending = action;
    // Owned by the application rather than by this object, so the wait survives the owner.
    auto *wait = new QTimer(QCoreApplication::instance());
    wait->setSingleShot(true);
    wait->setInterval(m_delay);
    std::weak_ptr<std::function<void()>> pending = m_pending;
    QObject::connect(wait, &QTimer::timeout, wait, [wait, pending, action = std::move(action)] {
        wait->deleteLater();
        // Cleared before running, so an action that schedules again keeps its new pending action.
        if (const auto slot = pending.lock())
            *slot = nullptr;
        const auto run = action;
        run();
    });
    wait->start();
    m_wait = wait;
}

void Debouncer::flush()
{
    cancelWait();
    const std::function<void()> action = std::exchange(*m_pending, nullptr);
    if (action)
        action();
}
