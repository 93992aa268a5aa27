#pragma once

#include "json/json_value.h"

#include <QLatin1String>
#include <QString>

// Reading the values of a pulled or queued payload: a key that is absent or of another kind gives
// the fallback.
namespace syncPayload {

inline bool has(const JSONObject &p, const char *key)
{
    return p.find(QLatin1String(key)) != p.end();
}

inline JSONValue valueOr(const JSONObject &p, const char *key)
{
    const auto it = p.find(QLatin1String(key));
    return it != p.end() ? it->second : JSONValue();
}

inline qint64 intOr(const JSONObject &p, const char *key, qint64 fallback)
{
    const auto it = p.find(QLatin1String(key));
    return it != p.end() && it->second.isInt() ? it->second.toInt() : fallback;
}

inline QString stringOr(const JSONObject &p, const char *key, const QString &fallback)
{
    const auto it = p.find(QLatin1String(key));
    return it != p.end() && it->second.isString() ? it->second.toString() : fallback;
}

} // namespace syncPayload
