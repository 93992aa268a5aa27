#pragma once

#include "api/wire/blocks.h"
#include "api/wire/pages.h"
#include "store/outbox.h"

#include <QString>

#include <optional>

class LocalStore;
class PageBlockList;
struct FNBlock;

// Turns the page editor's edits into outbox operations. It only queues: starting a sync is the
// caller's part.
class PageOutbox
{
public:
    using Outcome = Outbox::PageBlocksOutcome;
    using UpsertResult = Outbox::PageBlocksResult;

    explicit PageOutbox(const PageBlockList &list);

    // The page's request as it would go now: the blocks changed here or not yet on the service (see
    // storedBlocksUpsert). None without a page or while it has no server id.
    std::optional<BlocksUpsertReq> blocksUpsertRequest(int *waitingForParent = nullptr) const;
    // One "block"/"upsert" operation carrying the request.
    UpsertResult queueBlockUpserts() const;
    // A block of the page changed in the editor, in `fields` (BlockFields): the next upsert carries them.
    void blockEdited(const QString &blockLocalID, qint64 fields) const;
    // "page"/"update" with the title or the icon only. A page id of 0 is sent once the page has
    // its id: the push reads it from the page.
    // The title's operation; its sending may wait `sendAfter`.
    std::optional<FNSyncOp> queuePageTitle(qint64 pageServerID, const QString &title,
                                           std::chrono::milliseconds sendAfter = {}) const;
    void queuePageIcon(qint64 pageServerID, const QString &icon) const;

    // "block"/"delete" for a block the service knows.
    static void queueBlockDelete(LocalStore &store, const FNBlock &block);

private:
    std::optional<FNSyncOp> queuePageUpdate(const PagePatchReq &patch, std::chrono::milliseconds sendAfter = {}) const;

    const PageBlockList &m_list;
};
