#include "store/sync_engine.h"

#include "api/wire/blocks.h"
#include "json/json_error.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "store/sync_payload.h"

// A push fills the fields of a block this device did not change from the service's copy, read just
// before it goes. Another device's write landing between that read and the push is written over
// with the copy read. The echo of the push tells: another device's write came back first, and the
// echo holds other values in fields this device only filled. Those fields are put back to the other
// device's values and sent again, unless the service has moved on from the copy written over it.

namespace {

constexpr qint64 kFields[] = {BlockFields::Content, BlockFields::Kind, BlockFields::Place};

using syncPayload::intOr;
using syncPayload::stringOr;
using syncPayload::valueOr;

// Whether the two hold the same value of the field; a missing parent is the top level.
bool sameField(const JSONObject &a, const JSONObject &b, qint64 field)
{
    switch (field) {
    case BlockFields::Content:
        return valueOr(a, "content") == valueOr(b, "content");
    case BlockFields::Kind:
        return valueOr(a, "type") == valueOr(b, "type");
    default:
        return intOr(a, "position", 0) == intOr(b, "position", 0) &&
               intOr(a, "parent_block_id", 0) == intOr(b, "parent_block_id", 0);
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

// Sets the item's `field` to the service's copy of it.
void takeField(BlockUpsertItem &item, const BlockDTO &dto, qint64 field)
{
    if (field == BlockFields::Content) {
        item.content = dto.content;
    } else if (field == BlockFields::Kind) {
        item.type = dto.type;
    } else {
        item.position = dto.position;
        item.parent_block_id = dto.parent_block_id;
    }
}

} // namespace

QCoro::Task<> SyncEngine::fillUnchangedFields(BlocksUpsertReq &req, const FNSyncOp &op)
{
    // An item with a repair waiting needs the service's copy too: the repair may be overtaken.
    const auto needsServiceCopy = [&](const BlockUpsertItem &item) {
        return item.id && (op.fieldsCarried(item.client_id) != BlockFields::All ||
                           m_repairs.contains(item.client_id));
    };
    if (std::none_of(req.blocks.begin(), req.blocks.end(), needsServiceCopy))
        co_return;
    const BlocksResp current = co_await m_client.fetchBlocks(req.page_id, cancelToken());
    QHash<qint64, const BlockDTO *> byID;
    for (const BlockDTO &dto : current.blocks)
        byID.insert(dto.id, &dto);
    for (BlockUpsertItem &item : req.blocks) {
        const BlockDTO *dto = needsServiceCopy(item) ? byID.value(*item.id) : nullptr;
        if (!dto)
            continue; // gone from the service: sent as this device has it
        const qint64 carried = op.fieldsCarried(item.client_id);
        const auto repair = m_repairs.constFind(item.client_id);
        const JSONObject now = fieldsOf(*dto);
        for (const qint64 field : kFields) {
            // A field put back to another device's write goes as the service has it once the
            // service has moved on from the stale copy: whoever wrote last stands.
            const bool overtaken = repair != m_repairs.cend() && (repair->fields & field) &&
                                   !sameField(now, repair->stale, field);
            if (!(carried & field) || overtaken)
                takeField(item, *dto, field);
        }
    }
}

void SyncEngine::noteFilled(const BlocksUpsertReq &sent, const FNSyncOp &op)
{
    for (const BlockUpsertItem &item : sent.blocks) {
        m_repairs.remove(item.client_id);
        const qint64 fields = op.fieldsCarried(item.client_id);
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
    // The service names the device that wrote a version by the local id it sent.
    if (stringOr(pulled, "client_id", QString()) != block.localID) {
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
            block.type = stringOr(other, "type", QStringLiteral("text"));
        } else {
            block.position = intOr(other, "position", 0);
            block.parentBlockServerID = intOr(other, "parent_block_id", 0);
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
