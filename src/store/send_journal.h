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
    // Its number among the notes of the data folder, by which a save names the notes it holds the
    // outcome of; notes older builds wrote have none.
    std::optional<qint64> seq;

    static constexpr std::tuple kFields{
        json::Field{"op", &SendNote::opLocalID},
        json::Field{"window", &SendNote::window},
        json::Field{"filled", &SendNote::filled},
        json::Field{"sent", &SendNote::sent},
        json::Field{"made", &SendNote::made},
        json::Field{"n", &SendNote::seq},
    };
};

// The notes of the requests sent since the last save that holds how they went, one JSON line each
// beside "state.json". Appending costs a line, not a save of the whole data set. It reaches the
// kernel before the request leaves, so a kill of the app loses none; a power loss may, as it may
// lose the last edits the debounced save had not written yet.
class SendJournal
{
public:
    // Where the notes a state holds the outcome of end: the last one's number, and the end of its
    // line counted over every byte this journal ever held.
    struct Mark {
        qint64 seq = 0;
        qint64 end = 0;
    };

    explicit SendJournal(QString path);
    ~SendJournal();
    SendJournal(const SendJournal &) = delete;
    SendJournal &operator=(const SendJournal &) = delete;

    // The notes a launch left past those numbered up to `covered` (the loaded state holds their
    // outcome), older builds' notes included; a line cut short by a kill is no note (its request
    // never left). The next save that covers them takes them out of the file.
    std::vector<SendNote> load(qint64 covered);
    // Numbered and written before the request leaves; until settled() a save does not cover it.
    void append(SendNote note);
    void settled();
    // What a snapshot of the state taken now holds the outcome of: every note but that of a request
    // still out, and any after it.
    Mark coveredNow() const;
    // A save holding the outcome of the notes up to `covered` is on disk: they leave the file, the
    // notes that came since stay. Any thread.
    void written(Mark covered);
    // The data set was emptied: nothing it sent matters any more.
    void clear();

private:
    bool openFile();
    qint64 fileSize() const;
    // The file keeps its bytes from `from` on; false when it could not be rewritten.
    bool keepFrom(qint64 from, qint64 size);

    const QString m_path;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    qint64 m_next = 1;  // the next note's number
    qint64 m_base = 0;  // where the file's first byte stands among all bytes the journal held
    bool m_out = false; // the last note's request has not settled
    Mark m_beforeOut;   // while it has not: what a state can cover
};
