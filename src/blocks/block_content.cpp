#include "blocks/block_content.h"

#include "json/json_error.h"
#include "platform/utf8.h"

namespace BlockContent {

JSONObject decode(const QString &contentJSON)
{
    try {
        return parseJSONObject(contentJSON.toUtf8());
    } catch (const DecodeError &) {
        return {};
    }
}

std::optional<QString> encode(const JSONObject &content)
{
    try {
        return decodeUtf8Strict(serializeJSONObject(content));
    } catch (const EncodeError &) {
        return std::nullopt;
    }
}

QString readString(const JSONObject &content, const QString &key, const QString &fallback)
{
    return readOptionalString(content, key).value_or(fallback);
}

std::optional<QString> readOptionalString(const JSONObject &content, const QString &key)
{
    const auto it = content.find(key);
    if (it == content.end() || !it->second.isString())
        return std::nullopt;
    return it->second.toString();
}

qint64 readInt(const JSONObject &content, const QString &key, qint64 fallback)
{
    return readOptionalInt(content, key).value_or(fallback);
}

std::optional<qint64> readOptionalInt(const JSONObject &content, const QString &key)
{
    const auto it = content.find(key);
    if (it == content.end() || !it->second.isInt())
        return std::nullopt;
    return it->second.toInt();
}

bool readBool(const JSONObject &content, const QString &key, bool fallback)
{
    const auto it = content.find(key);
    return it != content.end() && it->second.isBool() ? it->second.toBool() : fallback;
}

double readDouble(const JSONObject &content, const QString &key, double fallback)
{
    const auto it = content.find(key);
    if (it == content.end())
        return fallback;
    if (it->second.isDouble())
        return it->second.toDouble();
    if (it->second.isInt())
        return double(it->second.toInt());
    return fallback;
}

QString trimmedEntry(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (from < to && blank(text[from]))
        ++from;
    while (to > from && blank(text[to - 1]))
        --to;
    return text.mid(from, to - from);
}

} // namespace BlockContent
