#pragma once

#include "ui/app_context.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

// The state and rules of the sign-in screen, without the widgets: the mode, the typed values, the
// busy flag and the error line, and the one action that sends them.
class AuthForm : public QObject
{
    Q_OBJECT
public:
    enum class Mode { login, signup };

    static constexpr const char *kDeviceLabel = "Mac";
    static constexpr const char *kFallbackError = "Sign-in failed";

    explicit AuthForm(const AppContext &context, QObject *parent = nullptr);

    Mode mode() const { return m_mode; }
    const QString &email() const { return m_email; }
    const QString &password() const { return m_password; }
    const QString &name() const { return m_name; }
    bool loading() const { return m_loading; }
    const std::optional<QString> &error() const { return m_error; }

    // Switching the mode keeps the typed values, the error and a request in flight.
    void setMode(Mode mode);
    void setEmail(const QString &email);
    void setPassword(const QString &password);
    void setName(const QString &name);

    // Disabled while busy, or while a required field holds no characters at all (spaces count).
    bool isSubmitDisabled() const;

    static QString subtitle(Mode mode);
    static QString buttonLabel(Mode mode);
    static bool showsNameField(Mode mode) { return mode == Mode::signup; }
    static bool showsForgotPassword(Mode mode) { return mode == Mode::login; }
    // "/forgot.php" on the service's origin, and the origin's host name for the caption.
    QUrl forgotPasswordURL() const;
    QString serviceHost() const;

    void openForgotPassword();
    // Sends the form as typed, in the current mode; does nothing while the button is disabled. On
    // success the session is stored, then the sync engine started; on failure the error line is set
    // and nothing else changes.
    void submit();

    // The error line for a failed request: the service's own "error" text for an HTTP refusal (else
    // "Sign-in failed"), or the error's user message.
    static QString failureMessage(const std::exception_ptr &error);

Q_SIGNALS:
    void changed();
    // A request ended, either way.
    void submitFinished();

private:
    static QCoro::Task<> run(QPointer<AuthForm> form, AppContext context, Mode mode, QString email,
                             QString password, QString name);
    void finish(std::optional<QString> error);

    AppContext m_context;
    Mode m_mode = Mode::login;
    QString m_email;
    QString m_password;
    QString m_name;
    bool m_loading = false;
    std::optional<QString> m_error;
};
