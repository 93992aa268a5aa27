#include "collab/suggestions_panel_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "store/sync_engine.h"

#include <algorithm>

namespace {

struct KindLook {
    const char *kind;
    const char *label;
    const char *icon;
};

constexpr KindLook kKinds[] = {
    {"block_create", "Add block", "plus.rectangle"},
    {"block_update", "Edit block", "pencil"},
    {"block_delete", "Delete block", "minus.rectangle"},
    {"title_change", "Change title", "textformat"},
};
constexpr const char *kUnknownKindIcon = "questionmark.circle";

const KindLook *lookOf(const QString &kind)
{
    for (const KindLook &look : kKinds) {
        if (kind == QLatin1String(look.kind))
            return &look;
    }
    return nullptr;
}

QString describe(const std::exception &error)
{
    if (const auto *api = dynamic_cast<const APIError *>(&error))
        return api->errorDescription();
    return APIError::messageOf(error);
}

} // namespace

SuggestionsPanelModel::SuggestionsPanelModel(ServiceClient &client, SyncEngine *engine,
                                             std::function<qint64()> pageServerID, QObject *parent)
    : QObject(parent)
    , m_client(&client)
    , m_engine(engine)
    , m_pageServerID(std::move(pageServerID))
{
}

QString SuggestionsPanelModel::kindLabel(const QString &kind)
{
    const KindLook *look = lookOf(kind);
    return look ? QString::fromUtf8(look->label) : kind;
}

QString SuggestionsPanelModel::kindIcon(const QString &kind)
{
    const KindLook *look = lookOf(kind);
    return QString::fromLatin1(look ? look->icon : kUnknownKindIcon);
}

QString SuggestionsPanelModel::author(const SuggestionDTO &suggestion)
{
    return suggestion.user_name.value_or(QString::fromUtf8(kSomeone));
}

QString SuggestionsPanelModel::date(const SuggestionDTO &suggestion)
{
    return suggestion.created_at.left(16);
}

std::optional<QString> SuggestionsPanelModel::payloadPreview(const SuggestionDTO &suggestion)
{
    if (!suggestion.payload)
        return std::nullopt;
    const JSONObject &payload = *suggestion.payload;
    const auto member = [&payload](const char *key) -> const JSONValue * {
        const auto it = payload.find(QString::fromLatin1(key));
        return it == payload.end() ? nullptr : &it->second;
    };
    if (const JSONValue *title = member("title"); title && title->isString())
        return title->toString();
    if (const JSONValue *content = member("content"); content && content->isObject()) {
        const JSONObject &object = content->toObject();
        const auto text = object.find(QStringLiteral("text"));
        if (text != object.end() && text->second.isString())
            return text->second.toString();
    }
    if (const JSONValue *text = member("text"); text && text->isString())
        return text->toString();
    return std::nullopt;
}

QCoro::Task<> SuggestionsPanelModel::loadSuggestions()
{
    const qint64 page = m_pageServerID ? m_pageServerID() : 0;
    if (!m_client || !m_client->isSignedIn() || page == 0) {
        m_loading = false;
        Q_EMIT changed();
        co_return;
    }
    m_loading = true;
    Q_EMIT changed();

    QPointer<SuggestionsPanelModel> self(this);
    std::optional<SuggestionsResp> reply;
    std::optional<QString> failure;
    try {
        reply = co_await m_client->listSuggestions(page);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    if (reply) {
        m_items.clear();
        for (SuggestionDTO &suggestion : reply->suggestions) {
            if (suggestion.status == QLatin1String(kPending))
                m_items.push_back(std::move(suggestion));
        }
        ++m_listVersion;
    } else {
        m_error = failure;
    }
    m_loading = false;
    Q_EMIT changed();
}

QCoro::Task<> SuggestionsPanelModel::decide(const SuggestionDTO &suggestion, bool accept)
{
    if (!m_client || !m_client->isSignedIn())
        return []() -> QCoro::Task<> { co_return; }();
    m_actingID = suggestion.id;
    Q_EMIT changed();
    const qint64 pageServerID = m_pageServerID ? m_pageServerID() : suggestion.page_id;
    return runDecision(this, m_client, m_engine, suggestion.id, accept, pageServerID);
}

QCoro::Task<> SuggestionsPanelModel::runDecision(QPointer<SuggestionsPanelModel> self,
                                                 QPointer<ServiceClient> client, QPointer<SyncEngine> engine,
                                                 qint64 id, bool accept, qint64 pageServerID)
{
    // Built before the await: GCC 12 frees a temporary of a co_await expression twice when the
    // awaited call throws.
    SuggestionDecideReq body{id, QString::fromLatin1(accept ? kAccepted : kRejected)};
    std::optional<QString> failure;
    // An edit of the page still on its way would land over the accepted change.
    if (accept && engine && !co_await engine->sendPageEditsFirst(pageServerID))
        failure = QString::fromLatin1(kEditsWaiting);
    if (!failure) {
        try {
            if (!client)
                throw std::exception(); // quitting meanwhile
            co_await client->decideSuggestion(std::move(body));
        } catch (const std::exception &error) {
            failure = describe(error);
        }
    }
    if (!failure && accept && engine)
        engine->dropRefusedPageEdits(pageServerID);
    if (!failure && self) {
        // The card goes before the sync starts.
        std::erase_if(self->m_items, [id](const SuggestionDTO &s) { return s.id == id; });
        ++self->m_listVersion;
        Q_EMIT self->changed();
    }
    // The service has applied the change: the sync brings it into the page, even with the panel gone.
    if (!failure && accept)
        co_await SyncEngine::syncQuietly(engine);
    if (self)
        self->decisionEnded(failure);
}

void SuggestionsPanelModel::decisionEnded(const std::optional<QString> &failure)
{
    if (failure)
        m_error = failure;
    m_actingID.reset();
    Q_EMIT changed();
}
