#pragma once

#include "fake-service/fake_service.h"

#include <QNetworkAccessManager>

// Raw JSON calls to a FakeService over loopback, for tests that check the service's own answers
// (the app's calls go through ServiceClient instead).
class FakeHttpClient
{
public:
    struct Reply {
        int status = 0; // 0 when no HTTP answer came
        QByteArray body;
        JSONValue json; // null when the body is not JSON

        QString error() const { return json[QStringLiteral("error")].toString(); }
        const JSONValue &operator[](const QString &key) const { return json[key]; }
    };

    explicit FakeHttpClient(const FakeService &service);

    Reply call(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QString &token = {});
    Reply get(const QString &path, const QString &token) { return call("GET", path, {}, token); }
    Reply post(const QString &path, const QByteArray &body, const QString &token)
    {
        return call("POST", path, body, token);
    }
    Reply patch(const QString &path, const QByteArray &body, const QString &token)
    {
        return call("PATCH", path, body, token);
    }
    Reply del(const QString &path, const QString &token) { return call("DELETE", path, {}, token); }

private:
    QString m_origin;
    QNetworkAccessManager m_nam;
};
