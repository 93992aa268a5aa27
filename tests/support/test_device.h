#pragma once

#include "api/wire/pages.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "support/device_services.h"
#include "ui/app_context.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

// One device for sync tests: its own data folder, keyring, session, client at `origin` and engine,
// queuing outbox operations the way the editors do.
class TestDevice
{
public:
    explicit TestDevice(const QString &origin, const std::optional<QString> &token = std::nullopt,
                        std::chrono::milliseconds saveDelay = std::chrono::milliseconds(5));
    ~TestDevice();

    LocalStore &store() { return *m_store; }
    SecretStore &secrets() { return m_services->secrets; }
    SessionStore &session() { return m_services->session; }
    ServiceClient &client() { return m_services->client; }
    AppEvents &events() { return m_services->events; }
    Connectivity &connectivity() { return m_services->connectivity; }
    DatabaseRowUpdates &databaseRows() { return m_services->databaseRows; }
    SyncEngine &engine() { return *m_engine; }
    MemorySecretBackend &keyring() { return *m_keyring; }
    QString folder() const { return m_dir.path(); }
    // The device's world for views: store, engine, session, client, events and connectivity.
    AppContext context();

    // Signs in with the token, or out without one.
    void setToken(const std::optional<QString> &token);
    // One cycle of its own, after any the engine began by itself; true when it ended without an error.
    bool sync();

    // A new live page, queued as "page"/"create".
    FNPage addPage(qint64 workspaceId, const QString &title);
    // A new block with {"text": text}; nothing queued (the page's upsert carries it).
    FNBlock addBlock(const QString &pageLocalID, const QString &text, qint64 position);
    // An edit as the editor makes it: the page's next upsert carries the block.
    void setBlockText(const QString &blockLocalID, const QString &text);
    // "block"/"upsert" with the blocks edited since the last one and those not yet on the service;
    // false when the page has no server id.
    bool queueBlockUpsert(const QString &pageLocalID);
    void queuePageUpdate(const QString &pageLocalID, PagePatchReq patch);
    void queuePageDelete(const QString &pageLocalID);
    void queueBlockDelete(const QString &blockLocalID);
    // Appends a raw operation (tests of odd payloads).
    FNSyncOp queueRaw(const QString &entity, const QString &op, const QString &refLocalID,
                      const QString &payloadJSON,
                      const QDateTime &createdAt = QDateTime::currentDateTimeUtc());

    const FNPage *page(const QString &localID) const;
    const FNPage *pageWithServerID(qint64 serverID) const;
    const FNBlock *block(const QString &localID) const;
    std::vector<FNBlock> liveBlocks(const QString &pageLocalID) const; // by position
    static QString textOf(const FNBlock &block);

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_settingsDir;
    std::shared_ptr<MemorySecretBackend> m_keyring;
    std::unique_ptr<DeviceServices> m_services;
    std::unique_ptr<LocalStore> m_store;
    std::unique_ptr<SyncEngine> m_engine;
};
