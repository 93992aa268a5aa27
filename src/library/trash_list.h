#pragma once

#include "api/wire/pages.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;
class ServiceClient;
class SyncEngine;

// What the trash window shows: the current workspace's trashed pages as the service lists them, the
// load and error state, the one entry whose restore or purge runs and the one awaiting confirmation
// of its purge. Restoring puts the page back on the service and on this device.
class TrashList : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kUntitled = "Untitled";
    static constexpr const char *kPageIcon = "\U0001F4C4";
    static constexpr const char *kDeleted = "Deleted ";

    TrashList(LocalStore &store, ServiceClient &client, SyncEngine &engine, QObject *parent = nullptr);

    const std::vector<PageDTO> &items() const { return m_items; }
    bool isLoading() const { return m_loading; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<qint64> &busyID() const { return m_busyID; }
    const std::optional<qint64> &pendingPurge() const { return m_pendingPurge; }

    // Reads the list again; without a token or a workspace it only ends the loading state.
    QCoro::Task<> load();

    // The row actions. Without a token, restore and the confirmed purge do nothing at all.
    void restore(qint64 id);
    void requestPurge(qint64 id);
    void cancelPurge();
    void confirmPurge(qint64 id);

    QCoro::Task<> restoreFromTrash(PageDTO entry);
    QCoro::Task<> purgePage(PageDTO entry);

    // How a row shows its entry.
    static QString titleOf(const PageDTO &entry);
    static QString iconOf(const PageDTO &entry);
    // "Deleted " and the first 16 characters of the deletion time (the last change of a trashed
    // page), or of the creation time when the service sent no change time.
    static QString deletedStamp(const PageDTO &entry);

Q_SIGNALS:
    void changed();

private:
    const PageDTO *entry(qint64 id) const;
    // The listed entry, or one with only its id when the list no longer holds it.
    PageDTO entryOrBlank(qint64 id) const;
    void setBusy(std::optional<qint64> id);

    LocalStore &m_store;
    ServiceClient &m_client;
    SyncEngine &m_engine;
    std::vector<PageDTO> m_items;
    bool m_loading = true;
    std::optional<QString> m_error;
    std::optional<qint64> m_busyID;
    std::optional<qint64> m_pendingPurge;
};
