#include "store/store_state.h"

#include "api/json_reader.h"

StoreState StoreState::fromJson(const rapidjson::Value &v)
{
    return StoreState{
        .workspaces = json::field<std::vector<FNWorkspace>>(v, "workspaces"),
        .currentWorkspaceID = json::field<qint64>(v, "currentWorkspaceID"),
        .folders = json::field<std::vector<FNFolder>>(v, "folders"),
        .pages = json::field<std::vector<FNPage>>(v, "pages"),
        .blocks = json::field<std::vector<FNBlock>>(v, "blocks"),
        .outbox = json::field<std::vector<FNSyncOp>>(v, "outbox"),
        .cursorServerTs = json::field<qint64>(v, "cursorServerTs"),
        .pageStatuses = json::field<QMap<QString, FNPageStatus>>(v, "pageStatuses"),
        .expandedRowIDs = json::field<std::vector<QString>>(v, "expandedRowIDs"),
    };
}

void StoreState::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("workspaces", workspaces);
    w.field("currentWorkspaceID", currentWorkspaceID);
    w.field("folders", folders);
    w.field("pages", pages);
    w.field("blocks", blocks);
    w.field("outbox", outbox);
    w.field("cursorServerTs", cursorServerTs);
    w.field("pageStatuses", pageStatuses);
    w.field("expandedRowIDs", expandedRowIDs);
    w.endObject();
}
