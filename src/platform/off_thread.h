#pragma once

#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

// Lets `value` go on a pool thread: freeing a large reply's thousands of strings is work too.
template <typename T>
void dropOffThread(T &&value)
{
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    QThreadPool::globalInstance()->start([held = std::move(held)]() mutable { held.reset(); });
}
