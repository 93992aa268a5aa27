#pragma once

#include "platform/work_pool.h"

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QPromise>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// Runs `work` on a work pool thread; the awaiting coroutine resumes on its own thread with the result,
// or with what `work` threw. The result is moved back, never copied: it may be a reply of many
// megabytes. An owner that may be gone by then checks for itself after the await.
template <typename Work>
QCoro::Task<std::invoke_result_t<Work>> offThread(Work work)
{
    using Result = std::invoke_result_t<Work>;
    struct Outcome {
        std::optional<Result> value;
        std::exception_ptr error;
    };
    auto promise = std::make_shared<QPromise<std::shared_ptr<Outcome>>>();
    QFuture<std::shared_ptr<Outcome>> future = promise->future();
    promise->start();
    startWork([promise, work = std::move(work)]() mutable {
        auto outcome = std::make_shared<Outcome>();
        try {
            outcome->value.emplace(work());
        } catch (...) {
            outcome->error = std::current_exception();
        }
        promise->addResult(std::move(outcome));
        promise->finish();
    });
    const std::shared_ptr<Outcome> outcome = co_await future;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    co_return std::move(*outcome->value);
}

// Lets `value` go on a pool thread: freeing a large reply's thousands of strings is work too.
template <typename T>
void dropOffThread(T &&value)
{
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    startWork([held = std::move(held)]() mutable { held.reset(); });
}

// Calls `each(i)` for every i below `count`, on the calling thread and on up to `helpers` pool
// threads at once, and returns when all are done. The calling thread works too, so a pool busy with
// other work only makes this slower, never stuck.
template <typename Each>
void forEachSpread(size_t count, Each &&each, int helpers = 3)
{
    if (count == 0)
        return;
    struct Progress {
        std::atomic<size_t> next = 0;
        size_t done = 0;
        std::mutex mutex;
        std::condition_variable allDone;
    };
    auto progress = std::make_shared<Progress>();
    // A helper that starts late finds nothing left and never touches `each`.
    const auto work = [progress, count, &each] {
        for (size_t i; (i = progress->next.fetch_add(1)) < count;) {
            each(i);
            std::lock_guard lock(progress->mutex);
            if (++progress->done == count)
                progress->allDone.notify_all();
        }
    };
    const int spare = std::max(0, QThread::idealThreadCount() - 1);
    const int started = int(std::min<size_t>(count - 1, size_t(std::min(helpers, spare))));
    for (int h = 0; h < started; ++h)
        startWork(work);
    work();
    std::unique_lock lock(progress->mutex);
    progress->allDone.wait(lock, [&] { return progress->done == count; });
}
