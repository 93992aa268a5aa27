#include "api/session_store.h"

#include "api/api_error.h"

#include "platform/diag.h"
#include "platform/secret_store.h"
#include "platform/settings.h"

#include <QCoroTask>

#include <limits>

namespace {

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QCoro::Task<> warnUnlessSaved(QCoro::Task<bool> write)
{
    const bool saved = co_await write;
    if (!saved)
        diag(QString::fromUtf8(SessionStore::kTokenNotSavedLine));
}

} // namespace

QStringList SessionStore::keychainAccounts()
{
    return {key(keychainKey), key(userIDKey)};
}

SessionStore::SessionStore(SecretStore &secrets, Settings &settings, QObject *parent)
    : QObject(parent)
    , m_secrets(secrets)
    , m_settings(settings)
{
}

std::optional<qint64> SessionStore::parseUserID(const QString &text)
{
    qsizetype at = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+')))
        at = 1;
    if (at == text.size())
        return std::nullopt;
    // Accumulated downwards, so the most negative value fits too.
    qint64 value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text.at(at).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_sub_overflow(value, qint64(c - u'0'), &value))
            return std::nullopt;
    }
    if (negative)
        return value;
    if (value == std::numeric_limits<qint64>::min())
        return std::nullopt;
    return -value;
}

void SessionStore::requireUsableToken(const QString &token)
{
    if (token.contains(QLatin1Char('\r')) || token.contains(QLatin1Char('\n')) || token.contains(QChar(0)))
        throw APIError::other(QString::fromUtf8(kUnusableTokenText));
}

void SessionStore::signIn(const QString &token, const AuthUser &user)
{
    requireUsableToken(token);
    // Stored before it is published: the screens that open on the new token read it from the keyring.
    warnUnlessSaved(m_secrets.keychainWrite(key(keychainKey), token));
    // A refused id is not fatal: restore falls back to the settings.
    m_secrets.keychainWrite(key(userIDKey), QString::number(user.id));

    m_settings.setInteger(key(userIDKey), user.id);
    m_settings.setString(key(userNameKey), user.name);
    m_settings.setString(key(userEmailKey), user.email);

    setUserID(user.id);
    setUserName(user.name);
    setUserEmail(user.email);
    setToken(token);
}

void SessionStore::restoreSession()
{
    std::optional<QString> token = m_secrets.keychainRead(key(keychainKey));
    bool unusable = false;
    if (token) {
        try {
            requireUsableToken(*token);
        } catch (const APIError &) {
            diag(QString::fromUtf8(kUnusableStoredTokenLine));
            unusable = true;
        }
    }
    if (unusable) {
        signOut();
        return;
    }
    setToken(std::move(token));

    std::optional<qint64> id;
    if (const auto text = m_secrets.keychainRead(key(userIDKey)))
        id = parseUserID(*text);
    if (!id)
        id = m_settings.integer(key(userIDKey));
    setUserID(id);

    setUserName(m_settings.string(key(userNameKey)));
    setUserEmail(m_settings.string(key(userEmailKey)));

    if (m_token && !m_userID)
        signOut();
}

void SessionStore::signOut()
{
    setToken(std::nullopt);
    setUserID(std::nullopt);
    setUserName(std::nullopt);
    setUserEmail(std::nullopt);

    m_secrets.keychainDelete(key(keychainKey));
    m_secrets.keychainDelete(key(userIDKey));

    m_settings.remove(key(userIDKey));
    m_settings.remove(key(userNameKey));
    m_settings.remove(key(userEmailKey));
}

void SessionStore::setToken(std::optional<QString> token)
{
    m_token = std::move(token);
    Q_EMIT tokenChanged();
}

void SessionStore::setUserID(std::optional<qint64> id)
{
    m_userID = id;
    Q_EMIT userIDChanged();
}

void SessionStore::setUserName(std::optional<QString> name)
{
    m_userName = std::move(name);
    Q_EMIT userNameChanged();
}

void SessionStore::setUserEmail(std::optional<QString> email)
{
    m_userEmail = std::move(email);
    Q_EMIT userEmailChanged();
}
