#pragma once

#include "json/json_value.h"

#include <QString>

#include <optional>

// A block's content: the JSON object stored as text in `FNBlock::contentJSON`. A key counts only
// when it holds the JSON case its reader expects; anything else reads as the reader's default.
namespace BlockContent {

// Content that is not a JSON object (empty text, an array, malformed text) reads as empty.
JSONObject decode(const QString &contentJSON);
// None when the map cannot be written (a NaN or infinite number).
std::optional<QString> encode(const JSONObject &content);

QString readString(const JSONObject &content, const QString &key, const QString &fallback = {});
std::optional<QString> readOptionalString(const JSONObject &content, const QString &key);
qint64 readInt(const JSONObject &content, const QString &key, qint64 fallback = 0);
std::optional<qint64> readOptionalInt(const JSONObject &content, const QString &key);
bool readBool(const JSONObject &content, const QString &key, bool fallback = false);
// Takes a JSON double or integer.
double readDouble(const JSONObject &content, const QString &key, double fallback);

// What the user typed into an entry field, without the spaces and tabs at its ends (line breaks
// stay).
QString trimmedEntry(const QString &text);

} // namespace BlockContent
