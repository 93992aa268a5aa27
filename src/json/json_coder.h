#pragma once

#include "json/json_reader.h"
#include "json/json_writer.h"

#include <QByteArray>

// The program's one JSON encoder and decoder (dates as ISO 8601, UTC, whole seconds).
// Used for request bodies, replies, "state.json" and the stored templates.
template <typename T>
QByteArray sharedJSONEncode(const T &value)
{
    JsonWriter w;
    w.value(value);
    return w.bytes();
}

// A type that reads the items of its list one by one and skips the unreadable ones says so with
// `static constexpr bool kSkipsUnreadableItems = true`: an item nested too deep is then one more
// unreadable item instead of refusing the whole text.
template <typename T>
T sharedJSONDecode(const QByteArray &bytes)
{
    rapidjson::Document doc;
    if constexpr (requires { T::kSkipsUnreadableItems; })
        json::parseDocument(doc, bytes, json::TooDeep::Mark);
    else
        json::parseDocument(doc, bytes);
    return json::read<T>(doc);
}

namespace json {
QString formatDate(const QDateTime &d);
// The same text as formatDate into `out` (20 bytes, no terminator); false for years outside 0-9999.
bool formatDateLatin1(const QDateTime &d, char *out);
// ISO 8601 text in UTC, whole seconds; nothing for text that is no date or leaves years 1-9999 in UTC.
std::optional<QDateTime> parseDate(const QString &text);
// The same as parseDate for UTF-8 text, quick for the shape formatDate writes.
std::optional<QDateTime> parseDateUtf8(const char *text, size_t size);
// "expected an ISO 8601 date, found ..." for text no date reads from.
DecodeError dateError(const char *text, size_t size);
} // namespace json
