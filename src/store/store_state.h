#pragma once

#include "json/json_fields.h"
#include "store/fn_block.h"
#include "store/fn_block_edit.h"
#include "store/fn_fill_check.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/fn_page_status.h"
#include "store/fn_refused_change.h"
#include "store/fn_sync_op.h"
#include "store/fn_workspace.h"
#include "store/record_list.h"

#include <QMap>
#include <QString>

#include <rapidjson/document.h>

#include <vector>

// What a record-by-record read of the state left out.
struct StoreStateDrops {
    // By the state's key ("blocks", "cursorServerTs"...): how many of its records were left out; a
    // field that did not read as a whole counts once.
    QMap<QString, qsizetype> counts;
    QString first; // where and why the first one failed

    bool isEmpty() const { return counts.isEmpty(); }
    void note(const QString &key, const QString &where, const QString &reason);
    // Adds what `other` left out, as if noted after what this holds.
    void add(const StoreStateDrops &other);
    // "blocks 2, pages 1 (first: blocks[4]: ...)"
    QString summary() const;
};

// The whole local data set, as "state.json" holds it. Default-constructed it is the empty state.
struct StoreState {
    std::vector<FNWorkspace> workspaces;
    qint64 currentWorkspaceID = 0; // server id; 0 = none chosen
    std::vector<FNFolder> folders; // soft-deleted ones included, as in the lists below
    std::vector<FNPage> pages;
    RecordList<FNBlock> blocks;
    std::vector<FNSyncOp> outbox; // in the order appended
    qint64 cursorServerTs = 0;
    QMap<QString, FNPageStatus> pageStatuses; // keyed by the page's server id in decimal
    std::vector<QString> expandedRowIDs;
    std::vector<FNBlockEdit> editedBlocks; // in the order first edited
    std::vector<FNFillCheck> fillChecks;
    std::vector<FNRefusedChange> refusedChanges; // by page, in the order first refused
    // The last of the send journal's notes whose outcome this state holds (see SendJournal).
    qint64 sendNotesCovered = 0;

    // All keys but "editedBlocks", "fillChecks", "refusedChanges" and "sendNotesCovered", which older
    // files lack, are required: a missing one is noted as dropped and read as empty.
    static constexpr std::tuple kFields{
        json::Field{"workspaces", &StoreState::workspaces},
        json::Field{"currentWorkspaceID", &StoreState::currentWorkspaceID},
        json::Field{"folders", &StoreState::folders},
        json::Field{"pages", &StoreState::pages},
        json::Field{"blocks", &StoreState::blocks},
        json::Field{"outbox", &StoreState::outbox},
        json::Field{"cursorServerTs", &StoreState::cursorServerTs},
        json::Field{"pageStatuses", &StoreState::pageStatuses},
        json::Field{"expandedRowIDs", &StoreState::expandedRowIDs},
        json::Missable{"editedBlocks", &StoreState::editedBlocks},
        json::Missable{"fillChecks", &StoreState::fillChecks},
        json::Missable{"refusedChanges", &StoreState::refusedChanges},
        json::Missable{"sendNotesCovered", &StoreState::sendNotesCovered},
    };

    // Keeps every record that reads: one that does not, or that holds a value or key
    // json::Damaged::Mark marked anywhere in it (or a field missing or of the wrong kind, which then
    // takes its empty value) is left out and noted in `dropped`. Only a value that is not an object
    // throws.
    static StoreState fromJsonByRecord(const rapidjson::Value &v, StoreStateDrops &dropped);
    // Reads the member kFields lists at `index` from `value` as fromJsonByRecord does; null or no
    // value is a missing member.
    void readMember(size_t index, const rapidjson::Value *value, StoreStateDrops &dropped);
};
