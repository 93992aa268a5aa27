#include "store/database_row_updates.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "api/wire/databases.h"

DatabaseRowUpdates::DatabaseRowUpdates(QObject *parent)
    : QObject(parent)
{
}

void DatabaseRowUpdates::send(Update update)
{
    if (const auto out = m_state->out.find(update.rowId); out != m_state->out.end()) {
        out->waiting = std::move(update);
        return;
    }
    m_state->out.insert(update.rowId, RowOut{update.databaseId, {}, std::nullopt});
    run(this, m_state, std::move(update));
}

bool DatabaseRowUpdates::isWaiting(qint64 rowId) const
{
    const auto out = m_state->out.constFind(rowId);
    return out != m_state->out.cend() && out->waiting.has_value();
}

QHash<qint64, DatabaseRowUpdates::Row> DatabaseRowUpdates::rowsSince(qint64 databaseId, quint64 since) const
{
    QHash<qint64, Row> rows;
    for (auto it = m_state->saved.cbegin(); it != m_state->saved.cend(); ++it) {
        if (it->databaseId == databaseId && it->at > since)
            rows.insert(it.key(), Row{it->data, false});
    }
    for (auto it = m_state->out.cbegin(); it != m_state->out.cend(); ++it) {
        if (it->databaseId == databaseId)
            rows.insert(it.key(), Row{it->waiting ? it->waiting->data : it->sending, true});
    }
    return rows;
}

QCoro::Task<> DatabaseRowUpdates::run(QPointer<DatabaseRowUpdates> self, std::shared_ptr<State> state,
                                      Update update)
{
    const qint64 rowId = update.rowId;
    for (;;) {
        const JSONObject data = update.leaving ? update.leaving(update.data) : update.data;
        if (const auto out = state->out.find(rowId); out != state->out.end()) {
            out->databaseId = update.databaseId;
            out->sending = data;
        }
        std::optional<QString> failure;
        if (!update.client) {
            failure = APIError::noToken().errorDescription();
        } else {
            DBRowPatchReq body;
            body.row_id = rowId;
            body.data = data;
            try {
                co_await update.client->patchRow(std::move(body));
            } catch (const std::exception &error) {
                failure = APIError::messageOf(error);
            }
        }
        const quint64 at = ++state->clock;
        if (!failure)
            state->saved.insert(rowId, Saved{update.databaseId, data, at});
        // Known before anyone hears the answer: a view that sends from its handler starts anew.
        const auto out = state->out.find(rowId);
        const bool more = out != state->out.end() && out->waiting;
        if (!more)
            state->out.remove(rowId);
        if (update.answered)
            update.answered(data, failure);
        if (self)
            Q_EMIT self->answered(update.databaseId, rowId, data, failure.value_or(QString()));
        if (!more)
            co_return;
        const auto next = state->out.find(rowId);
        if (next == state->out.end())
            co_return;
        if (!next->waiting) {
            state->out.erase(next);
            co_return;
        }
        update = std::move(*next->waiting);
        next->waiting.reset();
    }
}
