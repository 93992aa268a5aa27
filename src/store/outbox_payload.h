#pragma once

#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "platform/utf8.h"

#include <QString>

#include <optional>
#include <utility>
#include <vector>

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

// Sets `keys` in a stored object payload and keeps its other keys (a create's may name a parent by
// local id). False only when the result does not encode; an unreadable payload is left as it is, for
// the engine to judge or rebuild when it is sent.
inline bool setKeys(QString &payloadJSON, const std::vector<std::pair<QString, QString>> &keys)
{
    try {
        JSONObject body = parseJSONObject(payloadJSON.toUtf8());
        for (const auto &[key, value] : keys)
            body[key] = value;
        const auto payload = encodeObject(body);
        if (!payload)
            return false;
        payloadJSON = *payload;
    } catch (const DecodeError &) {
    }
    return true;
}

} // namespace outboxPayload
