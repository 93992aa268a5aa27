#include "support/service_page.h"

#include "api/wire/blocks.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "store/sync_engine.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QTest>

ServicePage::ServicePage(FakeService &fake, const QString &token, LocalStore &store, ServiceClient &client,
                         const QString &pageLocalID)
    : m_fake(fake)
    , m_token(token)
    , m_store(store)
    , m_engine(std::make_unique<SyncEngine>(store, client))
{
    const qint64 userId = fake.state().sessions.value(token).userId;
    qint64 workspaceId = 0;
    for (const auto &[id, workspace] : fake.state().workspaces) {
        if (workspace.ownerUserId == userId) {
            workspaceId = id;
            break;
        }
    }
    TestDevice maker(fake.origin(), token);
    const FNPage made = maker.addPage(workspaceId, QStringLiteral("Written late"));
    if (!maker.sync() || !maker.page(made.localID))
        return;
    FNPage page = *maker.page(made.localID);
    page.localID = pageLocalID;
    m_store.upsertPage(page);
    m_pageId = page.serverID;
    for (const FNBlock *block : m_store.blocksOfPage(pageLocalID)) {
        FNBlock b = *block;
        b.pageServerID = m_pageId;
        m_store.upsertBlock(b);
    }
}

ServicePage::~ServicePage() = default;

int ServicePage::queuedUpsertsCarrying(const QString &blockLocalID) const
{
    int count = 0;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() != SyncOpKind::BlockUpsert)
            continue;
        for (const BlockUpsertItem &item : sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8()).blocks)
            count += item.client_id == blockLocalID ? 1 : 0;
    }
    return count;
}

bool ServicePage::push()
{
    // A cycle the queuing started may be under way: this one must run after it, in full.
    if (!QTest::qWaitFor([this] { return !m_engine->isSyncing(); }))
        return false;
    return runTask(m_engine->syncNow()).ok();
}

std::optional<JSONObject> ServicePage::serviceContent(const QString &blockLocalID) const
{
    for (const auto &block : m_fake.storedBlocks(m_pageId)) {
        if (block.clientId == blockLocalID)
            return block.content;
    }
    return std::nullopt;
}

std::optional<JSONObject> ServicePage::otherDeviceContent(const QString &blockLocalID)
{
    const FNBlock *mine = m_store.block(blockLocalID);
    if (!mine || mine->serverID == 0)
        return std::nullopt;
    if (!m_other)
        m_other = std::make_unique<TestDevice>(m_fake.origin(), m_token);
    if (!m_other->sync())
        return std::nullopt;
    for (const FNBlock &block : m_other->store().state().blocks) {
        if (block.serverID == mine->serverID && !block.deletedAt)
            return parseJSONObject(block.contentJSON.toUtf8());
    }
    return std::nullopt;
}
