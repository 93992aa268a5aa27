#include "json/json_value.h"

#include "json/json_error.h"
#include "json/json_reader.h"
#include "json/json_writer.h"

#include <QHashFunctions>

#include <cmath>

namespace {

const JSONArray kEmptyArray;
const JSONObject kEmptyObject;
const JSONValue kNull;

// boost-style combine, so arrays hash in order.
size_t combine(size_t seed, size_t h)
{
    return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

QString JSONValue::toString() const
{
    const auto *s = std::get_if<QString>(&m_value);
    return s ? *s : QString();
}

qint64 JSONValue::toInt() const
{
    const auto *i = std::get_if<qint64>(&m_value);
    return i ? *i : 0;
}

double JSONValue::toDouble() const
{
    if (const auto *d = std::get_if<double>(&m_value))
        return *d;
    if (const auto *i = std::get_if<qint64>(&m_value))
        return double(*i);
    return 0.0;
}

bool JSONValue::toBool() const
{
    const auto *b = std::get_if<bool>(&m_value);
    return b && *b;
}

const JSONArray &JSONValue::toArray() const
{
    const auto *a = std::get_if<JSONArray>(&m_value);
    return a ? *a : kEmptyArray;
}

const JSONObject &JSONValue::toObject() const
{
    const auto *o = std::get_if<JSONObject>(&m_value);
    return o ? *o : kEmptyObject;
}

const JSONValue &JSONValue::operator[](const QString &key) const
{
    const auto &o = toObject();
    const auto it = o.find(key);
    return it == o.end() ? kNull : it->second;
}

JSONValue JSONValue::fromJson(const rapidjson::Value &v)
{
    return fromJson(v, 0);
}

JSONValue JSONValue::fromJson(const rapidjson::Value &v, int depth)
{
    // Parsed text is already within the limit; this also bounds a document built in code.
    if ((v.IsObject() || v.IsArray()) && ++depth > json::kMaxDepth)
        throw json::tooDeepError();
    if (json::isTooDeepMark(v))
        throw json::tooDeepError();
    switch (v.GetType()) {
    case rapidjson::kNullType:
        return JSONValue();
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return JSONValue(v.GetBool());
    case rapidjson::kNumberType:
        if (const auto i = json::wholeInt64(v))
            return JSONValue(*i);
        return JSONValue(v.GetDouble());
    case rapidjson::kStringType:
        return JSONValue(QString::fromUtf8(v.GetString(), v.GetStringLength()));
    case rapidjson::kArrayType: {
        JSONArray a;
        a.reserve(v.Size());
        for (const auto &e : v.GetArray())
            a.push_back(fromJson(e, depth));
        return JSONValue(std::move(a));
    }
    case rapidjson::kObjectType: {
        JSONObject o;
        for (const auto &m : v.GetObject())
            o.insert_or_assign(QString::fromUtf8(m.name.GetString(), m.name.GetStringLength()),
                               fromJson(m.value, depth));
        return JSONValue(std::move(o));
    }
    }
    throw DecodeError(QStringLiteral("Unknown JSON value"));
}

JSONValue JSONValue::parse(const QByteArray &json)
{
    rapidjson::Document doc;
    json::parseDocument(doc, json);
    return fromJson(doc);
}

void JSONValue::toJson(JsonWriter &w) const
{
    switch (kind()) {
    case Kind::String:
        w.value(std::get<QString>(m_value));
        break;
    case Kind::Int:
        w.value(std::get<qint64>(m_value));
        break;
    case Kind::Double:
        w.value(std::get<double>(m_value));
        break;
    case Kind::Bool:
        w.value(std::get<bool>(m_value));
        break;
    case Kind::Null:
        w.null();
        break;
    case Kind::Array:
        w.startArray();
        for (const auto &e : std::get<JSONArray>(m_value))
            e.toJson(w);
        w.endArray();
        break;
    case Kind::Object:
        w.startObject();
        for (const auto &[k, v] : std::get<JSONObject>(m_value)) {
            w.key(k);
            v.toJson(w);
        }
        w.endObject();
        break;
    }
}

QByteArray JSONValue::serialize() const
{
    JsonWriter w;
    toJson(w);
    return w.bytes();
}

bool operator==(const JSONValue &a, const JSONValue &b)
{
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
    case JSONValue::Kind::String:
        // Canonically equivalent texts compare equal.
        return a.toString().normalized(QString::NormalizationForm_C)
            == b.toString().normalized(QString::NormalizationForm_C);
    case JSONValue::Kind::Int:
        return a.toInt() == b.toInt();
    case JSONValue::Kind::Double:
        return std::get<double>(a.m_value) == std::get<double>(b.m_value);
    case JSONValue::Kind::Bool:
        return a.toBool() == b.toBool();
    case JSONValue::Kind::Null:
        return true;
    case JSONValue::Kind::Array:
        return a.toArray() == b.toArray();
    case JSONValue::Kind::Object:
        return a.toObject() == b.toObject();
    }
    return false;
}

size_t qHash(const JSONObject &o, size_t seed) noexcept
{
    // Order-independent: a sum of per-member hashes.
    size_t sum = 0;
    for (const auto &[k, v] : o)
        sum += combine(qHash(k.normalized(QString::NormalizationForm_C)), qHash(v));
    return combine(seed, sum);
}

size_t qHash(const JSONValue &v, size_t seed) noexcept
{
    size_t h = combine(seed, size_t(v.kind()));
    switch (v.kind()) {
    case JSONValue::Kind::String:
        return combine(h, qHash(v.toString().normalized(QString::NormalizationForm_C)));
    case JSONValue::Kind::Int:
        return combine(h, qHash(v.toInt()));
    case JSONValue::Kind::Double: {
        double d = v.toDouble();
        if (d == 0.0)
            d = 0.0; // -0.0 equals +0.0, so they must hash alike
        quint64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        return combine(h, qHash(bits));
    }
    case JSONValue::Kind::Bool:
        return combine(h, v.toBool() ? 1 : 0);
    case JSONValue::Kind::Null:
        return h;
    case JSONValue::Kind::Array: {
        h = combine(h, v.toArray().size());
        for (const auto &e : v.toArray())
            h = combine(h, qHash(e));
        return h;
    }
    case JSONValue::Kind::Object:
        return qHash(v.toObject(), h);
    }
    return h;
}

JSONObject parseJSONObject(const QByteArray &json)
{
    rapidjson::Document doc;
    json::parseDocument(doc, json);
    json::requireObject(doc);
    return JSONValue::fromJson(doc).toObject();
}

QByteArray serializeJSONObject(const JSONObject &o)
{
    JsonWriter w;
    w.startObject();
    for (const auto &[k, v] : o) {
        w.key(k);
        v.toJson(w);
    }
    w.endObject();
    return w.bytes();
}
