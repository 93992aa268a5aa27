#pragma once

#include "fake-service/fake_service.h"

#include <optional>
#include <vector>

// The rules that the fake's route families share: who may do what with a workspace or a page, the JSON
// the service writes for its records, the change log every device pulls from, and saved versions.
// A thin view over the service's state; make one wherever it is needed.
class FakeContent
{
public:
    using Page = FakeServiceState::Page;
    using Block = FakeServiceState::Block;
    using Folder = FakeServiceState::Folder;

    // What a caller wants to do with a page, in rising order of trust.
    enum class Need { View, Comment, Edit, Delete, Share };
    // Where the page must be for the call to find it.
    enum class Where { Live, Trash, Anywhere };

    // The page the caller may act on, or the reply that refuses it.
    struct PageCheck {
        Page *page = nullptr;
        HttpResponse refusal;
    };

    // One block of the set a page should hold.
    struct BlockInput {
        qint64 id = 0; // the block's id when the sender knows it
        QString clientId;
        QString type;
        JSONObject content;
        qint64 position = 0;
        qint64 parentBlockId = 0;
    };

    explicit FakeContent(FakeService &service);

    FakeServiceState &state() { return m_service.state(); }
    const FakeServiceState &state() const { return m_service.state(); }
    QString origin() const { return m_service.origin(); }

    QString memberRole(qint64 userId, qint64 workspaceId) const; // empty for someone outside it
    // Nothing when the caller may read (or, with change, alter) the workspace; else the refusal.
    std::optional<HttpResponse> refuseWorkspace(qint64 userId, qint64 workspaceId, bool change) const;
    bool can(qint64 userId, const Page &page, Need need) const;
    PageCheck checkPage(qint64 userId, qint64 pageId, Need need, Where where = Where::Live);
    // checkPage() for the live page named by the query's "page_id"; a bad id is refused with 400.
    PageCheck checkQueryPage(const FakeService::Call &call, Need need);
    bool folderIn(qint64 folderId, qint64 workspaceId) const;

    void logPage(const Page &page, const QString &op);
    void logBlock(const Block &block, qint64 workspaceId, const QString &op);
    // Makes the page hold exactly these blocks: known ones (by id, else by client id) are updated,
    // others created, the rest deleted; each real change is logged. Returns the stored ids in order.
    // New blocks are recorded as `authorId`'s.
    std::vector<qint64> replaceBlocks(const Page &page, const std::vector<BlockInput> &items,
                                      qint64 authorId = 0);
    // The same, but the page's other blocks stay: blocks go only by deleteBlock().
    std::vector<qint64> upsertBlocks(const Page &page, const std::vector<BlockInput> &items,
                                     qint64 authorId = 0);
    // True when the user may edit the page only through an "edit-own" share.
    bool editsOwnOnly(qint64 userId, const Page &page) const;
    // The refusal when `items` would change another person's block.
    std::optional<HttpResponse> ownBlocksOnly(qint64 userId, const Page &page,
                                              const std::vector<BlockInput> &items) const;
    void deleteBlock(qint64 blockId); // with the blocks under it
    // Saves a snapshot unless it would repeat the page's latest one.
    void recordVersion(const Page &page, qint64 userId);
    void purgePage(qint64 pageId);

    std::vector<const Block *> blocksOf(qint64 pageId) const; // by position, then id
    QString pageText(const Page &page) const;                 // title and block texts, one per line
    static QString blockText(const Block &block);

    static JSONObject pageJson(const Page &page);
    static JSONObject blockJson(const Block &block);
    static JSONObject folderJson(const Folder &folder);
    static JSONValue stamp(const QDateTime &when); // null when unset
    static JSONValue idOrNull(qint64 id);
    template <typename T>
    static JSONValue orNull(const std::optional<T> &value)
    {
        return value ? JSONValue(*value) : JSONValue();
    }
    JSONValue userName(qint64 userId) const; // null for someone unknown
    static QDateTime now();
    static HttpResponse ok(); // {"ok": true}

private:
    enum class Rest { Delete, Keep }; // what becomes of the page's blocks the items leave out
    std::vector<qint64> storeBlocks(const Page &page, const std::vector<BlockInput> &items, qint64 authorId,
                                    Rest rest);
    JSONObject snapshot(const Page &page) const;

    FakeService &m_service;
};
