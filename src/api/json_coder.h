#pragma once

#include "api/json_reader.h"
#include "api/json_writer.h"

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

template <typename T>
T sharedJSONDecode(const QByteArray &bytes)
{
    rapidjson::Document doc;
    json::parseDocument(doc, bytes);
    return json::read<T>(doc);
}

namespace json {
QString formatDate(const QDateTime &d);
// The same text as formatDate into `out` (20 bytes, no terminator); false for years outside 0-9999.
bool formatDateLatin1(const QDateTime &d, char *out);
std::optional<QDateTime> parseDate(const QString &text);
} // namespace json
