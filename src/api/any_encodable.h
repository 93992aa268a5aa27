#pragma once

#include "json/json_writer.h"

#include <concepts>
#include <functional>
#include <memory>
#include <type_traits>

// Carries a request body of any writable type; writes exactly the wrapped value's JSON.
class AnyEncodable
{
public:
    template <typename T>
        requires(!std::same_as<std::decay_t<T>, AnyEncodable>)
    AnyEncodable(T value)
        : m_write([v = std::make_shared<const std::decay_t<T>>(std::move(value))](JsonWriter &w) { w.value(*v); })
    {
    }

    void toJson(JsonWriter &w) const { m_write(w); }

private:
    std::function<void(JsonWriter &)> m_write;
};
