#pragma once

#include "api/blocks_upsert_req.h"
#include "store/fn_block.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/page_template.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;
class SecretStore;
class SyncEngine;
class TemplateStore;

// Makes folders and pages from the sidebar. Everything lands in the local data at once; a folder then
// goes to the service by a direct request, a page by its outbox "page"/"create" operation. The
// follow-ups that need the page's server id (the move into its folder, the blocks of a page made
// from a template) wait for it across sync cycles, and across restarts, rather than being dropped
// when the first sync does not bring it.
class LibraryCreator : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kNewFolderName = "New folder";
    static constexpr const char *kFolderIcon = "\U0001F4C1";
    static constexpr const char *kUntitled = "Untitled";

    // `templates` may be null (no templates).
    LibraryCreator(LocalStore &store, SecretStore &secrets, SyncEngine &engine, TemplateStore *templates,
                   QObject *parent = nullptr);

    // A top-level folder, or one inside `parent` when it has a server id; its create request starts
    // at once. The new folder's local id; nothing without a current workspace.
    std::optional<QString> createFolder(const std::optional<FNFolder> &parent);
    // Sends the create of a folder that has no server id yet and records the returned id in the folder
    // as stored when the reply comes. Never two creates of one folder at a time. Silent on failure.
    QCoro::Task<> createFolderOnServer(QString localID);
    bool isFolderCreateInFlight(const QString &localID) const { return m_foldersInFlight.contains(localID); }
    bool hasFolderCreateInFlight() const { return !m_foldersInFlight.isEmpty(); }

    // A blank page at the top level, in `folder` or under `parent` (never both). Selected through
    // pageCreated. The new page's local id; nothing without a workspace.
    std::optional<QString> createPage(const std::optional<FNPage> &parent,
                                      const std::optional<FNFolder> &folder);
    qint64 nextPagePosition(const std::optional<FNPage> &parent, const std::optional<FNFolder> &folder) const;
    // A top-level page with the template's title, icon and blocks.
    std::optional<QString> createPageFromTemplate(const PageTemplate &pageTemplate);
    void deleteTemplate(const PageTemplate &pageTemplate);

    // Tells the service a page's folder (0 = top level). Changes nothing locally; silent on failure.
    QCoro::Task<> movePageToFolder(qint64 pageServerID, qint64 folderServerID);

    // The folder a new page is still to be moved into on the service, while that move is owed.
    std::optional<qint64> pendingMoveFolder(const QString &pageLocalID) const;
    // Forgets an owed move (the page was moved elsewhere by the user meanwhile).
    void cancelPendingMove(const QString &pageLocalID);
    // A page still waiting for its server id was moved by the user: the move into `folderServerID`
    // is owed instead (none for the top level, where its create puts it anyway).
    void owePageMove(const QString &pageLocalID, qint64 folderServerID);
    bool hasPendingBlockUpload(const QString &pageLocalID) const
    {
        return m_pendingUploads.contains(pageLocalID);
    }

    // The "block"/"upsert" body of a page's current live blocks whose parent is on the service; nothing
    // when the page has no server id or no such block.
    static std::optional<BlocksUpsertReq> currentBlocksUpsert(const LocalStore &store,
                                                              const QString &pageLocalID);

Q_SIGNALS:
    // A page was made and should be opened.
    void pageCreated(const QString &localID);
    // Ran when the owed work of new pages was looked at (after each sync cycle).
    void pendingSettled();
    // A folder's create request ended, whatever its outcome.
    void folderCreateFinished(const QString &localID);

private:
    QCoro::Task<> syncNewPage(QString pageLocalID);
    QCoro::Task<> queueTemplateBlocks(QString pageLocalID);
    QCoro::Task<> sendPendingMove(QString pageLocalID, qint64 pageServerID, qint64 folderServerID);
    // Sends the owed moves and block uploads of pages that have their server id by now.
    void settlePending();
    void adoptPendingWork();
    // "page"/"create" with the page as it was made (its folder move is owed separately).
    void queuePageCreate(const FNPage &page);
    void appendOp(const QString &entity, const QString &op, const QString &refLocalID,
                  const QString &payload);
    std::optional<QString> token() const;

    LocalStore &m_store;
    SecretStore &m_secrets;
    SyncEngine &m_engine;
    TemplateStore *m_templates;
    quint64 m_generation = 0;
    QSet<QString> m_foldersInFlight;
    QHash<QString, qint64> m_pendingMoves; // page local id -> folder server id
    QSet<QString> m_movesInFlight;
    QSet<QString> m_pendingUploads; // local ids of pages whose blocks wait for the page's server id
};
