#pragma once

#include <QByteArray>
#include <QString>

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <variant>
#include <vector>

class JsonWriter;
class JSONValue;

// A JSON object used as a whole (block content, pulled payloads, database rows).
using JSONObject = std::map<QString, JSONValue>;
using JSONArray = std::vector<JSONValue>;

// One arbitrary JSON value. Numbers split into Int and Double by value: a whole number
// that fits in 64 signed bits is an Int however it was written (1, 1.0, 1e3).
class JSONValue
{
public:
    enum class Kind { String, Int, Double, Bool, Null, Array, Object };

    JSONValue() : m_value(std::monostate{}) {}
    JSONValue(std::nullptr_t) : m_value(std::monostate{}) {}
    JSONValue(const QString &s) : m_value(s) {}
    JSONValue(const char *s) : m_value(QString::fromUtf8(s)) {}
    JSONValue(qint64 i) : m_value(i) {}
    JSONValue(int i) : m_value(qint64(i)) {}
    JSONValue(double d) : m_value(d) {}
    JSONValue(bool b) : m_value(b) {}
    JSONValue(JSONArray a) : m_value(std::move(a)) {}
    JSONValue(JSONObject o) : m_value(std::move(o)) {}

    Kind kind() const { return Kind(m_value.index()); }
    bool isString() const { return kind() == Kind::String; }
    bool isInt() const { return kind() == Kind::Int; }
    bool isDouble() const { return kind() == Kind::Double; }
    bool isBool() const { return kind() == Kind::Bool; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isObject() const { return kind() == Kind::Object; }

    // Accessors return the payload, or a neutral value when the case differs.
    QString toString() const;
    qint64 toInt() const;
    double toDouble() const;
    bool toBool() const;
    const JSONArray &toArray() const;
    const JSONObject &toObject() const;

    // Member lookup on an object; null for a missing key or a non-object.
    const JSONValue &operator[](const QString &key) const;

    // Reads one value; throws DecodeError("Unknown JSON value") when no reading applies, and for a
    // value nested deeper than json::kMaxDepth.
    static JSONValue fromJson(const rapidjson::Value &v);
    // Parses a whole document (any top-level value); throws DecodeError on malformed text.
    static JSONValue parse(const QByteArray &json);

    // Writes compactly; throws EncodeError for a non-finite double or nesting deeper than json::kMaxDepth.
    void toJson(JsonWriter &w) const;
    QByteArray serialize() const;

    friend bool operator==(const JSONValue &a, const JSONValue &b);
    friend bool operator!=(const JSONValue &a, const JSONValue &b) { return !(a == b); }

private:
    static JSONValue fromJson(const rapidjson::Value &v, int depth);

    std::variant<QString, qint64, double, bool, std::monostate, JSONArray, JSONObject> m_value;
};

size_t qHash(const JSONValue &v, size_t seed = 0) noexcept;
size_t qHash(const JSONObject &o, size_t seed = 0) noexcept;

// Whole objects (block content and the like).
JSONObject parseJSONObject(const QByteArray &json); // throws DecodeError unless the top level is an object
QByteArray serializeJSONObject(const JSONObject &o); // throws EncodeError
