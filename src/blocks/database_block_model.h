#pragma once

#include "api/wire/databases.h"
#include "json/json_value.h"
#include "store/debouncer.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class BlockHost;
class DatabaseRowUpdates;
class ServiceClient;
class ToastCenter;

// What one database block shows while its view lives: the table as the service last gave it, with
// the user's edits and the row updates still out from any view of the database laid over it,
// whether a load runs, the last failure and one pending send per edited cell. The updates that left
// belong to the host's `DatabaseRowUpdates`, which outlives the view. Nothing of the table is
// stored locally; the only local write is the database's id in the block's content. Every operation
// does nothing while signed out.
class DatabaseBlockModel : public QObject
{
    Q_OBJECT
public:
    // `host` must outlive every synchronous call; work that outlives the model writes through the
    // host's later writer and the client alone.
    explicit DatabaseBlockModel(BlockHost &host, QObject *parent = nullptr);
    // Edits still waiting for their quiet period are sent now, not dropped with the view.
    ~DatabaseBlockModel() override;

    const std::optional<DatabaseDTO> &database() const { return m_db; }
    bool isLoading() const { return m_loadsRunning > 0; }
    const std::optional<QString> &error() const { return m_error; }
    // The last change the service did not take, its cell back at the service's value; a later
    // change that reaches the service clears it.
    const std::optional<QString> &saveError() const { return m_saveError; }
    // The page's service id as the block holds it now (0 while the page is not on the service).
    qint64 pageServerID() const;
    std::optional<qint64> databaseID() const;
    // "Insert database" shows without a table, except after a failed load: the block's database
    // may well exist, and a new one would take its place in the block.
    bool offersInsert() const { return !m_db && !isLoading() && !m_loadFailed; }
    // It can be pressed once the page is on the service.
    bool canInsert() const { return pageServerID() != 0; }

    // The page's databases, to show the one of the block's id; none without an id.
    QCoro::Task<> load();
    // "Insert database": "Tasks" with its three columns; its id goes into the block.
    QCoro::Task<> createDefault();
    // "Add row": an empty row after the last one. A press while one is out adds nothing: its row
    // would land in the same place.
    QCoro::Task<> addRow();

    // Shows the value at once and sends the whole row after the cell's quiet period, or, while an
    // update of the row is out, once that is answered. `row` is the row as shown when the edit was
    // made. When no send carrying the value reaches the service, the cell shows the service's value
    // again and `saveError` tells why.
    void editCell(const DBRowDTO &row, const QString &columnId, const JSONValue &value);
    // A text field's change; a number column takes only text that is one number (or blank).
    // False when nothing was changed.
    bool setCellText(const DBRowDTO &row, const DBColumnDTO &column, const QString &text);
    // Sends every waiting edit now.
    void flushSends();
    int pendingSends() const;
    // Sends that went out and have no answer yet.
    int sendsOut() const { return int(m_sending.size()); }

Q_SIGNALS:
    // Loading, the failure, or whether there is a table changed.
    void stateChanged();
    // The table was replaced by one of another shape (other columns or rows).
    void tableReset();
    // The same columns and rows with values that may differ.
    void valuesChanged();
    void cellChanged(int row, int column);
    // The cell is back at the service's value after its change was not saved: a field open on it
    // shows that value too.
    void valueRestored(int row, int column);
    void rowAppended();
    // "Add row" came back: the row it made, at `row` of the table on show.
    void rowAdded(int row);

private:
    // The last edit of one cell, laid over every table loaded while its send may not have reached
    // the service.
    struct CellEdit {
        qint64 rowId = 0;
        QString columnId;
        JSONValue value;
        quint64 editedAt = 0;
        std::optional<quint64> settledAt; // a send carrying it reached the service
    };
    // A row as the service holds it, as far as the newest answer tells.
    struct SavedRow {
        JSONObject data;
        quint64 at = 0;
    };
    struct AddedRow {
        DBRowDTO row;
        quint64 addedAt = 0;
    };

    // Ticks order edits, sends, additions and loads against each other.
    quint64 tick() { return ++m_tick; }
    // `since`: the row updates' clock as the load started.
    void applyLoaded(DatabaseDTO database, quint64 startedAt, quint64 since);
    void replaceTable(DatabaseDTO database);
    void sendRowPatch(const QPointer<ServiceClient> &client, const QPointer<ToastCenter> &toasts,
                      qint64 databaseId, qint64 rowId, const QString &key, const JSONObject &fallback);
    // The updates out for every view of the database; the model's own where the host has none.
    DatabaseRowUpdates &updates();
    // An update of a row, from this view or another, was answered.
    void rowAnswered(qint64 databaseId, qint64 rowId, const JSONObject &sent, const QString &failure);
    void forgetSettled(quint64 before);
    void noteSaved(qint64 rowId, const JSONObject &data, quint64 at);
    // The answer to the send that went out at `sentAt`.
    void saved(qint64 rowId, const JSONObject &data, quint64 sentAt);
    void notSaved(qint64 rowId, quint64 sentAt, const QString &message);
    // A send of the row other than the one just answered will carry a value edited at `editedAt`.
    bool carriedElsewhere(qint64 rowId, quint64 editedAt) const;
    // The row as shown, else `fallback` when it is gone.
    JSONObject shownRow(qint64 rowId, const JSONObject &fallback);
    // An update of the row leaves now: its send's time.
    quint64 markSent(qint64 rowId);

    BlockHost &m_host;
    std::chrono::milliseconds m_cellDelay;
    std::optional<DatabaseDTO> m_db;
    std::optional<QString> m_error;
    std::optional<QString> m_saveError;
    quint64 m_saveErrorAt = 0;
    int m_loadsRunning = 0;
    bool m_loadFailed = false;
    // A second press while the first create is out would make a second database.
    bool m_creating = false;
    bool m_addingRow = false;
    quint64 m_tick = 0;
    quint64 m_appliedLoadStart = 0;
    std::map<QString, std::unique_ptr<Debouncer>> m_cellDebouncers;
    QHash<QString, CellEdit> m_edits;
    std::vector<AddedRow> m_added;
    // Cells whose send waits for its quiet period.
    QSet<QString> m_waiting;
    // Sends without an answer yet: when each went out, and its row.
    std::map<quint64, qint64> m_sending;
    std::unique_ptr<DatabaseRowUpdates> m_ownUpdates;
    QPointer<DatabaseRowUpdates> m_followed;
    // Rows shown as an update out (from another view) has them, not yet as the service answered.
    QSet<qint64> m_laidOver;
    // What a cell goes back to when its change is not saved.
    QHash<qint64, SavedRow> m_saved;
};
