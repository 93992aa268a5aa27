#pragma once

#include "api/wire/auth.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class SecretStore;
class Settings;

// The signed-in session: token and user id in the secret store, id, name and e-mail in the
// settings. Views observe the change signals; present `token` means signed in.
class SessionStore : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *keychainKey = "penroost.notes.token";
    static constexpr const char *userIDKey = "penroost.notes.userID"; // secret account and settings key
    static constexpr const char *userNameKey = "penroost.notes.userName";
    static constexpr const char *userEmailKey = "penroost.notes.userEmail";
    static constexpr const char *kTokenNotSavedLine =
        "⚠️ SessionStore: token not saved to Keychain — session will not survive relaunch";

    // The secret accounts to load at start-up, before restoreSession().
    static QStringList keychainAccounts();

    // Reads nothing yet: restoreSession() does.
    SessionStore(SecretStore &secrets, Settings &settings, QObject *parent = nullptr);

    const std::optional<QString> &token() const { return m_token; }
    const std::optional<qint64> &userID() const { return m_userID; }
    const std::optional<QString> &userName() const { return m_userName; }
    const std::optional<QString> &userEmail() const { return m_userEmail; }

    static constexpr const char *kUnusableTokenText =
        "The service sent a sign-in token that cannot be used. Please try again.";
    static constexpr const char *kUnusableStoredTokenLine =
        "SessionStore: the stored token holds a line break and was not used; please sign in again";
    // Throws APIError (kUnusableTokenText) for a token holding CR, LF or NUL: sent in a header, it
    // would split the request.
    static void requireUsableToken(const QString &token);

    // Stores a fresh session. A token the keyring refuses prints a warning and the session
    // lasts for this run only. An unusable token throws (requireUsableToken) and stores nothing.
    void signIn(const QString &token, const AuthUser &user);
    // A token without a usable user id, or holding a line break, ends the session and clears what was
    // stored.
    void restoreSession();
    void signOut();

    // The stored id text when the whole text is a decimal integer with an optional sign that fits
    // in 64 signed bits (leading zeros allowed); nothing otherwise.
    static std::optional<qint64> parseUserID(const QString &text);

Q_SIGNALS:
    // Each assignment notifies, changed or not.
    void tokenChanged();
    void userIDChanged();
    void userNameChanged();
    void userEmailChanged();

private:
    void setToken(std::optional<QString> token);
    void setUserID(std::optional<qint64> id);
    void setUserName(std::optional<QString> name);
    void setUserEmail(std::optional<QString> email);

    SecretStore &m_secrets;
    Settings &m_settings;
    std::optional<QString> m_token;
    std::optional<qint64> m_userID;
    std::optional<QString> m_userName;
    std::optional<QString> m_userEmail;
};
