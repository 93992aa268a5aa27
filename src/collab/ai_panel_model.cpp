#include "collab/ai_panel_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "collab/error_message.h"
#include "platform/clipboard.h"

#include <QPointer>

#include <algorithm>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

const std::array<AIPanelModel::Action, 6> &AIPanelModel::actions()
{
    static const std::array<Action, 6> list{{
        {"ask", "Ask", "questionmark.bubble", "Anything about this page"},
        {"summarize", "Summarize", "text.append", "3-6 bullet summary"},
        {"continue", "Continue", "arrow.right.to.line", "Add 1-2 paragraphs in your voice"},
        {"improve", "Improve", "wand.and.stars", "Rewrite pasted text for clarity"},
        {"outline", "Outline", "list.bullet.indent", "Turn notes into a structured outline"},
        {"translate", "Translate", "character.bubble", "Pick a target language"},
    }};
    return list;
}

const QStringList &AIPanelModel::languages()
{
    static const QStringList list{
        QStringLiteral("Spanish"),  QStringLiteral("French"),     QStringLiteral("German"),
        QStringLiteral("Italian"),  QStringLiteral("Portuguese"), QStringLiteral("Chinese"),
        QStringLiteral("Japanese"), QStringLiteral("Korean"),     QStringLiteral("Arabic"),
        QStringLiteral("Russian"),  QStringLiteral("Hindi"),      QStringLiteral("Dutch"),
        QStringLiteral("Polish"),   QStringLiteral("Turkish"),    QStringLiteral("English")};
    return list;
}

AIPanelModel::AIPanelModel(ServiceClient &client, std::function<qint64()> pageServerID, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_pageServerID(std::move(pageServerID))
{
}

void AIPanelModel::setAction(const QString &id)
{
    if (m_action == id)
        return;
    m_action = id;
    Q_EMIT changed();
}

void AIPanelModel::setPrompt(const QString &text)
{
    if (m_prompt == text)
        return;
    m_prompt = text;
    Q_EMIT changed();
}

void AIPanelModel::setTranslateLang(const QString &language)
{
    if (m_translateLang == language)
        return;
    m_translateLang = language;
    Q_EMIT changed();
}

bool AIPanelModel::showsPrompt() const
{
    return m_action == QLatin1String(kAsk) || m_action == QLatin1String(kImprove);
}

QString AIPanelModel::promptPlaceholder() const
{
    return m_action == QLatin1String(kImprove) ? QStringLiteral("Paste the text you want improved")
                                               : QStringLiteral("What do you want to know about this page?");
}

bool AIPanelModel::canRun() const
{
    if (m_loading)
        return false;
    return !showsPrompt() || !std::all_of(m_prompt.cbegin(), m_prompt.cend(), isBlank);
}

std::optional<QString> AIPanelModel::badgeText() const
{
    if (!m_remaining)
        return std::nullopt;
    return QString::number(*m_remaining) + QStringLiteral(" left today");
}

AIReq AIPanelModel::request(const QString &action, const QString &prompt, const QString &language,
                            qint64 pageServerID)
{
    AIReq body;
    body.action = action;
    if (pageServerID != 0)
        body.page_id = pageServerID;
    if (action == QLatin1String(kImprove))
        body.text = prompt;
    if (action == QLatin1String(kAsk))
        body.prompt = prompt;
    if (action == QLatin1String(kTranslate))
        body.target_lang = language;
    return body;
}

void AIPanelModel::applySeedPrompt(const std::optional<QString> &seed)
{
    if (seed && !seed->isEmpty()) {
        m_action = QString::fromLatin1(kAsk);
        m_prompt = *seed;
    }
    m_result.clear();
    m_error.reset();
    m_loading = false;
    Q_EMIT changed();
}

QCoro::Task<> AIPanelModel::run()
{
    if (!canRun() || !m_client.isSignedIn())
        co_return;
    m_loading = true;
    m_error.reset();
    m_result.clear();
    Q_EMIT changed();

    AIReq body = request(m_action, m_prompt, m_translateLang, m_pageServerID ? m_pageServerID() : 0);
    // The client outlives every panel; a panel closed meanwhile drops the outcome.
    QPointer<AIPanelModel> self(this);
    ServiceClient &client = m_client;
    std::optional<AIResp> reply;
    std::optional<APIError> apiFailure;
    QString otherFailure;
    try {
        reply = co_await client.runAI(std::move(body));
    } catch (const APIError &error) {
        apiFailure = error;
    } catch (const std::exception &error) {
        otherFailure = APIError::messageOf(error);
    }
    if (!self)
        co_return;
    if (reply) {
        handleResponse(*reply);
    } else if (apiFailure) {
        handleError(*apiFailure);
    } else {
        m_error = otherFailure;
        m_loading = false;
        Q_EMIT changed();
    }
}

void AIPanelModel::handleResponse(const AIResp &reply)
{
    m_result = reply.text.value_or(QString());
    m_remaining = reply.remaining_today;
    // A successful reply may carry a warning beside its text: both show.
    if (reply.error)
        m_error = *reply.error;
    m_loading = false;
    Q_EMIT changed();
}

void AIPanelModel::handleError(const std::exception &error)
{
    const auto *api = dynamic_cast<const APIError *>(&error);
    if (api && api->kind() == APIError::Kind::Http)
        m_error = errorMessage(api->body()).value_or(QString::fromLatin1(kFailed));
    else
        m_error = APIError::messageOf(error);
    m_loading = false;
    Q_EMIT changed();
}

void AIPanelModel::copyResult(Clipboard &clipboard) const
{
    clipboard.setText(m_result);
}

void AIPanelModel::clearResult()
{
    if (m_result.isEmpty())
        return;
    m_result.clear();
    Q_EMIT changed();
}
