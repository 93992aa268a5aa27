#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// Runs `work` on a pool thread; the awaiting coroutine resumes on its own thread with the result, or
// with what `work` threw. The result is moved back, never copied: it may be a reply of many megabytes.
// An owner that may be gone by then checks for itself after the await.
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
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
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
    QThreadPool::globalInstance()->start([held = std::move(held)]() mutable { held.reset(); });
}
