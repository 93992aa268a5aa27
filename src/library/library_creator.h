#pragma once

#include "api/wire/blocks.h"
#include "store/create_adoption.h"
#include "store/fn_block.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/page_template.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;
class SyncEngine;
class TemplateStore;

// Makes folders and pages from the sidebar. Everything lands in the local data at once and goes to the
// service through the outbox: a folder by "folder"/"create", a page by "page"/"create" and, in a
// folder, a "page"/"move" after it. The blocks of a page made from a template wait for the page's
// server id across sync cycles, and across restarts.
class LibraryCreator : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kNewFolderName = ::kNewFolderName;
    static constexpr const char *kFolderIcon = "\U0001F4C1";
    static constexpr const char *kUntitled = kNewPageTitle;

    // `templates` may be null (no templates). Folders stored without a queued create (by an older
    // version) get one, and so do pages whose create the service refused before.
    LibraryCreator(LocalStore &store, SyncEngine &engine, TemplateStore *templates,
                   QObject *parent = nullptr);

    // A top-level folder, or one inside `parent` when it has a server id; its create is queued and a
    // sync started. The new folder's local id; nothing without a current workspace.
    std::optional<QString> createFolder(const std::optional<FNFolder> &parent);

    // A blank page at the top level, in `folder` or under `parent` (never both). Selected through
    // pageCreated. The new page's local id; nothing without a workspace.
    std::optional<QString> createPage(const std::optional<FNPage> &parent,
                                      const std::optional<FNFolder> &folder);
    qint64 nextPagePosition(const std::optional<FNPage> &parent, const std::optional<FNFolder> &folder) const;
    // A top-level page with the template's title, icon and blocks.
    std::optional<QString> createPageFromTemplate(const PageTemplate &pageTemplate);
    void deleteTemplate(const PageTemplate &pageTemplate);

    bool hasPendingBlockUpload(const QString &pageLocalID) const
    {
        return m_pendingUploads.contains(pageLocalID);
    }

Q_SIGNALS:
    // A page was made and should be opened.
    void pageCreated(const QString &localID);
    // Ran when the owed work of new pages was looked at (after each sync cycle).
    void pendingSettled();

private:
    // Queues the block uploads of pages that have their server id by now, and keeps a page whose
    // move is queued in its folder.
    void settlePending();
    void adoptPendingWork();
    void holdQueuedMoves();
    // "page"/"create" with the page as it was made (its folder move is queued separately).
    void queuePageCreate(const FNPage &page);
    // A template block's content, its page link naming the page by server id where it has one.
    QString withLinkResolved(const QString &type, const QString &contentJSON) const;

    LocalStore &m_store;
    SyncEngine &m_engine;
    TemplateStore *m_templates;
    quint64 m_generation = 0;
    QSet<QString> m_pendingUploads; // local ids of pages whose blocks wait for the page's server id
};
