#pragma once

#include "api/json_writer.h"
#include "store/fn_block.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/fn_page_status.h"
#include "store/fn_sync_op.h"
#include "store/fn_workspace.h"

#include <QMap>
#include <QString>

#include <rapidjson/document.h>

#include <vector>

// The whole local data set, as "state.json" holds it. Default-constructed it is the empty state.
struct StoreState {
    std::vector<FNWorkspace> workspaces;
    qint64 currentWorkspaceID = 0; // server id; 0 = none chosen
    std::vector<FNFolder> folders; // soft-deleted ones included, as in the lists below
    std::vector<FNPage> pages;
    std::vector<FNBlock> blocks;
    std::vector<FNSyncOp> outbox; // in the order appended
    qint64 cursorServerTs = 0;
    QMap<QString, FNPageStatus> pageStatuses; // keyed by the page's server id in decimal
    std::vector<QString> expandedRowIDs;

    // All nine keys are required: a missing one fails the whole state.
    static StoreState fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const StoreState &, const StoreState &) = default;
};
