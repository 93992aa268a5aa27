#include "api/folder_move_page_req.h"

#include "json/json_reader.h"

FolderMovePageReq FolderMovePageReq::fromJson(const rapidjson::Value &v)
{
    FolderMovePageReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.folder_id = json::optField<qint64>(v, "folder_id");
    return r;
}

void FolderMovePageReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("folder_id", folder_id);
    w.endObject();
}
