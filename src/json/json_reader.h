#pragma once

#include "json/chunked_list.h"
#include "json/json_error.h"
#include "json/json_limits.h"
#include "json/json_value.h"

#include <QDateTime>
#include <QMap>
#include <QString>

#include <rapidjson/document.h>

#include <concepts>
#include <optional>
#include <vector>

// Strict readers shared by every wire type and local record: a required key missing or null,
// or a value of the wrong JSON kind, throws DecodeError. Unknown keys are ignored.
namespace json {

// A type reads itself with `static T fromJson(const rapidjson::Value &)`.
template <typename T>
concept Readable = requires(const rapidjson::Value &v) {
    { T::fromJson(v) } -> std::convertible_to<T>;
};

// The one integer rule: a number whose value is whole and fits in 64 signed bits.
std::optional<qint64> wholeInt64(const rapidjson::Value &v);
QString kindName(const rapidjson::Value &v);

QString readString(const rapidjson::Value &v);
qint64 readInt(const rapidjson::Value &v);
double readDouble(const rapidjson::Value &v);
bool readBool(const rapidjson::Value &v);
QDateTime readDate(const rapidjson::Value &v); // ISO 8601 text
const rapidjson::Value &requireObject(const rapidjson::Value &v);
const rapidjson::Value &requireArray(const rapidjson::Value &v);

template <typename T>
T read(const rapidjson::Value &v);

template <typename T>
struct Reader;
template <Readable T>
struct Reader<T> {
    static T read(const rapidjson::Value &v) { return T::fromJson(v); }
};
template <>
struct Reader<QString> {
    static QString read(const rapidjson::Value &v) { return readString(v); }
};
template <>
struct Reader<qint64> {
    static qint64 read(const rapidjson::Value &v) { return readInt(v); }
};
template <>
struct Reader<double> {
    static double read(const rapidjson::Value &v) { return readDouble(v); }
};
template <>
struct Reader<bool> {
    static bool read(const rapidjson::Value &v) { return readBool(v); }
};
template <>
struct Reader<QDateTime> {
    static QDateTime read(const rapidjson::Value &v) { return readDate(v); }
};
template <>
struct Reader<JSONObject> {
    static JSONObject read(const rapidjson::Value &v)
    {
        requireObject(v);
        return JSONValue::fromJson(v).toObject();
    }
};
template <typename List>
struct ListReader {
    static List read(const rapidjson::Value &v)
    {
        List out;
        const auto &a = requireArray(v);
        out.reserve(a.Size());
        for (const auto &e : a.GetArray())
            out.push_back(Reader<typename List::value_type>::read(e));
        return out;
    }
};
template <typename T>
struct Reader<std::vector<T>> : ListReader<std::vector<T>> {
};
template <typename T>
struct Reader<ChunkedList<T>> : ListReader<ChunkedList<T>> {
};
template <typename T>
struct Reader<QMap<QString, T>> {
    static QMap<QString, T> read(const rapidjson::Value &v)
    {
        QMap<QString, T> out;
        for (const auto &m : requireObject(v).GetObject())
            out.insert(QString::fromUtf8(m.name.GetString(), m.name.GetStringLength()), Reader<T>::read(m.value));
        return out;
    }
};

template <typename T>
T read(const rapidjson::Value &v)
{
    return Reader<T>::read(v);
}

// A required member: present and not null.
template <typename T>
T field(const rapidjson::Value &obj, const char *key)
{
    const auto it = requireObject(obj).FindMember(key);
    if (it == obj.MemberEnd() || it->value.IsNull())
        throw DecodeError(QStringLiteral("Missing key \"%1\"").arg(QLatin1String(key)));
    try {
        return Reader<T>::read(it->value);
    } catch (const DecodeError &e) {
        throw DecodeError(QStringLiteral("\"%1\": %2").arg(QLatin1String(key), e.message()));
    }
}

// An optional member: missing and null both read as absent.
template <typename T>
std::optional<T> optField(const rapidjson::Value &obj, const char *key)
{
    const auto it = requireObject(obj).FindMember(key);
    if (it == obj.MemberEnd() || it->value.IsNull())
        return std::nullopt;
    try {
        return Reader<T>::read(it->value);
    } catch (const DecodeError &e) {
        throw DecodeError(QStringLiteral("\"%1\": %2").arg(QLatin1String(key), e.message()));
    }
}

// What parsing does with a value nested deeper than kMaxDepth.
enum class TooDeep {
    Refuse, // the whole text is a decoding error
    Mark,   // the value is kept as a mark every reader refuses, so the rest can still be read
};

// What parsing does with a number no double holds and with a string or key that is not UTF-8.
enum class Damaged {
    Refuse, // the whole text is a decoding error
    Mark,   // the value or key is kept as a mark every reader refuses, so the rest can still be read
};

// Parses a whole document (a top-level scalar is accepted); throws DecodeError on malformed text
// and, unless told to mark them, on values nested deeper than kMaxDepth and on damaged values.
// Never recurses.
void parseDocument(rapidjson::Document &doc, const QByteArray &bytes, TooDeep tooDeep = TooDeep::Refuse,
                   Damaged damaged = Damaged::Refuse);
// True for what TooDeep::Mark left in place of a value nested too deep.
bool isTooDeepMark(const rapidjson::Value &v);
DecodeError tooDeepError();

// What Damaged::Mark left in place of a value or key.
enum class Damage { None, TooBig, NotUtf8 };
// The damage a string or key the parser gave stands for, told by its address.
Damage damageOf(const char *text);
// "a number too large for a double", as kindName names the mark.
QString damageName(Damage damage);
// The first mark Damaged::Mark left in `v`, keys included, in the order of the text.
Damage firstDamage(const rapidjson::Value &v);
// Why a record that holds a damaged value or key is left out, though every field it reads reads.
DecodeError damagedError(Damage damage);

} // namespace json
