#pragma once

#include "json/json_value.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class ServiceClient;

// The updates of database rows that have left for the service, for every view of every database.
// One update of a row is out at a time: a later one waits for its answer and then goes as the row
// is shown then, so the older never lands over the newer. A view that loads while one is out lays
// the row over what the service returned. Made once by the composition root, it outlives the views.
class DatabaseRowUpdates : public QObject
{
    Q_OBJECT
public:
    // One update of a row, asked for by a view that may be gone by the time it leaves or is answered.
    struct Update {
        qint64 databaseId = 0;
        qint64 rowId = 0;
        // The whole row as shown when the update was asked for.
        JSONObject data;
        QPointer<ServiceClient> client;
        // As it leaves: the row to send, given `data`.
        std::function<JSONObject(const JSONObject &data)> leaving;
        // Its answer: the row as sent, and why it was not saved.
        std::function<void(const JSONObject &sent, const std::optional<QString> &failure)> answered;
    };
    // A row of a database as the service holds it, or will once the update out is answered.
    struct Row {
        JSONObject data;
        bool out = false; // else saved since the load started
    };

    explicit DatabaseRowUpdates(QObject *parent = nullptr);

    // Sends the row now, or once the update of it that is out is answered; one waiting there already
    // gives way to this one.
    void send(Update update);
    bool isOut(qint64 rowId) const { return m_state->out.contains(rowId); }
    // An update of the row waits for the one out.
    bool isWaiting(qint64 rowId) const;
    int updatesOut() const { return int(m_state->out.size()); }

    // Taken as a load starts, for rowsSince().
    quint64 now() const { return m_state->clock; }
    // What a load of the database that started at `since` may not show yet: the rows with an
    // update out (as the one waiting has them, if any) and those saved since.
    QHash<qint64, Row> rowsSince(qint64 databaseId, quint64 since) const;

Q_SIGNALS:
    // An update of the row was answered; `failure` says why the service did not take it, empty when
    // it did.
    void answered(qint64 databaseId, qint64 rowId, const JSONObject &sent, const QString &failure);

private:
    struct RowOut {
        qint64 databaseId = 0;
        JSONObject sending;
        std::optional<Update> waiting;
    };
    struct Saved {
        qint64 databaseId = 0;
        JSONObject data;
        quint64 at = 0;
    };
    // Shared with the sends, which run on after this object is gone.
    struct State {
        quint64 clock = 0;
        QHash<qint64, RowOut> out;
        // Each row's last update the service took.
        QHash<qint64, Saved> saved;
    };

    static QCoro::Task<> run(QPointer<DatabaseRowUpdates> self, std::shared_ptr<State> state, Update update);

    std::shared_ptr<State> m_state = std::make_shared<State>();
};
