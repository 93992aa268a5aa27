#pragma once

#include "api/api_error.h"

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

// What a coroutine produced: its value or the exception it threw, or neither after a time-out.
template <typename T>
struct TaskOutcome {
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    bool finished = false;

    bool ok() const { return finished && !error; }
    // The APIError thrown, if that is what the task threw.
    std::optional<APIError> apiError() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const APIError &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
    // The message of any std::exception thrown.
    QString errorText() const
    {
        if (!error)
            return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            return QString::fromUtf8(e.what());
        } catch (...) {
            return QStringLiteral("unknown exception");
        }
    }
};

namespace detail {
template <typename T>
QCoro::Task<> captureOutcome(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> out,
                             std::shared_ptr<QEventLoop> loop)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out->value = true;
        } else {
            out->value = co_await std::move(task);
        }
    } catch (...) {
        out->error = std::current_exception();
    }
    out->finished = true;
    loop->quit();
}
} // namespace detail

// Runs the event loop until the task ends (or the time-out passes) and returns what it produced.
template <typename T>
TaskOutcome<T> runTask(QCoro::Task<T> task, int timeoutMs = 15000)
{
    auto out = std::make_shared<TaskOutcome<T>>();
    auto loop = std::make_shared<QEventLoop>();
    detail::captureOutcome(std::move(task), out, loop);
    if (!out->finished) {
        QTimer::singleShot(timeoutMs, loop.get(), &QEventLoop::quit);
        loop->exec();
    }
    return *out;
}
