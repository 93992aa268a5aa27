#include "store/sync_engine.h"

#include "api/wire/blocks.h"
#include "json/json_error.h"
#include "store/block_fields.h"
#include "store/outbox.h"

// A push fills the fields of a block this device did not change from the service's copy, read just
// before it goes. Another device's write landing between that read and the push is written over
// with the copy read. The echo of the push tells: another device's write came back first, and the
// echo holds other values in fields this device only filled. Those fields are put back to the other
// device's values and sent again, unless the service has moved on from the copy written over it.

namespace {

constexpr qint64 kFields[] = {BlockFields::Content, BlockFields::Kind, BlockFields::Place};

JSONValue valueOf(const JSONObject &o, const char *key)
{
    const auto it = o.find(QLatin1String(key));
    return it != o.end() ? it->second : JSONValue();
}

qint64 intOf(const JSONObject &o, const char *key, qint64 fallback)
{
    const JSONValue v = valueOf(o, key);
    return v.isInt() ? v.toInt() : fallback;
}

// Whether the two hold the same value of the field; a missing parent is the top level.
bool sameField(const JSONObject &a, const JSONObject &b, qint64 field)
{
    switch (field) {
    case BlockFields::Content:
        return valueOf(a, "content") == valueOf(b, "content");
    case BlockFields::Kind:
        return valueOf(a, "type") == valueOf(b, "type");
    default:
        return intOf(a, "position", 0) == intOf(b, "position", 0) &&
               intOf(a, "parent_block_id", 0) == intOf(b, "parent_block_id", 0);
    }
}

JSONObject fieldsOf(const BlockDTO &dto)
{
    JSONObject o{{QStringLiteral("content"), dto.content},
                 {QStringLiteral("type"), dto.type},
                 {QStringLiteral("position"), dto.position}};
    if (dto.parent_block_id)
        o[QStringLiteral("parent_block_id")] = *dto.parent_block_id;
    return o;
}

} // namespace

bool SyncEngine::needsServiceCopy(const BlockUpsertItem &item, qint64 carried) const
{
    return item.id && (carried != BlockFields::All || m_repairs.contains(item.client_id));
}

void SyncEngine::reconsiderRepairs(BlockUpsertItem &item, const BlockDTO &dto)
{
    const auto repair = m_repairs.constFind(item.client_id);
    if (repair == m_repairs.cend())
        return;
    const JSONObject now = fieldsOf(dto);
    for (const qint64 field : kFields) {
        // Moved on since the stale copy: whoever wrote last stands.
        if (!(repair->fields & field) || sameField(now, repair->stale, field))
            continue;
        if (field == BlockFields::Content)
            item.content = dto.content;
        else if (field == BlockFields::Kind)
            item.type = dto.type;
        else {
            item.position = dto.position;
            item.parent_block_id = dto.parent_block_id;
        }
    }
}

void SyncEngine::noteFilled(const BlocksUpsertReq &sent, const std::optional<QMap<QString, qint64>> &carried)
{
    for (const BlockUpsertItem &item : sent.blocks) {
        m_repairs.remove(item.client_id);
        const qint64 fields = carried ? carried->value(item.client_id, BlockFields::All) : qint64(BlockFields::All);
        if (item.id && fields != BlockFields::All)
            m_filled.insert(item.client_id, Filled{BlockFields::All & ~fields, std::nullopt});
        else
            m_filled.remove(item.client_id);
    }
}

qint64 SyncEngine::checkFilled(FNBlock &block, const JSONObject &pulled, qint64 mine)
{
    const auto it = m_filled.find(block.localID);
    if (it == m_filled.end())
        return 0;
    const auto writer = pulled.find(QStringLiteral("client_id"));
    const bool echo = writer != pulled.end() && writer->second.isString() &&
                      writer->second.toString() == block.localID;
    if (!echo) {
        it->other = pulled;
        return 0;
    }
    const Filled filled = *it;
    m_filled.erase(it);
    if (!filled.other)
        return 0;
    const JSONObject &other = *filled.other;
    qint64 repaired = 0;
    for (const qint64 field : kFields) {
        if (!(filled.fields & field) || (mine & field) || sameField(pulled, other, field))
            continue;
        if (field == BlockFields::Content) {
            block.contentJSON = contentJSON(other);
        } else if (field == BlockFields::Kind) {
            const JSONValue type = valueOf(other, "type");
            block.type = type.isString() ? type.toString() : QStringLiteral("text");
        } else {
            block.position = intOf(other, "position", 0);
            block.parentBlockServerID = intOf(other, "parent_block_id", 0);
        }
        repaired |= field;
    }
    if (repaired) {
        Repair &repair = m_repairs[block.localID];
        repair.fields |= repaired;
        repair.stale = pulled;
        m_outbox.blockEdited(block.pageLocalID, block.localID, repaired);
        m_repairedPages.insert(block.pageLocalID);
    }
    return repaired;
}

void SyncEngine::queueRepairs()
{
    for (const QString &page : std::exchange(m_repairedPages, {}))
        m_outbox.pageBlocksUpsert(page);
}
