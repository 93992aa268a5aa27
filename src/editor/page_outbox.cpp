#include "editor/page_outbox.h"

#include "editor/block_content.h"
#include "editor/page_block_list.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "platform/utf8.h"
#include "store/local_store.h"

#include <QHash>

namespace {

const QString kBlock = QStringLiteral("block");
const QString kPage = QStringLiteral("page");
const QString kEmptyPayload = QStringLiteral("{}");

template <typename T>
std::optional<QString> encodeText(const T &value)
{
    try {
        return decodeUtf8Strict(sharedJSONEncode(value));
    } catch (const EncodeError &) {
        return std::nullopt;
    }
}

} // namespace

PageOutbox::PageOutbox(const PageBlockList &list)
    : m_list(list)
{
}

std::optional<BlocksUpsertReq> PageOutbox::blocksUpsertRequest(int *waitingForParent) const
{
    if (waitingForParent)
        *waitingForParent = 0;
    const auto page = m_list.page();
    if (!page || page->serverID == 0)
        return std::nullopt;
    const std::vector<FNBlock> blocks = m_list.pageBlocks();
    QHash<QString, qint64> serverIDs; // the first block with each localID
    serverIDs.reserve(qsizetype(blocks.size()));
    for (const FNBlock &block : blocks)
        serverIDs.insert(block.localID, block.serverID);

    BlocksUpsertReq req;
    req.page_id = page->serverID;
    req.blocks.reserve(blocks.size());
    for (const FNBlock &block : blocks) {
        qint64 parentID = block.parentBlockServerID;
        if (!block.parentBlockLocalID.isEmpty()) {
            const auto parent = serverIDs.constFind(block.parentBlockLocalID);
            // A parent that is gone leaves its child out for good; one still without a server id
            // only until it has one.
            if (parent == serverIDs.cend())
                continue;
            if (*parent == 0) {
                if (waitingForParent)
                    ++*waitingForParent;
                continue;
            }
            parentID = *parent;
        }
        BlockUpsertItem item;
        item.client_id = block.localID;
        if (block.serverID != 0)
            item.id = block.serverID;
        item.type = block.type;
        item.content = BlockContent::decode(block.contentJSON);
        item.position = block.position;
        if (parentID != 0)
            item.parent_block_id = parentID;
        req.blocks.push_back(std::move(item));
    }
    return req;
}

PageOutbox::UpsertResult PageOutbox::queueBlockUpserts() const
{
    UpsertResult result;
    const auto page = m_list.page();
    if (!page) {
        result.outcome = Outcome::NoPage;
        return result;
    }
    if (page->serverID == 0) {
        result.outcome = Outcome::PageNotOnServer;
        return result;
    }
    const std::optional<BlocksUpsertReq> req = blocksUpsertRequest(&result.waitingForParent);
    if (!req || req->blocks.empty()) {
        result.outcome = Outcome::NothingToSend;
        return result;
    }
    const std::optional<QString> payload = encodeText(*req);
    if (!payload) {
        result.outcome = Outcome::NotEncodable;
        return result;
    }
    append(m_list.store(), kBlock, QStringLiteral("upsert"), page->localID, *payload);
    result.outcome = Outcome::Queued;
    return result;
}

void PageOutbox::queuePageTitle(qint64 pageServerID, const QString &title) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.title = title;
    queuePageUpdate(patch);
}

void PageOutbox::queuePageIcon(qint64 pageServerID, const QString &icon) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.icon = icon;
    queuePageUpdate(patch);
}

void PageOutbox::queuePageUpdate(const PagePatchReq &patch) const
{
    append(m_list.store(), kPage, QStringLiteral("update"), m_list.pageLocalID(),
           encodeText(patch).value_or(kEmptyPayload));
}

void PageOutbox::queueBlockDelete(LocalStore &store, const FNBlock &block)
{
    const JSONObject payload{{QStringLiteral("block_id"), block.serverID}};
    append(store, kBlock, QStringLiteral("delete"), block.localID,
           BlockContent::encode(payload).value_or(kEmptyPayload));
}

void PageOutbox::append(LocalStore &store, const QString &entity, const QString &op,
                        const QString &refLocalID, const QString &payloadJSON)
{
    FNSyncOp operation;
    operation.localID = newLocalID();
    operation.entity = entity;
    operation.op = op;
    operation.refLocalID = refLocalID;
    operation.payloadJSON = payloadJSON;
    operation.createdAt = QDateTime::currentDateTimeUtc();
    store.changeOutsideRecords([&](StoreState &state) { state.outbox.push_back(std::move(operation)); });
    store.scheduleSave();
}
