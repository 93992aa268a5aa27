#include "fake-service/fake_input.h"

#include <QRegularExpression>

FakeInput::FakeInput(const FakeService::Call &call)
    : m_object(call.body)
    , m_request(&call.request)
{
}

FakeInput::FakeInput(const JSONObject &object, const QString &context)
    : m_object(object)
    , m_context(context)
{
}

bool FakeInput::has(const QString &key) const
{
    return m_object.count(key) != 0;
}

bool FakeInput::isNull(const QString &key) const
{
    const auto it = m_object.find(key);
    return it != m_object.end() && it->second.isNull();
}

const JSONValue *FakeInput::value(const QString &key, Kind kind, bool required)
{
    const auto it = m_object.find(key);
    if (it == m_object.end() || it->second.isNull()) {
        if (required)
            fail(name(key) + QStringLiteral(" is required"));
        return nullptr;
    }
    const JSONValue &v = it->second;
    const char *expected = nullptr;
    switch (kind) {
    case Kind::Integer:
        expected = v.isInt() ? nullptr : "an integer";
        break;
    case Kind::String:
        expected = v.isString() ? nullptr : "a string";
        break;
    case Kind::Boolean:
        expected = v.isBool() ? nullptr : "a boolean";
        break;
    case Kind::Object:
        expected = v.isObject() ? nullptr : "an object";
        break;
    case Kind::Array:
        expected = v.isArray() ? nullptr : "an array";
        break;
    }
    if (expected) {
        fail(name(key) + QStringLiteral(" must be ") + QLatin1String(expected));
        return nullptr;
    }
    return &it->second;
}

QString FakeInput::name(const QString &key) const
{
    return m_context.isEmpty() ? key : m_context + QLatin1Char('.') + key;
}

qint64 FakeInput::id(const QString &key)
{
    const std::optional<qint64> v = optId(key);
    if (!v && !failed())
        fail(name(key) + QStringLiteral(" is required"));
    return v.value_or(0);
}

std::optional<qint64> FakeInput::optId(const QString &key)
{
    const std::optional<qint64> v = optInteger(key);
    if (v && *v <= 0) {
        fail(name(key) + QStringLiteral(" must be a positive integer"));
        return std::nullopt;
    }
    return v;
}

qint64 FakeInput::integer(const QString &key)
{
    const JSONValue *v = value(key, Kind::Integer, true);
    return v ? v->toInt() : 0;
}

std::optional<qint64> FakeInput::optInteger(const QString &key)
{
    const JSONValue *v = value(key, Kind::Integer, false);
    return v ? std::optional<qint64>(v->toInt()) : std::nullopt;
}

QString FakeInput::string(const QString &key)
{
    const JSONValue *v = value(key, Kind::String, true);
    return v ? v->toString() : QString();
}

std::optional<QString> FakeInput::optString(const QString &key)
{
    const JSONValue *v = value(key, Kind::String, false);
    return v ? std::optional<QString>(v->toString()) : std::nullopt;
}

bool FakeInput::boolean(const QString &key)
{
    const JSONValue *v = value(key, Kind::Boolean, true);
    return v && v->toBool();
}

std::optional<bool> FakeInput::optBoolean(const QString &key)
{
    const JSONValue *v = value(key, Kind::Boolean, false);
    return v ? std::optional<bool>(v->toBool()) : std::nullopt;
}

JSONObject FakeInput::object(const QString &key)
{
    const JSONValue *v = value(key, Kind::Object, true);
    return v ? v->toObject() : JSONObject();
}

std::optional<JSONObject> FakeInput::optObject(const QString &key)
{
    const JSONValue *v = value(key, Kind::Object, false);
    return v ? std::optional<JSONObject>(v->toObject()) : std::nullopt;
}

JSONArray FakeInput::array(const QString &key)
{
    const JSONValue *v = value(key, Kind::Array, true);
    return v ? v->toArray() : JSONArray();
}

std::optional<JSONArray> FakeInput::optArray(const QString &key)
{
    const JSONValue *v = value(key, Kind::Array, false);
    return v ? std::optional<JSONArray>(v->toArray()) : std::nullopt;
}

qint64 FakeInput::queryId(const QString &name)
{
    const std::optional<qint64> v = optQueryId(name);
    if (!v && !failed())
        fail(name + QStringLiteral(" is required"));
    return v.value_or(0);
}

std::optional<qint64> FakeInput::optQueryId(const QString &name)
{
    const std::optional<QString> text = queryText(name);
    if (!text)
        return std::nullopt;
    // Plain decimal only: a client that writes "042", "+4" or "4.0" has a bug worth seeing.
    static const QRegularExpression decimal(QStringLiteral("^[1-9][0-9]{0,18}$"));
    bool ok = false;
    const qint64 v = decimal.match(*text).hasMatch() ? text->toLongLong(&ok) : 0;
    if (!ok) {
        fail(name + QStringLiteral(" must be a positive integer"));
        return std::nullopt;
    }
    return v;
}

bool FakeInput::queryFlag(const QString &name) const
{
    return queryText(name) == QStringLiteral("1");
}

std::optional<QString> FakeInput::queryText(const QString &name) const
{
    return m_request ? m_request->queryValue(name) : std::nullopt;
}

void FakeInput::fail(const QString &message)
{
    if (m_problem.isEmpty())
        m_problem = message;
}

HttpResponse FakeInput::failure() const
{
    return FakeService::error(400, m_problem);
}
