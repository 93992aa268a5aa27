#include "app/auth_form.h"

#include "api/service_client.h"
#include "api/session_store.h"
#include "app/local_data_owner.h"
#include "collab/error_message.h"
#include "platform/url_opener.h"
#include "store/sync_engine.h"

namespace {

const QString kForgotPasswordPath = QStringLiteral("/forgot.php");

} // namespace

AuthForm::AuthForm(const AppContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
}

void AuthForm::setMode(Mode mode)
{
    m_mode = mode;
    Q_EMIT changed();
}

void AuthForm::setEmail(const QString &email)
{
    m_email = email;
    Q_EMIT changed();
}

void AuthForm::setPassword(const QString &password)
{
    m_password = password;
    Q_EMIT changed();
}

void AuthForm::setName(const QString &name)
{
    m_name = name;
    Q_EMIT changed();
}

bool AuthForm::isSubmitDisabled() const
{
    return m_loading || m_email.isEmpty() || m_password.isEmpty() ||
           (m_mode == Mode::signup && m_name.isEmpty());
}

QString AuthForm::subtitle(Mode mode)
{
    return mode == Mode::login ? QStringLiteral("Welcome back") : QStringLiteral("Create your account");
}

QString AuthForm::buttonLabel(Mode mode)
{
    return mode == Mode::login ? QStringLiteral("Log in") : QStringLiteral("Create account");
}

QUrl AuthForm::forgotPasswordURL() const
{
    return m_context.client->pageURL(kForgotPasswordPath);
}

QString AuthForm::serviceHost() const
{
    return m_context.client->origin().host();
}

void AuthForm::openForgotPassword()
{
    if (m_context.urlOpener)
        m_context.urlOpener->openUrl(forgotPasswordURL());
}

void AuthForm::submit()
{
    // Return in a field calls this whatever the button shows: a second request must never start.
    if (isSubmitDisabled())
        return;
    m_loading = true;
    m_error.reset();
    Q_EMIT changed();
    run(QPointer<AuthForm>(this), m_context, m_mode, m_email, m_password, m_name);
}

QCoro::Task<> AuthForm::run(QPointer<AuthForm> form, AppContext context, Mode mode, QString email,
                            QString password, QString name)
{
    std::optional<QString> failure;
    try {
        // Bodies are built as named values first: GCC 12 destroys temporaries made inside a co_await
        // operand twice.
        const QString device = QString::fromLatin1(kDeviceLabel);
        AuthResp reply;
        if (mode == Mode::signup) {
            AuthSignupReq body{email, password, name, device};
            reply = co_await context.client->signup(std::move(body));
        } else {
            AuthLoginReq body{email, password, device};
            reply = co_await context.client->login(std::move(body));
        }
        // Checked before the local data changes hands: a token that cannot be sent changes nothing.
        SessionStore::requireUsableToken(reply.token);
        if (context.settings && context.store)
            LocalDataOwner(*context.settings, *context.store, context.syncEngine).claim(reply.user.id);
        context.session->signIn(reply.token, reply.user);
        if (context.syncEngine)
            context.syncEngine->start();
    } catch (...) {
        failure = failureMessage(std::current_exception());
    }
    if (form)
        form->finish(std::move(failure));
}

void AuthForm::finish(std::optional<QString> error)
{
    m_error = std::move(error);
    m_loading = false;
    Q_EMIT changed();
    Q_EMIT submitFinished();
}

QString AuthForm::failureMessage(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const APIError &e) {
        if (e.kind() == APIError::Kind::Http)
            return errorMessage(e.body()).value_or(QString::fromLatin1(kFallbackError));
        return e.errorDescription();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QString::fromLatin1(kFallbackError);
    }
}
