#pragma once

#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "platform/utf8.h"

#include <QString>

#include <optional>

// The payload text the outbox stores for a request; none when it cannot be encoded (the writer then
// queues nothing or "{}").
namespace outboxPayload {

inline std::optional<QString> encodeBytes(const auto &encode)
{
    try {
        return decodeUtf8Strict(encode());
    } catch (const EncodeError &) {
        return std::nullopt;
    }
}

template <typename T>
std::optional<QString> encode(const T &value)
{
    return encodeBytes([&] { return sharedJSONEncode(value); });
}

inline std::optional<QString> encodeObject(const JSONObject &body)
{
    return encodeBytes([&] { return serializeJSONObject(body); });
}

} // namespace outboxPayload
