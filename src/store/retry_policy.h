#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>

// How the push counts and spaces out failed outbox operations, in one place.
struct RetryPolicy {
    // A permanent client error drops the operation when its count reaches this.
    static constexpr qint64 kDropAtAttempts = 10;
    // Other failures count up to this and are retried for ever.
    static constexpr qint64 kMaxTransientAttempts = 9;
    static constexpr double kMaxDelaySeconds = 60.0;

    // 4xx means the request itself is wrong, except a time-out (408) and rate limiting (429),
    // which pass like server trouble.
    static bool isPermanentClientError(int status)
    {
        return status >= 400 && status <= 499 && status != 408 && status != 429;
    }

    // 2^attempts seconds, at most a minute.
    static std::chrono::milliseconds delayAfter(qint64 attempts)
    {
        const double seconds = std::min(std::pow(2.0, double(attempts)), kMaxDelaySeconds);
        return std::chrono::milliseconds(qint64(seconds * 1000.0));
    }
};
