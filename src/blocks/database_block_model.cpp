#include "blocks/database_block_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "blocks/block_host.h"
#include "blocks/database_block.h"
#include "store/database_row_updates.h"
#include "ui/toast_center.h"

#include <algorithm>

namespace {

QString cellKey(qint64 rowId, const QString &columnId)
{
    return QString::number(rowId) + QLatin1Char(':') + columnId;
}

DBRowDTO *findRow(DatabaseDTO &database, qint64 rowId)
{
    const auto it = std::find_if(database.rows.begin(), database.rows.end(),
                                 [rowId](const DBRowDTO &row) { return row.id == rowId; });
    return it == database.rows.end() ? nullptr : &*it;
}

int rowIndex(const DatabaseDTO &database, qint64 rowId)
{
    for (size_t i = 0; i < database.rows.size(); ++i) {
        if (database.rows[i].id == rowId)
            return int(i);
    }
    return -1;
}

int columnIndex(const DatabaseDTO &database, const QString &columnId)
{
    for (size_t i = 0; i < database.columns.size(); ++i) {
        if (database.columns[i].id == columnId)
            return int(i);
    }
    return -1;
}

// A missing key reads as null.
JSONValue cellIn(const JSONObject &data, const QString &columnId)
{
    const auto it = data.find(columnId);
    return it == data.end() ? JSONValue(nullptr) : it->second;
}

// The same columns and the same rows in the same order: only values can differ.
bool sameShape(const DatabaseDTO &a, const DatabaseDTO &b)
{
    if (a.id != b.id || a.name != b.name || !(a.columns == b.columns) || a.rows.size() != b.rows.size())
        return false;
    for (size_t i = 0; i < a.rows.size(); ++i) {
        if (a.rows[i].id != b.rows[i].id)
            return false;
    }
    return true;
}

} // namespace

DatabaseBlockModel::DatabaseBlockModel(BlockHost &host, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_cellDelay(host.editDelay())
{
}

DatabaseBlockModel::~DatabaseBlockModel()
{
    flushSends();
}

qint64 DatabaseBlockModel::pageServerID() const
{
    return m_host.currentBlock().pageServerID;
}

std::optional<qint64> DatabaseBlockModel::databaseID() const
{
    return m_host.read<DatabaseBlock::Content>().databaseID;
}

QCoro::Task<> DatabaseBlockModel::load()
{
    ServiceClient *client = m_host.services().client;
    if (!client || !client->isSignedIn() || !databaseID())
        co_return;
    ++m_loadsRunning;
    const quint64 startedAt = tick();
    const quint64 since = updates().now();
    Q_EMIT stateChanged();

    QPointer<DatabaseBlockModel> self(this);
    std::optional<DatabasesResp> reply;
    QString failure;
    try {
        // A page not yet on the service is asked for as page 0, which holds nothing.
        reply = co_await client->listDatabases(pageServerID());
    } catch (const std::exception &error) {
        failure = APIError::messageOf(error);
    }
    if (!self)
        co_return;
    --m_loadsRunning;
    m_loadFailed = !reply;
    if (reply) {
        const std::optional<qint64> wanted = databaseID();
        for (DatabaseDTO &database : reply->databases) {
            if (wanted && database.id == *wanted) {
                applyLoaded(std::move(database), startedAt, since);
                break;
            }
        }
    } else {
        m_error = failure;
    }
    Q_EMIT stateChanged();
}

void DatabaseBlockModel::applyLoaded(DatabaseDTO database, quint64 startedAt, quint64 since)
{
    // A load that started before the one on show holds older rows.
    if (startedAt < m_appliedLoadStart)
        return;
    m_appliedLoadStart = startedAt;
    // The service may have answered before it took an update made in any view of the database,
    // this one's or one closed meanwhile: the row as that update has it.
    const QHash<qint64, DatabaseRowUpdates::Row> updated = updates().rowsSince(database.id, since);
    m_laidOver.clear();
    for (DBRowDTO &row : database.rows) {
        const auto it = updated.constFind(row.id);
        if (it == updated.cend()) {
            noteSaved(row.id, row.data, startedAt);
            continue;
        }
        // Until an update out is answered, the service holds the row as it answered.
        noteSaved(row.id, it->out ? row.data : it->data, startedAt);
        if (it->out)
            m_laidOver.insert(row.id);
        row.data = it->data;
    }

    // What this load may have missed: rows added and edits not yet on the service when it started.
    for (const AddedRow &added : m_added) {
        if (added.addedAt > startedAt && database.id == added.row.database_id.value_or(database.id) &&
            !findRow(database, added.row.id))
            database.rows.push_back(added.row);
    }
    for (const CellEdit &edit : std::as_const(m_edits)) {
        if (edit.settledAt && *edit.settledAt < startedAt)
            continue;
        if (DBRowDTO *row = findRow(database, edit.rowId))
            row->data[edit.columnId] = edit.value;
    }
    replaceTable(std::move(database));
    if (m_loadsRunning == 0)
        forgetSettled(startedAt);
}

void DatabaseBlockModel::replaceTable(DatabaseDTO database)
{
    const bool same = m_db && sameShape(*m_db, database);
    m_db = std::move(database);
    if (same)
        Q_EMIT valuesChanged();
    else
        Q_EMIT tableReset();
}

void DatabaseBlockModel::forgetSettled(quint64 before)
{
    for (auto it = m_edits.begin(); it != m_edits.end();) {
        if (it->settledAt && *it->settledAt < before)
            it = m_edits.erase(it);
        else
            ++it;
    }
    std::erase_if(m_added, [before](const AddedRow &added) { return added.addedAt < before; });
}

QCoro::Task<> DatabaseBlockModel::createDefault()
{
    ServiceClient *client = m_host.services().client;
    const qint64 page = pageServerID();
    if (!client || !client->isSignedIn() || page == 0 || m_creating)
        co_return;
    m_creating = true;
    // The id belongs in the block even when the view has gone by the time the reply comes.
    const BlockHost::ContentWriter writer = m_host.laterWriter();
    QPointer<DatabaseBlockModel> self(this);
    std::optional<DatabaseResp> reply;
    QString failure;
    // Built before the await: GCC 12 may destroy a temporary of a co_await expression twice.
    auto body = DatabaseBlock::defaultDatabase(page);
    try {
        reply = co_await client->createDatabase(std::move(body));
    } catch (const std::exception &error) {
        failure = APIError::messageOf(error);
    }
    if (reply) {
        const qint64 id = reply->database.id;
        writer([id](JSONObject &content) { DatabaseBlock::Content{id}.write(content); });
    }
    if (!self)
        co_return;
    m_creating = false;
    if (reply) {
        const quint64 at = tick();
        for (const DBRowDTO &row : reply->database.rows)
            noteSaved(row.id, row.data, at);
        replaceTable(std::move(reply->database));
    } else
        m_error = failure;
    Q_EMIT stateChanged();
}

QCoro::Task<> DatabaseBlockModel::addRow()
{
    ServiceClient *client = m_host.services().client;
    if (!client || !client->isSignedIn() || !m_db || m_addingRow)
        co_return;
    m_addingRow = true;
    const qint64 databaseId = m_db->id;
    DBRowCreateReq body;
    body.database_id = databaseId;
    body.position = DatabaseBlock::nextRowPosition(*m_db);

    QPointer<DatabaseBlockModel> self(this);
    std::optional<DBRowResp> reply;
    QString failure;
    try {
        reply = co_await client->createRow(std::move(body));
    } catch (const std::exception &error) {
        failure = APIError::messageOf(error);
    }
    if (!self)
        co_return;
    m_addingRow = false;
    if (!reply) {
        m_error = failure;
        Q_EMIT stateChanged();
        co_return;
    }
    if (!reply->row.database_id)
        reply->row.database_id = databaseId;
    m_added.push_back({reply->row, tick()});
    noteSaved(reply->row.id, reply->row.data, m_added.back().addedAt);
    if (!m_db || m_db->id != databaseId)
        co_return;
    const qint64 added = reply->row.id;
    // A load that finished first may list the row already.
    if (!findRow(*m_db, added)) {
        m_db->rows.push_back(std::move(reply->row));
        Q_EMIT rowAppended();
    }
    Q_EMIT rowAdded(rowIndex(*m_db, added));
}

void DatabaseBlockModel::editCell(const DBRowDTO &row, const QString &columnId, const JSONValue &value)
{
    ServiceClient *client = m_host.services().client;
    if (!client || !client->isSignedIn() || !m_db)
        return;
    JSONObject fallback = row.data;
    fallback[columnId] = value;
    if (DBRowDTO *shown = findRow(*m_db, row.id)) {
        shown->data[columnId] = value;
        const int column = columnIndex(*m_db, columnId);
        if (column >= 0)
            Q_EMIT cellChanged(rowIndex(*m_db, row.id), column);
    }

    const QString key = cellKey(row.id, columnId);
    const quint64 editedAt = tick();
    m_edits.insert(key, CellEdit{row.id, columnId, value, editedAt, std::nullopt});
    std::unique_ptr<Debouncer> &debouncer = m_cellDebouncers[key];
    if (!debouncer)
        debouncer = std::make_unique<Debouncer>(m_cellDelay);
    m_waiting.insert(key);
    debouncer->schedule([self = QPointer<DatabaseBlockModel>(this), client = QPointer<ServiceClient>(client),
                         toasts = QPointer<ToastCenter>(m_host.services().toasts), databaseId = m_db->id,
                         rowId = row.id, key, fallback = std::move(fallback)] {
        if (self)
            self->sendRowPatch(client, toasts, databaseId, rowId, key, fallback);
    });
}

bool DatabaseBlockModel::setCellText(const DBRowDTO &row, const DBColumnDTO &column, const QString &text)
{
    if (column.type != QLatin1String("number")) {
        editCell(row, column.id, text);
        return true;
    }
    const std::optional<JSONValue> number = DatabaseBlock::numberValue(text);
    if (!number)
        return false;
    editCell(row, column.id, *number);
    return true;
}

void DatabaseBlockModel::flushSends()
{
    const QList<QString> keys = m_waiting.values();
    for (const QString &key : keys) {
        const auto it = m_cellDebouncers.find(key);
        if (it != m_cellDebouncers.end())
            it->second->flush();
    }
}

int DatabaseBlockModel::pendingSends() const
{
    return int(m_waiting.size());
}

void DatabaseBlockModel::sendRowPatch(const QPointer<ServiceClient> &client,
                                      const QPointer<ToastCenter> &toasts, qint64 databaseId, qint64 rowId,
                                      const QString &key, const JSONObject &fallback)
{
    m_waiting.remove(key);
    DatabaseRowUpdates::Update update;
    update.databaseId = databaseId;
    update.rowId = rowId;
    update.data = shownRow(rowId, fallback);
    update.client = client;
    // It may wait for an update of the row that is out: it leaves with the row as shown then.
    const auto sentAt = std::make_shared<quint64>(0);
    const QPointer<DatabaseBlockModel> self(this);
    update.leaving = [self, rowId, sentAt](const JSONObject &data) {
        if (!self)
            return data;
        *sentAt = self->markSent(rowId);
        return self->shownRow(rowId, data);
    };
    update.answered = [self, toasts, rows = QPointer<DatabaseRowUpdates>(&updates()), rowId,
                       sentAt](const JSONObject &sent, const std::optional<QString> &failure) {
        if (self) {
            if (failure)
                self->notSaved(rowId, *sentAt, *failure);
            else
                self->saved(rowId, sent, *sentAt);
        } else if (failure && toasts && !(rows && rows->isWaiting(rowId))) {
            // The block has gone from the screen: the page's toast is the one place left to say so,
            // unless the next update of the row, which takes it as shown, carries the change.
            toasts->show(DatabaseBlock::notSavedMessage(*failure));
        }
    };
    updates().send(std::move(update));
}

DatabaseRowUpdates &DatabaseBlockModel::updates()
{
    // Taken once, at the first load or edit: the host's services are set by then, and the last
    // sends leave as the view goes, when the host may be going too.
    if (m_followed)
        return *m_followed;
    DatabaseRowUpdates *updates = m_host.services().databaseRows;
    if (!updates) {
        m_ownUpdates = std::make_unique<DatabaseRowUpdates>();
        updates = m_ownUpdates.get();
    }
    m_followed = updates;
    connect(updates, &DatabaseRowUpdates::answered, this, &DatabaseBlockModel::rowAnswered);
    return *updates;
}

void DatabaseBlockModel::rowAnswered(qint64 databaseId, qint64 rowId, const JSONObject &sent,
                                     const QString &failure)
{
    if (!m_db || m_db->id != databaseId)
        return;
    if (failure.isEmpty())
        noteSaved(rowId, sent, tick());
    // Another update of the row follows and takes the row as shown.
    if (!m_laidOver.contains(rowId) || updates().isOut(rowId))
        return;
    m_laidOver.remove(rowId);
    DBRowDTO *row = failure.isEmpty() ? nullptr : findRow(*m_db, rowId);
    const auto base = m_saved.constFind(rowId);
    if (!row || base == m_saved.cend())
        return;
    // The row was shown as an update from a view since closed had it, and the service did not take
    // it: back to what the service holds, but for the cells edited here.
    JSONObject restored = base->data;
    for (const CellEdit &edit : std::as_const(m_edits)) {
        if (edit.rowId != rowId)
            continue;
        if (const auto here = row->data.find(edit.columnId); here != row->data.end())
            restored[edit.columnId] = here->second;
        else
            restored.erase(edit.columnId);
    }
    std::vector<int> changed;
    for (size_t c = 0; c < m_db->columns.size(); ++c) {
        const QString &id = m_db->columns[c].id;
        if (!(cellIn(row->data, id) == cellIn(restored, id)))
            changed.push_back(int(c));
    }
    row->data = std::move(restored);
    if (changed.empty())
        return;
    const int r = rowIndex(*m_db, rowId);
    for (int c : changed) {
        Q_EMIT cellChanged(r, c);
        Q_EMIT valueRestored(r, c);
    }
    m_saveError = DatabaseBlock::notSavedMessage(failure);
    m_saveErrorAt = tick();
    Q_EMIT stateChanged();
}

JSONObject DatabaseBlockModel::shownRow(qint64 rowId, const JSONObject &fallback)
{
    // The row as it is now, with every cell's latest value, not only one cell's.
    const DBRowDTO *row = m_db ? findRow(*m_db, rowId) : nullptr;
    return row ? row->data : fallback;
}

quint64 DatabaseBlockModel::markSent(qint64 rowId)
{
    const quint64 sentAt = tick();
    m_sending.emplace(sentAt, rowId);
    return sentAt;
}

void DatabaseBlockModel::noteSaved(qint64 rowId, const JSONObject &data, quint64 at)
{
    SavedRow &saved = m_saved[rowId];
    if (at >= saved.at)
        saved = SavedRow{data, at};
}

void DatabaseBlockModel::saved(qint64 rowId, const JSONObject &data, quint64 sentAt)
{
    m_sending.erase(sentAt);
    // The service keeps the whole row as sent.
    noteSaved(rowId, data, sentAt);
    const quint64 now = tick();
    for (CellEdit &edit : m_edits) {
        if (edit.rowId == rowId && edit.editedAt < sentAt && !edit.settledAt)
            edit.settledAt = now;
    }
    if (m_saveError && sentAt > m_saveErrorAt) {
        m_saveError.reset();
        Q_EMIT stateChanged();
    }
}

bool DatabaseBlockModel::carriedElsewhere(qint64 rowId, quint64 editedAt) const
{
    // Another send of the row went out after the edit and may still get through.
    for (auto it = m_sending.upper_bound(editedAt); it != m_sending.end(); ++it) {
        if (it->second == rowId)
            return true;
    }
    // One held back until an answer, or waiting for its quiet period, will take the row as shown,
    // this value with it.
    if (m_followed && m_followed->isWaiting(rowId))
        return true;
    for (const QString &key : m_waiting) {
        const auto edit = m_edits.constFind(key);
        if (edit != m_edits.cend() && edit->rowId == rowId)
            return true;
    }
    return false;
}

void DatabaseBlockModel::notSaved(qint64 rowId, quint64 sentAt, const QString &message)
{
    m_sending.erase(sentAt);
    const auto savedRow = m_saved.constFind(rowId);
    bool restored = false;
    std::vector<std::pair<int, int>> cells;
    for (auto it = m_edits.begin(); it != m_edits.end();) {
        const CellEdit &edit = *it;
        // Made after this send went out, or already on the service: not this send's to undo.
        if (edit.rowId != rowId || edit.editedAt > sentAt || edit.settledAt) {
            ++it;
            continue;
        }
        if (carriedElsewhere(rowId, edit.editedAt)) {
            ++it;
            continue;
        }
        restored = true;
        DBRowDTO *row = m_db ? findRow(*m_db, rowId) : nullptr;
        if (row && savedRow != m_saved.cend()) {
            const auto old = savedRow->data.find(edit.columnId);
            if (old == savedRow->data.end())
                row->data.erase(edit.columnId);
            else
                row->data[edit.columnId] = old->second;
            const int r = rowIndex(*m_db, rowId);
            const int c = columnIndex(*m_db, edit.columnId);
            if (c >= 0)
                cells.emplace_back(r, c);
        }
        it = m_edits.erase(it);
    }
    if (!restored)
        return;
    for (const auto &[r, c] : cells) {
        Q_EMIT cellChanged(r, c);
        Q_EMIT valueRestored(r, c);
    }
    m_saveError = DatabaseBlock::notSavedMessage(message);
    m_saveErrorAt = tick();
    Q_EMIT stateChanged();
}
