#pragma once

#include "support/fake_route_fixture.h"

#include <QStringList>
#include <QTest>

// The fake's content routes as Ann's second device sees them: her laptop pulls what her other calls
// changed. A test class starts it in init() and stops it in cleanup().
class ContentRouteFixture : protected FakeRouteFixture
{
protected:
    void startWithLaptop()
    {
        startService();
        m_annLaptop = m_fake->issueToken(m_ann.userId, QStringLiteral("laptop"));
        QVERIFY(!m_annLaptop.isEmpty());
    }

    qint64 newFolder(const FakeService::Account &owner, const QByteArray &name)
    {
        const FakeHttpClient::Reply r =
            m_http->post(QStringLiteral("/api/folders.php"),
                         R"({"workspace_id":)" + QByteArray::number(owner.workspaceId) + R"(,"name":")" +
                             name + R"(","icon":""})",
                         owner.token);
        return r[QStringLiteral("folder")][QStringLiteral("id")].toInt();
    }

    // PATCH /api/pages.php with these fields besides page_id.
    FakeHttpClient::Reply patchPage(qint64 pageId, const QByteArray &fields, const QString &token)
    {
        return m_http->patch(QStringLiteral("/api/pages.php"),
                             R"({"page_id":)" + QByteArray::number(pageId) + "," + fields + "}", token);
    }

    JSONArray pull(const QString &token, qint64 since, qint64 *serverTs = nullptr, bool *capped = nullptr)
    {
        const FakeHttpClient::Reply r = m_http->post(
            QStringLiteral("/api/sync.php"), R"({"since_ts":)" + QByteArray::number(since) + "}", token);
        if (r.status != 200)
            qWarning("pull: %d %s", r.status, r.body.constData());
        if (serverTs)
            *serverTs = r[QStringLiteral("server_ts")].toInt();
        if (capped)
            *capped = r[QStringLiteral("capped")].toBool();
        return r[QStringLiteral("ops")].toArray();
    }

    // "entity op" for each entry Ann's laptop pulls.
    QStringList loggedSince(qint64 since)
    {
        QStringList logged;
        for (const JSONValue &op : pull(m_annLaptop, since))
            logged.append(op[QStringLiteral("entity_type")].toString() + QLatin1Char(' ') +
                          op[QStringLiteral("op")].toString());
        return logged;
    }

    qint64 lastTs() const { return m_fake->state().lastServerTs; }

    static QStringList titlesOf(const JSONArray &pages)
    {
        QStringList titles;
        for (const JSONValue &p : pages)
            titles.append(p[QStringLiteral("title")].toString());
        return titles;
    }

    QString m_annLaptop; // a second device signed in to Ann's account
};
