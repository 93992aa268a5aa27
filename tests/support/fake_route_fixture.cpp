#include "support/fake_route_fixture.h"

#include <QTest>

void FakeRouteFixture::startService()
{
    m_fake = std::make_unique<FakeService>();
    QVERIFY(m_fake->start());
    m_http = std::make_unique<FakeHttpClient>(*m_fake);
    m_ann = m_fake->createAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"),
                                  QStringLiteral("Ann"));
    // Stored as typed, so tests can see an address matched whatever its case.
    m_bob = m_fake->createAccount(QStringLiteral("Bob@Example.com"), QStringLiteral("secret2"),
                                  QStringLiteral("Bob"));
    QVERIFY(m_ann.userId && m_bob.userId);
}

void FakeRouteFixture::stopService()
{
    m_http.reset();
    m_fake.reset();
}

qint64 FakeRouteFixture::newPage(const FakeService::Account &owner, const QString &title, qint64 parentId)
{
    QByteArray body = R"({"workspace_id":)" + QByteArray::number(owner.workspaceId) + R"(,"title":")" +
                      title.toUtf8() + R"(","icon":"","position":0)";
    if (parentId)
        body += R"(,"parent_page_id":)" + QByteArray::number(parentId);
    const FakeHttpClient::Reply r = m_http->post(QStringLiteral("/api/pages.php"), body + "}", owner.token);
    if (r.status != 200)
        qWarning("page create: %d %s", r.status, r.body.constData());
    return r[QStringLiteral("page")][QStringLiteral("id")].toInt();
}

JSONArray FakeRouteFixture::upsert(const QString &token, qint64 pageId, const QByteArray &items)
{
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/api/blocks.php"),
                     R"({"page_id":)" + QByteArray::number(pageId) + R"(,"blocks":[)" + items + "]}", token);
    if (r.status != 200)
        qWarning("block upsert: %d %s", r.status, r.body.constData());
    return r[QStringLiteral("blocks")].toArray();
}

JSONValue FakeRouteFixture::json(const QByteArray &text)
{
    return JSONValue::parse(text);
}
