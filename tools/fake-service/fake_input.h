#pragma once

#include "fake-service/fake_service.h"

#include "json/json_value.h"

#include <optional>

// Reads the members of a request body (or of one object inside it) and the query the way the service
// validates them: the first problem met is kept and answered as 400 {"error": ...}, so a handler reads
// everything it needs and checks failed() once.
class FakeInput
{
public:
    explicit FakeInput(const FakeService::Call &call);
    // An object nested in a body, such as one item of a list; context names it in messages.
    FakeInput(const JSONObject &object, const QString &context);

    bool has(const QString &key) const; // present, even as null
    bool isNull(const QString &key) const;

    qint64 id(const QString &key); // a positive integer
    std::optional<qint64> optId(const QString &key);
    qint64 integer(const QString &key);
    std::optional<qint64> optInteger(const QString &key);
    QString string(const QString &key);
    std::optional<QString> optString(const QString &key);
    bool boolean(const QString &key);
    std::optional<bool> optBoolean(const QString &key);
    JSONObject object(const QString &key);
    std::optional<JSONObject> optObject(const QString &key);
    JSONArray array(const QString &key);
    std::optional<JSONArray> optArray(const QString &key);

    // Query values: ids in plain decimal, flags as "1".
    qint64 queryId(const QString &name);
    std::optional<qint64> optQueryId(const QString &name);
    bool queryFlag(const QString &name) const;
    std::optional<QString> queryText(const QString &name) const;

    void fail(const QString &message); // a problem the handler found itself; the first one wins
    bool failed() const { return !m_problem.isEmpty(); }
    HttpResponse failure() const;

private:
    enum class Kind { Integer, String, Boolean, Object, Array };

    const JSONValue *value(const QString &key, Kind kind, bool required);
    QString name(const QString &key) const;

    const JSONObject &m_object;
    const HttpRequest *m_request = nullptr;
    QString m_context;
    QString m_problem;
};
