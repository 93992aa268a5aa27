#pragma once

#include "api/wire/blocks.h"
#include "api/wire/pages.h"

#include <QHash>
#include <QString>

#include <optional>
#include <utility>

class LocalStore;
class PageBlockList;
struct FNBlock;

// Turns the page editor's edits into outbox operations. It only queues: starting a sync is the
// caller's part.
class PageOutbox
{
public:
    enum class Outcome {
        NoPage,          // nothing queued; a sync may still get the page its server id
        PageNotOnServer, // the same
        NothingToSend,   // the page has no block the service could take yet
        NotEncodable,
        Queued,
    };
    struct UpsertResult {
        Outcome outcome = Outcome::NoPage;
        // Nested blocks left out because their parent has no server id yet.
        int waitingForParent = 0;
    };

    explicit PageOutbox(const PageBlockList &list);

    // The page's request: every live block whose parent the service knows, in position order. None
    // without a page or while it has no server id.
    std::optional<BlocksUpsertReq> blocksUpsertRequest(int *waitingForParent = nullptr) const;
    // One "block"/"upsert" operation carrying the request.
    UpsertResult queueBlockUpserts() const;
    // "page"/"update" with the title or the icon only. A page id of 0 is sent once the page has
    // its id: the push reads it from the page.
    void queuePageTitle(qint64 pageServerID, const QString &title) const;
    void queuePageIcon(qint64 pageServerID, const QString &icon) const;

    // "block"/"delete" for a block the service knows.
    static void queueBlockDelete(LocalStore &store, const FNBlock &block);

private:
    void queuePageUpdate(const PagePatchReq &patch) const;

    const PageBlockList &m_list;
    // Each block's content as last decoded, with the text it came from: a flush of a long page
    // decodes only the blocks whose content changed since the last one.
    mutable QHash<QString, std::pair<QString, JSONObject>> m_decoded;
};
