#include "support/test_device.h"

#include "api/session_store.h"
#include "api/wire/blocks.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/local_store_testing.h"
#include "support/task_outcome.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

TestDevice::TestDevice(const QString &origin, const std::optional<QString> &token,
                       std::chrono::milliseconds saveDelay)
    : m_keyring(std::make_shared<MemorySecretBackend>())
    , m_services(std::make_unique<DeviceServices>(m_settingsDir.filePath(QStringLiteral("settings.ini")),
                                                  m_keyring, origin))
    , m_store(std::make_unique<LocalStore>(m_dir.path(), saveDelay))
    , m_engine(std::make_unique<SyncEngine>(*m_store, m_services->client))
{
    m_engine->setTickInterval(std::chrono::milliseconds(20));
    setToken(token);
}

TestDevice::~TestDevice()
{
    m_engine.reset();
}

void TestDevice::setToken(const std::optional<QString> &token)
{
    m_services->setToken(token);
}

AppContext TestDevice::context()
{
    AppContext c;
    c.store = m_store.get();
    c.syncEngine = m_engine.get();
    c.session = &m_services->session;
    c.settings = &m_services->settings;
    c.client = &m_services->client;
    c.connectivity = &m_services->connectivity;
    c.events = &m_services->events;
    c.databaseRows = &m_services->databaseRows;
    return c;
}

bool TestDevice::sync()
{
    // The engine's own queued-operation timer may have begun a cycle while another device's sync
    // turned the loop; syncNow would then return at once and leave that cycle's pull half done.
    for (int waits = 0; m_engine->isSyncing() && waits < 10; ++waits) {
        QEventLoop loop;
        QObject::connect(m_engine.get(), &SyncEngine::cycleFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return runTask(m_engine->syncNow()).ok();
}

FNPage TestDevice::addPage(qint64 workspaceId, const QString &title)
{
    FNPage page;
    page.workspaceServerID = workspaceId;
    page.title = title;
    m_store->upsertPage(page);
    PageCreateReq req;
    req.workspace_id = workspaceId;
    req.title = title;
    Outbox::of(*m_store).pageCreate(page.localID, req);
    return page;
}

FNBlock TestDevice::addBlock(const QString &pageLocalID, const QString &text, qint64 position)
{
    FNBlock block;
    block.pageLocalID = pageLocalID;
    if (const FNPage *p = page(pageLocalID))
        block.pageServerID = p->serverID;
    block.type = QStringLiteral("text");
    block.contentJSON = QString::fromUtf8(serializeJSONObject({{"text", text}}));
    block.position = position;
    m_store->upsertBlock(block);
    Outbox::of(*m_store).blockEdited(pageLocalID, block.localID, BlockFields::All);
    return block;
}

void TestDevice::setBlockText(const QString &blockLocalID, const QString &text)
{
    m_store->editBlock(blockLocalID, [&](FNBlock &b) {
        b.contentJSON = QString::fromUtf8(serializeJSONObject({{"text", text}}));
    });
    if (const FNBlock *b = block(blockLocalID))
        Outbox::of(*m_store).blockEdited(b->pageLocalID, blockLocalID, BlockFields::Content);
}

bool TestDevice::queueBlockUpsert(const QString &pageLocalID)
{
    const FNPage *p = page(pageLocalID);
    if (!p || p->serverID == 0)
        return false;
    Outbox::of(*m_store).pageBlocksUpsert(pageLocalID);
    return true;
}

void TestDevice::queuePageUpdate(const QString &pageLocalID, PagePatchReq patch)
{
    if (const FNPage *p = page(pageLocalID))
        patch.page_id = p->serverID;
    Outbox::of(*m_store).pageUpdate(pageLocalID, patch, Outbox::Unencodable::QueueNothing);
}

void TestDevice::queuePageDelete(const QString &pageLocalID)
{
    const FNPage *p = page(pageLocalID);
    const qint64 id = p ? p->serverID : 0;
    m_store->markPageDeleted(pageLocalID);
    Outbox::of(*m_store).pageDelete(pageLocalID, id);
}

void TestDevice::queueBlockDelete(const QString &blockLocalID)
{
    const FNBlock *b = block(blockLocalID);
    const qint64 id = b ? b->serverID : 0;
    m_store->markBlockDeleted(blockLocalID);
    Outbox::of(*m_store).blockDelete(blockLocalID, id);
}

FNSyncOp TestDevice::queueRaw(const QString &entity, const QString &op, const QString &refLocalID,
                              const QString &payloadJSON, const QDateTime &createdAt)
{
    FNSyncOp o;
    o.entity = entity;
    o.op = op;
    o.refLocalID = refLocalID;
    o.payloadJSON = payloadJSON;
    o.createdAt = createdAt;
    m_store->changeOutsideRecords([&](StoreState &s) { s.outbox.push_back(o); });
    LocalStoreTesting::scheduleSave(*m_store);
    return o;
}

const FNPage *TestDevice::page(const QString &localID) const
{
    return m_store->page(localID);
}

const FNPage *TestDevice::pageWithServerID(qint64 serverID) const
{
    return m_store->pageWithServerID(serverID);
}

const FNBlock *TestDevice::block(const QString &localID) const
{
    return m_store->block(localID);
}

std::vector<FNBlock> TestDevice::liveBlocks(const QString &pageLocalID) const
{
    std::vector<FNBlock> out;
    for (const FNBlock &b : m_store->state().blocks) {
        if (b.pageLocalID == pageLocalID && !b.deletedAt)
            out.push_back(b);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const FNBlock &a, const FNBlock &b) { return a.position < b.position; });
    return out;
}

QString TestDevice::textOf(const FNBlock &block)
{
    try {
        return parseJSONObject(block.contentJSON.toUtf8())[QStringLiteral("text")].toString();
    } catch (const DecodeError &) {
        return QString();
    }
}
