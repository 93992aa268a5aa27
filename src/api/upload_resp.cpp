#include "api/upload_resp.h"

#include "json/json_reader.h"

UploadResp UploadResp::fromJson(const rapidjson::Value &v)
{
    UploadResp r;
    r.url = json::field<QString>(v, "url");
    r.path = json::optField<QString>(v, "path");
    r.size = json::optField<qint64>(v, "size");
    r.mime = json::optField<QString>(v, "mime");
    return r;
}

void UploadResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("url", url);
    w.field("path", path);
    w.field("size", size);
    w.field("mime", mime);
    w.endObject();
}
