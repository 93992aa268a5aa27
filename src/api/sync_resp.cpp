#include "api/sync_resp.h"

#include "json/json_reader.h"
#include "platform/diag.h"

namespace {

// Any other way, one unreadable op would hold the cursor back and bring the same reply on every pull.
std::vector<SyncOpDTO> readableOps(const rapidjson::Value &reply)
{
    std::vector<SyncOpDTO> ops;
    const auto it = json::requireObject(reply).FindMember("ops");
    if (it == reply.MemberEnd() || it->value.IsNull())
        throw DecodeError(QStringLiteral("Missing key \"ops\""));
    if (!it->value.IsArray())
        throw DecodeError(
            QStringLiteral("\"ops\": expected an array, found %1").arg(json::kindName(it->value)));
    ops.reserve(it->value.Size());
    rapidjson::SizeType index = 0;
    for (const auto &item : it->value.GetArray()) {
        try {
            ops.push_back(SyncOpDTO::fromJson(item));
        } catch (const DecodeError &e) {
            diag(QStringLiteral("SyncResp: skipped unreadable op %1 (%2)").arg(index).arg(e.message()));
        }
        ++index;
    }
    return ops;
}

} // namespace

SyncResp SyncResp::fromJson(const rapidjson::Value &v)
{
    SyncResp r;
    r.server_ts = json::field<qint64>(v, "server_ts");
    r.capped = json::optField<bool>(v, "capped");
    r.ops = readableOps(v);
    return r;
}

void SyncResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("ops", ops);
    w.field("server_ts", server_ts);
    w.field("capped", capped);
    w.endObject();
}
