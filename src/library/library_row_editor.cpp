#include "library/library_row_editor.h"

#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QPointer>

LibraryRowEditor::LibraryRowEditor(LocalStore &store, SecretStore &secrets, SyncEngine &engine,
                                   QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(engine)
{
    Q_UNUSED(secrets);
}

QString LibraryRowEditor::beginFolderRename(const QString &localID)
{
    const qsizetype index = m_store.indexOfFolder(localID);
    if (index < 0)
        return QString();
    m_renamingFolderID = localID;
    Q_EMIT renamingChanged();
    return m_store.state().folders[size_t(index)].name;
}

QString LibraryRowEditor::beginPageRename(const QString &localID)
{
    const qsizetype index = m_store.indexOfPage(localID);
    if (index < 0)
        return QString();
    m_renamingPageID = localID;
    Q_EMIT renamingChanged();
    return m_store.state().pages[size_t(index)].title;
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
    const qsizetype index = m_store.indexOfFolder(localID);
    if (index < 0 || name.isEmpty() || name == m_store.state().folders[size_t(index)].name)
        return;
    FNFolder folder = m_store.state().folders[size_t(index)];
    folder.name = name;
    m_store.upsertFolder(folder);
    m_store.scheduleSave();
    pushFolderChange(folder, name, std::nullopt);
}

void LibraryRowEditor::commitPageRename(const QString &localID, const QString &draft)
{
    const QString title = draft.trimmed();
    cancelPageRename();
    const qsizetype index = m_store.indexOfPage(localID);
    if (index < 0 || title.isEmpty() || title == m_store.state().pages[size_t(index)].title)
        return;
    FNPage page = m_store.state().pages[size_t(index)];
    page.title = title;
    page.updatedAt = QDateTime::currentDateTimeUtc();
    m_store.upsertPage(page);
    m_store.scheduleSave();
    if (page.serverID == 0 && retitleQueuedCreate(localID, title))
        return;

    PagePatchReq req;
    req.page_id = page.serverID;
    req.title = title;
    Outbox::of(m_store).pageUpdate(localID, req, Outbox::Unencodable::QueueNothing);
    SyncEngine::syncQuietly(&m_engine);
}

bool LibraryRowEditor::retitleQueuedCreate(const QString &pageLocalID, const QString &title)
{
    // The create still waiting in the outbox was encoded with the old title; sent as it is, the
    // service would keep that title and the next pull would bring it back over the rename. One that
    // went out without an answer keeps the body it was sent with, by which its page is recognised
    // on the service: the rename follows it as an update instead.
    bool rewritten = false;
    bool sentUnanswered = false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            if (op.kind() != SyncOpKind::PageCreate ||
                op.refLocalID != pageLocalID)
                continue;
            if (op.unanswered) {
                sentUnanswered = true;
                continue;
            }
            try {
                PageCreateReq req = sharedJSONDecode<PageCreateReq>(op.payloadJSON.toUtf8());
                req.title = title;
                op.payloadJSON = QString::fromUtf8(sharedJSONEncode(req));
                rewritten = true;
            } catch (...) {
                // An unreadable payload is left for the sync engine to judge.
                rewritten = true;
            }
        }
    });
    m_store.scheduleSave();
    return rewritten || !sentUnanswered;
}

void LibraryRowEditor::applyFolderIcon(const QString &icon, const QString &folderLocalID)
{
    const QString chosen = icon.isEmpty() ? QString::fromUtf8(kFolderIcon) : icon;
    const qsizetype index = m_store.indexOfFolder(folderLocalID);
    if (index < 0)
        return;
    // Only the icon changes, on the folder as it is now, and the request names its current id.
    FNFolder folder = m_store.state().folders[size_t(index)];
    folder.icon = chosen;
    m_store.upsertFolder(folder);
    m_store.scheduleSave();
    pushFolderChange(folder, std::nullopt, chosen);
}

void LibraryRowEditor::pushFolderChange(const FNFolder &folder, const std::optional<QString> &name,
                                        const std::optional<QString> &icon)
{
    FolderPatchReq req;
    req.name = name;
    req.icon = icon;
    Outbox::of(m_store).folderUpdate(folder, req);
    SyncEngine::syncQuietly(&m_engine);
}
