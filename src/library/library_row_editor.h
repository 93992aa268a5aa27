#pragma once

#include "api/wire/folders.h"
#include "store/fn_folder.h"

#include <QObject>
#include <QString>

#include <optional>

class LocalStore;
class SyncEngine;

// The in-place edits of the sidebar's rows: renaming folders and pages, and a folder's icon. Each change
// is stored at once and goes through the outbox: a folder's as a "folder"/"update" operation (sent
// once the folder is on the service), a page's new title as a "page"/"update" one.
class LibraryRowEditor : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFolderIcon = "\U0001F4C1";

    LibraryRowEditor(LocalStore &store, SyncEngine &engine, QObject *parent = nullptr);

    // Local id of the folder or page whose name is being edited; at most one of each.
    const std::optional<QString> &renamingFolderID() const { return m_renamingFolderID; }
    const std::optional<QString> &renamingPageID() const { return m_renamingPageID; }

    // Each begin returns the text the field starts with: the folder's name, the page's stored title
    // (empty for an untitled page). Beginning on another record drops the first edit unsaved.
    QString beginFolderRename(const QString &localID);
    QString beginPageRename(const QString &localID);
    // Ends the rename in every case; stores and sends the trimmed draft when it is not empty and
    // differs from the current name.
    void commitFolderRename(const QString &localID, const QString &draft);
    void commitPageRename(const QString &localID, const QString &draft);
    void cancelFolderRename();
    void cancelPageRename();

    // The icon chosen in the picker for the folder as stored now; an empty icon means the folder emoji.
    void applyFolderIcon(const QString &icon, const QString &folderLocalID);

    // Queues a folder's new name or icon and starts a sync.
    void pushFolderChange(const FNFolder &folder, const std::optional<QString> &name,
                          const std::optional<QString> &icon);

Q_SIGNALS:
    void renamingChanged();

private:
    LocalStore &m_store;
    SyncEngine &m_engine;
    std::optional<QString> m_renamingFolderID;
    std::optional<QString> m_renamingPageID;
};
