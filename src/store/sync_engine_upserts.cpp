#include "store/sync_engine.h"

#include "api/wire/blocks.h"
#include "json/json_coder.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <map>

// The block upserts waiting to go: folded per page before a push, and queued for what no upsert
// carries yet.

namespace {

// How long folding the queued upserts holds the event loop at a time.
constexpr qint64 kFoldSliceNs = 8 * 1000 * 1000;

} // namespace

QCoro::Task<> SyncEngine::foldBlockUpserts()
{
    QPointer<SyncEngine> self(this);
    // Per page, in the order they were queued (the clocks that stamp them may step back).
    // Only the pages with more than one are copied: one waiting alone costs a look.
    const auto &outbox = m_store.state().outbox;
    QHash<QString, std::vector<size_t>> perPage;
    for (size_t i = 0; i < outbox.size(); ++i) {
        if (outbox[i].kind() == SyncOpKind::BlockUpsert)
            perPage[outbox[i].refLocalID].push_back(i);
    }
    std::map<QString, std::vector<FNSyncOp>> upserts;
    for (auto it = perPage.cbegin(); it != perPage.cend(); ++it) {
        if (it->size() < 2)
            continue;
        std::vector<FNSyncOp> &queued = upserts[it.key()];
        for (const size_t i : *it)
            queued.push_back(outbox[i]);
    }
    // Lines typed offline fill hundreds of upserts: read in slices, with the event loop turning
    // between them. What the turns let change meanwhile is told by the payloads' text.
    QElapsedTimer slice;
    slice.start();
    bool turned = false;
    const auto turn = [&]() -> QCoro::Task<bool> {
        if (slice.nsecsElapsed() < kFoldSliceNs)
            co_return true;
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        slice.restart();
        turned = true;
        co_return self && !m_cancel.isCancelled();
    };
    for (auto &[page, queued] : upserts) {
        // Each carries only the blocks changed since the one before it, so the page's upserts merge
        // into its newest: per block, the item queued last.
        FNSyncOp newest = queued.back();
        std::optional<BlocksUpsertReq> merged;
        std::map<QString, BlockUpsertItem> items;
        // Per block, every field any of them carries: the newest item holds this device's latest
        // value of each.
        QMap<QString, qint64> fields;
        QHash<QString, qint64> unread;
        for (const FNSyncOp &op : queued) {
            try {
                BlocksUpsertReq req = sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8());
                for (BlockUpsertItem &item : req.blocks) {
                    fields[item.client_id] =
                        BlockFields::merged(fields.value(item.client_id), op.fieldsCarried(item.client_id));
                    items[item.client_id] = std::move(item);
                }
                if (!merged || req.page_id != 0)
                    merged = BlocksUpsertReq{req.page_id, {}};
            } catch (const DecodeError &) {
                // Never sendable: it adds nothing, but what it was to carry is marked to go again, as
                // a later upsert leaves out what one queued before carries.
                if (op.carriedFields) {
                    for (auto it = op.carriedFields->cbegin(); it != op.carriedFields->cend(); ++it)
                        unread[it.key()] |= it.value();
                }
            }
            if (!co_await turn())
                co_return;
        }
        // One rewritten or taken out while the loop turned is left as it is now, for the next push.
        if (turned) {
            QHash<QString, QString> current;
            for (const FNSyncOp &op : m_store.state().outbox)
                current.insert(op.localID, op.payloadJSON);
            if (!std::all_of(queued.begin(), queued.end(), [&](const FNSyncOp &op) {
                    const auto it = current.constFind(op.localID);
                    return it != current.cend() && *it == op.payloadJSON;
                }))
                continue;
        }
        if (merged) {
            newest.carriedFields = fields;
            for (auto &[clientID, item] : items) {
                // A block deleted here since must not come back to life on the service.
                const FNBlock *block = m_store.block(clientID);
                if (block && block->deletedAt)
                    continue;
                merged->blocks.push_back(std::move(item));
            }
            std::stable_sort(merged->blocks.begin(), merged->blocks.end(),
                             [](const BlockUpsertItem &a, const BlockUpsertItem &b) {
                                 // As listedBefore orders blocks, so new blocks at one position get their ids
                                 // in the order every device lists them.
                                 if (a.position != b.position)
                                     return a.position < b.position;
                                 if (a.id.has_value() != b.id.has_value())
                                     return a.id.has_value();
                                 if (a.id != b.id)
                                     return a.id < b.id;
                                 return a.client_id < b.client_id;
                             });
            if (!m_outbox.replaceBlocksUpsert(newest, *merged))
                continue; // kept apart rather than lose the older ones' blocks
        }
        QSet<QString> folded;
        for (size_t i = 0; i + 1 < queued.size(); ++i)
            folded.insert(queued[i].localID);
        m_outbox.drop(folded);
        for (auto it = unread.cbegin(); it != unread.cend(); ++it) {
            if (!fields.contains(it.key()))
                m_outbox.blockEdited(page, it.key(), it.value());
        }
        if (!unread.isEmpty())
            m_outbox.pageBlocksUpsert(page, now());
        if (!co_await turn())
            co_return;
    }
}

void SyncEngine::queueLeftEdits()
{
    // Within a launch each edit's page queues it after a pause, but a launch that ended in that
    // pause (a crash, a kill, a power loss) left its saved edits with only their marks to send them.
    if (std::exchange(m_leftEditsQueued, true))
        return;
    QStringList pages;
    for (const FNBlockEdit &edit : m_store.state().editedBlocks) {
        if (!pages.contains(edit.pageLocalID))
            pages << edit.pageLocalID;
    }
    for (const QString &page : pages)
        m_outbox.pageBlocksUpsert(page, now());
}

void SyncEngine::queueHeldChildren(const QString &pageLocalID, const QSet<QString> &named)
{
    // Held back while their parent had no id, they would otherwise wait for the page's next edit.
    if (named.isEmpty())
        return;
    for (const FNBlockEdit &edit : m_store.state().editedBlocks) {
        const FNBlock *block = edit.pageLocalID == pageLocalID ? m_store.block(edit.blockLocalID) : nullptr;
        if (block && !block->deletedAt && named.contains(block->parentBlockLocalID)) {
            queueStoredBlocks(pageLocalID);
            return;
        }
    }
}

void SyncEngine::queueStoredBlocks(const QString &pageLocalID)
{
    // Blocks typed while the page waited for its id have no upsert yet when the page was closed
    // before it came.
    if (m_outbox.pageBlocksUpsert(pageLocalID, now()).outcome == Outbox::PageBlocksOutcome::Queued)
        m_blocksQueuedInPush = true;
}
