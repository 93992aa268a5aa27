#include "library/library_row_editor.h"

#include "api/wire/pages.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QPointer>

LibraryRowEditor::LibraryRowEditor(LocalStore &store, SyncEngine &engine, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(engine)
{
}

QString LibraryRowEditor::beginFolderRename(const QString &localID)
{
    const FNFolder *folder = m_store.folder(localID);
    if (!folder)
        return QString();
    const QString name = folder->name;
    m_renamingFolderID = localID;
    Q_EMIT renamingChanged();
    return name;
}

QString LibraryRowEditor::beginPageRename(const QString &localID)
{
    const FNPage *page = m_store.page(localID);
    if (!page)
        return QString();
    const QString title = page->title;
    m_renamingPageID = localID;
    Q_EMIT renamingChanged();
    return title;
}

void LibraryRowEditor::cancelFolderRename()
{
    if (!m_renamingFolderID)
        return;
    m_renamingFolderID.reset();
    Q_EMIT renamingChanged();
}

void LibraryRowEditor::cancelPageRename()
{
    if (!m_renamingPageID)
        return;
    m_renamingPageID.reset();
    Q_EMIT renamingChanged();
}

void LibraryRowEditor::commitFolderRename(const QString &localID, const QString &draft)
{
    const QString name = draft.trimmed();
    cancelFolderRename();
    // The record as stored now, not as the row drew it: a refresh may have changed it meanwhile.
    const FNFolder *stored = m_store.folder(localID);
    if (!stored || name.isEmpty() || name == stored->name)
        return;
    m_store.editFolder(localID, [&](FNFolder &folder) { folder.name = name; });
    pushFolderChange(*m_store.folder(localID), name, std::nullopt);
}

void LibraryRowEditor::commitPageRename(const QString &localID, const QString &draft)
{
    const QString title = draft.trimmed();
    cancelPageRename();
    const FNPage *stored = m_store.page(localID);
    if (!stored || title.isEmpty() || title == stored->title)
        return;
    const qint64 serverID = stored->serverID;
    // Queued before the store tells of the new title, so whoever hears of it finds what sends it. The
    // create still waiting was encoded with the old title; sent as it is, the service would keep that
    // title and the next pull would bring it back over the rename.
    if (serverID != 0 || !Outbox::of(m_store).retitlePageCreate(localID, title)) {
        PagePatchReq req;
        req.page_id = serverID;
        req.title = title;
        Outbox::of(m_store).pageUpdate(localID, req, Outbox::Unencodable::QueueNothing);
    }
    m_store.editPage(localID, [&](FNPage &page) { page.title = title; });
}

void LibraryRowEditor::applyFolderIcon(const QString &icon, const QString &folderLocalID)
{
    const QString chosen = icon.isEmpty() ? QString::fromUtf8(kFolderIcon) : icon;
    // Only the icon changes, on the folder as it is now, and the request names its current id.
    if (!m_store.editFolder(folderLocalID, [&](FNFolder &folder) { folder.icon = chosen; }))
        return;
    pushFolderChange(*m_store.folder(folderLocalID), std::nullopt, chosen);
}

void LibraryRowEditor::pushFolderChange(const FNFolder &folder, const std::optional<QString> &name,
                                        const std::optional<QString> &icon)
{
    // A create still waiting carries it: a folder sent as "New folder" and renamed after could not be
    // told from another device's new folder, were the create's answer lost.
    if (folder.serverID == 0 && Outbox::of(m_store).renameFolderCreate(folder.localID, name, icon))
        return;
    FolderPatchReq req;
    req.name = name;
    req.icon = icon;
    Outbox::of(m_store).folderUpdate(folder, req);
}
