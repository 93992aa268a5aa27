#pragma once

#include "json/json_fields.h"
#include "store/fn_sync_op.h"

#include <QMap>
#include <QString>

#include <mutex>
#include <optional>
#include <vector>

// One request of an outbox operation about to leave: after a kill, before the answer or before
// the save after it, the operation counts as possibly arrived.
struct SendNote {
    QString opLocalID;
    // For a create: when it may have been made, on the service's clock.
    std::optional<SendWindow> window;
    // For a block upsert: per block, the fields it fills from this device's copy (see FNFillCheck).
    std::optional<QMap<QString, qint64>> filled;
    // For a create: its body as it went out, by which the service's copy is known when the answer
    // is lost, whatever was rewritten in the queued one meanwhile.
    std::optional<QString> sent;
    // For a create whose answer came: the id it gave the record (a line of its own, after the send's).
    std::optional<qint64> made;

    static constexpr std::tuple kFields{
        json::Field{"op", &SendNote::opLocalID},
        json::Field{"window", &SendNote::window},
        json::Field{"filled", &SendNote::filled},
        json::Field{"sent", &SendNote::sent},
        json::Field{"made", &SendNote::made},
    };
};

// The notes of the requests sent since the last save that holds how they went, one JSON line each
// beside "state.json". Appending costs a line, not a save of the whole data set. It reaches the
// kernel before the request leaves, so a kill of the app loses none; a power loss may, as it may
// lose the last edits the debounced save had not written yet.
class SendJournal
{
public:
    explicit SendJournal(QString path);
    ~SendJournal();
    SendJournal(const SendJournal &) = delete;
    SendJournal &operator=(const SendJournal &) = delete;

    // The notes a launch left; a line cut short by a kill is no note (its request never left).
    // Counts them as written, so the next save that covers them empties the file.
    std::vector<SendNote> load();
    // Written before the request leaves; until settled() a save does not cover it.
    void append(const SendNote &note);
    void settled();
    // The notes a snapshot of the state taken now holds the outcome of; none when there are none or
    // a request is still out.
    std::optional<quint64> coveredNow() const;
    // A save holding the outcome of the first `covered` notes is on disk: when no note came since,
    // the file is emptied. Any thread.
    void written(quint64 covered);
    // The data set was emptied: nothing it sent matters any more.
    void clear();

private:
    bool openFile();

    const QString m_path;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    quint64 m_count = 0; // notes in the file
    bool m_out = false;  // the last note's request has not settled
};
