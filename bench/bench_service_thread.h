// The fake service on a thread of its own, so the time it spends answering is not counted as the
// app's, and a client in another process (curl) is served while this thread waits.
#pragma once

#include "fake-service/fake_service.h"
#include "platform/background_thread.h"

#include <QMetaObject>
#include <QThread>

#include <memory>
#include <type_traits>

class BenchServiceThread
{
public:
    BenchServiceThread()
    {
        // Made on its thread: its sockets and servers belong to it from the start.
        m_home.moveToThread(&m_thread);
        m_thread.start();
        call([this] {
            // A real service answers on another machine: woken by the app's request, this thread
            // must not take the app's processor from it, or the app is charged with its work.
            becomeBackgroundThread();
            m_service = std::make_unique<FakeService>();
            m_started = m_service->start();
        });
    }
    ~BenchServiceThread()
    {
        call([this] { m_service.reset(); });
        m_thread.quit();
        m_thread.wait();
    }

    bool started() const { return m_started; }
    QString origin()
    {
        return result([this] { return m_service->origin(); });
    }
    FakeService::Account createAccount(const QString &email, const QString &password, const QString &name)
    {
        return result([&] { return m_service->createAccount(email, password, name); });
    }
    void setFault(const QString &path, const FakeService::Fault &fault)
    {
        call([&] { m_service->setFault(path, fault); });
    }
    // The service itself, for calls run on its thread.
    FakeService &fake() { return *m_service; }
    // Runs `f` with the service on its thread and waits for it (seeding its state).
    template <typename F>
    void withService(F &&f)
    {
        call([&] { f(*m_service); });
    }
    // Runs `f` on the service's thread and waits for it.
    template <typename F>
    void call(F &&f)
    {
        QMetaObject::invokeMethod(&m_home, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

private:
    template <typename F>
    std::invoke_result_t<F> result(F &&f)
    {
        decltype(f()) out;
        call([&] { out = f(); });
        return out;
    }

    QThread m_thread;
    QObject m_home; // lives on the thread; calls run in its name
    std::unique_ptr<FakeService> m_service;
    bool m_started = false;
};
