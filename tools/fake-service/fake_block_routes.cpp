#include "fake-service/fake_block_routes.h"

#include "fake-service/fake_input.h"
#include "fake-service/fake_suggest_role.h"

#include <QSet>

#include <memory>

namespace {

const QString BlocksPath = QStringLiteral("/api/blocks.php");

} // namespace

void FakeBlockRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeBlockRoutes> routes(new FakeBlockRoutes(service));
    service.route("GET", BlocksPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", BlocksPath, [routes](const FakeService::Call &c) { return routes->upsert(c); });
    service.route("DELETE", BlocksPath, [routes](const FakeService::Call &c) { return routes->remove(c); });
}

FakeBlockRoutes::FakeBlockRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeBlockRoutes::list(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    JSONArray blocks;
    for (const auto *block : m_content.blocksOf(check.page->id))
        blocks.emplace_back(FakeContent::blockJson(*block));
    return FakeService::reply(200, JSONObject{{QStringLiteral("blocks"), std::move(blocks)}});
}

HttpResponse FakeBlockRoutes::upsert(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const JSONArray list = in.array(QStringLiteral("blocks"));
    if (in.failed())
        return in.failure();

    // Every item is checked before anything is stored: a bad batch changes nothing.
    std::vector<FakeContent::BlockInput> items;
    QSet<QString> clientIds;
    QSet<qint64> ids;
    for (size_t i = 0; i < list.size(); ++i) {
        const QString context = QStringLiteral("blocks[%1]").arg(i);
        if (!list[i].isObject())
            return FakeService::error(400, context + QStringLiteral(" must be an object"));
        FakeInput item(list[i].toObject(), context);
        FakeContent::BlockInput block;
        block.clientId = item.string(QStringLiteral("client_id"));
        block.id = item.optId(QStringLiteral("id")).value_or(0);
        block.type = item.string(QStringLiteral("type"));
        block.content = item.object(QStringLiteral("content"));
        block.position = item.integer(QStringLiteral("position"));
        block.parentBlockId = item.optId(QStringLiteral("parent_block_id")).value_or(0);
        if (!item.failed() && block.clientId.isEmpty())
            item.fail(context + QStringLiteral(".client_id can't be empty"));
        if (!item.failed() && block.type.isEmpty())
            item.fail(context + QStringLiteral(".type can't be empty"));
        if (!item.failed() && clientIds.contains(block.clientId))
            item.fail(context + QStringLiteral(".client_id repeats an earlier item"));
        if (!item.failed() && block.id != 0 && ids.contains(block.id))
            item.fail(context + QStringLiteral(".id repeats an earlier item"));
        if (item.failed())
            return item.failure();
        clientIds.insert(block.clientId);
        if (block.id != 0)
            ids.insert(block.id);
        items.push_back(std::move(block));
    }

    FakeSuggestRole suggest(m_content);
    if (const FakeContent::PageCheck seen = m_content.checkPage(call.userId, pageId, FakeContent::Need::View);
        seen.page && suggest.suggestsOnly(call.userId, *seen.page))
        return suggest.proposeBlocks(call.userId, *seen.page, items);
    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    if (const auto refusal = m_content.ownBlocksOnly(call.userId, *check.page, items))
        return *refusal;
    const std::vector<qint64> stored = m_content.upsertBlocks(*check.page, items, call.userId);
    m_content.recordVersion(*check.page, call.userId);

    JSONArray acks;
    for (size_t i = 0; i < items.size(); ++i) {
        acks.emplace_back(JSONObject{{QStringLiteral("client_id"), items[i].clientId},
                                     {QStringLiteral("id"), stored[i]},
                                     {QStringLiteral("position"), items[i].position}});
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("blocks"), std::move(acks)}});
}

HttpResponse FakeBlockRoutes::remove(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 blockId = in.queryId(QStringLiteral("block_id"));
    if (in.failed())
        return in.failure();
    const auto it = m_content.state().blocks.find(blockId);
    if (it == m_content.state().blocks.end())
        return FakeService::error(404, QStringLiteral("Block not found"));
    FakeSuggestRole suggest(m_content);
    if (const FakeContent::PageCheck seen =
            m_content.checkPage(call.userId, it->second.pageId, FakeContent::Need::View);
        seen.page && suggest.suggestsOnly(call.userId, *seen.page)) {
        suggest.proposeDelete(call.userId, it->second);
        return FakeContent::ok();
    }
    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, it->second.pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    if (it->second.authorId != call.userId && m_content.editsOwnOnly(call.userId, *check.page))
        return FakeService::error(403, QStringLiteral("You can only delete blocks you created."));
    m_content.deleteBlock(blockId);
    return FakeContent::ok();
}
