#include "api/api_error.h"

#include "json/json_reader.h"

#include <QTextBoundaryFinder>

namespace {

constexpr int kServerMessageLimit = 200;

QString baseMessage(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("The server rejected the request.");
    case 401:
        return QStringLiteral("Please sign in again.");
    case 403:
        return QStringLiteral("You don't have permission to do that.");
    case 404:
        return QStringLiteral("Not found.");
    case 409:
        return QStringLiteral("That conflicts with the current state.");
    case 413:
        return QStringLiteral("That's too big to upload.");
    case 415:
        return QStringLiteral("That file type isn't supported.");
    case 429:
        return QStringLiteral("Too many requests. Try again in a moment.");
    }
    // One unsigned comparison, so negative statuses fall through.
    if (unsigned(status - 500) <= 99u)
        return QStringLiteral("Server problem. Please try again.");
    return QStringLiteral("Request failed.");
}

QString firstGraphemes(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype end = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
        ++seen;
    }
    return text.left(end);
}

} // namespace

APIError::APIError(Kind kind, int status, std::optional<QString> body, QNetworkReply::NetworkError code,
                   QString detail)
    : m_kind(kind)
    , m_status(status)
    , m_body(std::move(body))
    , m_networkError(code)
    , m_detail(std::move(detail))
{
    m_what = errorDescription().toUtf8();
}

APIError APIError::http(int status, std::optional<QString> body)
{
    return APIError(Kind::Http, status, std::move(body), QNetworkReply::NoError, QString());
}

APIError APIError::network(QNetworkReply::NetworkError code, const QString &description, bool mayHaveLeft)
{
    APIError e(Kind::Network, 0, std::nullopt, code, description);
    e.m_mayHaveLeft = mayHaveLeft;
    return e;
}

APIError APIError::decoding(const QString &detail)
{
    return APIError(Kind::Decoding, 0, std::nullopt, QNetworkReply::NoError, detail);
}

APIError APIError::other(const QString &message)
{
    return APIError(Kind::Other, 0, std::nullopt, QNetworkReply::NoError, message);
}

APIError APIError::noToken()
{
    return APIError(Kind::NoToken, 0, std::nullopt, QNetworkReply::NoError, QString());
}

QString APIError::errorDescription() const
{
    switch (m_kind) {
    case Kind::Http: {
        const QString base = baseMessage(m_status);
        if (m_body) {
            if (const auto m = serverMessage(*m_body))
                return base + QStringLiteral(" (") + *m + QLatin1Char(')');
        }
        return base;
    }
    case Kind::Network:
        return m_detail.isEmpty() ? QStringLiteral("The network connection failed.") : m_detail;
    case Kind::Decoding:
        return QStringLiteral("Couldn't read the server's response.");
    case Kind::Other:
        return m_detail;
    case Kind::NoToken:
        return QStringLiteral("Not signed in.");
    }
    return QStringLiteral("Request failed.");
}

std::optional<QString> serverMessage(const QString &body)
{
    const QString trimmed = body.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString lower = trimmed.toLower();
    if (lower.startsWith(QLatin1Char('<')) || lower.contains(QLatin1String("<html")) ||
        lower.contains(QLatin1String("<!doctype")))
        return std::nullopt;

    const QByteArray utf8 = trimmed.toUtf8();
    rapidjson::Document doc;
    try {
        json::parseDocument(doc, utf8);
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    // Only an object or an array counts as a JSON error body.
    if (!doc.IsObject())
        return std::nullopt;
    const auto it = doc.FindMember("error");
    if (it == doc.MemberEnd() || !it->value.IsString() || it->value.GetStringLength() == 0)
        return std::nullopt;
    const QString error = QString::fromUtf8(it->value.GetString(), it->value.GetStringLength());
    return firstGraphemes(error, kServerMessageLimit);
}

QString APIError::messageOf(const std::exception &error)
{
    if (const auto *api = dynamic_cast<const APIError *>(&error))
        return api->errorDescription();
    return QString::fromUtf8(error.what());
}
