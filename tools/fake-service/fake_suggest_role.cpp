#include "fake-service/fake_suggest_role.h"

#include <QSet>

namespace {

const QString kBlockCreate = QStringLiteral("block_create");
const QString kBlockUpdate = QStringLiteral("block_update");
const QString kBlockDelete = QStringLiteral("block_delete");
const QString kTitleChange = QStringLiteral("title_change");
const QString kPending = QStringLiteral("pending");

} // namespace

FakeSuggestRole::FakeSuggestRole(FakeContent &content)
    : m_content(content)
{
}

bool FakeSuggestRole::suggestsOnly(qint64 userId, const FakeContent::Page &page) const
{
    if (!m_content.memberRole(userId, page.workspaceId).isEmpty())
        return false;
    for (const auto &entry : m_content.state().shares) {
        const auto &share = entry.second;
        if (share.pageId == page.id && share.userId == userId)
            return share.role == QLatin1String("suggest");
    }
    return false;
}

HttpResponse FakeSuggestRole::proposeBlocks(qint64 userId, const FakeContent::Page &page,
                                            const std::vector<FakeContent::BlockInput> &items)
{
    FakeServiceState &s = m_content.state();
    JSONArray acks;
    for (const FakeContent::BlockInput &item : items) {
        const FakeContent::Block *stored = nullptr;
        for (const FakeContent::Block *b : m_content.blocksOf(page.id)) {
            if (item.id != 0 ? b->id == item.id : (!item.clientId.isEmpty() && b->clientId == item.clientId))
                stored = b;
        }
        qint64 id = 0;
        if (stored) {
            id = stored->id;
            if (stored->type != item.type || stored->content != item.content) {
                propose(userId, page.id, kBlockUpdate, id,
                        JSONObject{{QStringLiteral("type"), item.type},
                                   {QStringLiteral("content"), item.content}});
            }
        } else {
            // A block the page does not hold yet: its proposal is found again by the id handed out
            // for it, or by the device's name for it while that id has not come back to the device.
            for (const auto &entry : s.suggestions) {
                const auto &earlier = entry.second;
                if (earlier.userId == userId && earlier.pageId == page.id && earlier.kind == kBlockCreate &&
                    (item.id != 0 ? earlier.blockId == item.id : earlier.clientId == item.clientId))
                    id = earlier.blockId;
            }
            if (id == 0 || s.blocks.count(id) != 0)
                id = s.nextBlockId++;
            JSONObject payload{{QStringLiteral("type"), item.type},
                               {QStringLiteral("content"), item.content},
                               {QStringLiteral("position"), item.position}};
            if (item.parentBlockId != 0)
                payload[QStringLiteral("parent_block_id")] = item.parentBlockId;
            propose(userId, page.id, kBlockCreate, id, payload, item.clientId);
        }
        acks.emplace_back(JSONObject{{QStringLiteral("client_id"), item.clientId},
                                     {QStringLiteral("id"), id},
                                     {QStringLiteral("position"), item.position}});
    }
    // A block left out stays as it is: deleting one is a DELETE of its own.
    return FakeService::reply(200, JSONObject{{QStringLiteral("blocks"), std::move(acks)}});
}

void FakeSuggestRole::proposeDelete(qint64 userId, const FakeContent::Block &block)
{
    // The content lets the owner see what would go.
    propose(userId, block.pageId, kBlockDelete, block.id,
            JSONObject{{QStringLiteral("content"), block.content}});
}

void FakeSuggestRole::proposeTitle(qint64 userId, const FakeContent::Page &page, const QString &title)
{
    if (title != page.title)
        propose(userId, page.id, kTitleChange, 0, JSONObject{{QStringLiteral("title"), title}});
}

void FakeSuggestRole::propose(qint64 userId, qint64 pageId, const QString &kind, qint64 blockId,
                              const JSONObject &payload, const QString &clientId)
{
    FakeServiceState &s = m_content.state();
    FakeServiceState::Suggestion *last = nullptr;
    for (auto &entry : s.suggestions) {
        auto &earlier = entry.second;
        if (earlier.userId == userId && earlier.pageId == pageId && earlier.kind == kind &&
            earlier.blockId == blockId)
            last = &earlier;
    }
    if (last && last->payload == payload)
        return;
    if (last && last->status == kPending) {
        last->payload = payload;
        return;
    }
    FakeServiceState::Suggestion suggestion;
    suggestion.id = s.nextSuggestionId++;
    suggestion.pageId = pageId;
    suggestion.blockId = blockId;
    suggestion.userId = userId;
    suggestion.kind = kind;
    suggestion.clientId = clientId;
    suggestion.payload = payload;
    suggestion.createdAt = FakeContent::now();
    s.suggestions[suggestion.id] = suggestion;
}
