#pragma once

#include "store/fn_folder.h"
#include "store/fn_page.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

class LibraryCreator;
class LocalStore;
class SyncEngine;

// Moves pages and folders within the sidebar tree, from drops and from "Move to root". The local
// records change first, so the tree shows the result at once; then the service is told through the
// outbox: a folder's new parent as a "folder"/"update", a page's new folder as a "page"/"move", page
// positions as "page"/"update" operations.
class LibraryMover : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kPagePrefix = "page:";
    static constexpr const char *kFolderPrefix = "folder:";
    static constexpr const char *kHandleToolTip = "Drag to move";

    LibraryMover(LocalStore &store, SyncEngine &engine, LibraryCreator &creator, QObject *parent = nullptr);

    // The text a drag carries for a record.
    static QString pagePayload(const QString &localID);
    static QString folderPayload(const QString &localID);

    // A drop on a folder row (its server id) or on the list root (0): the named page goes into the
    // folder, the named folder becomes its subfolder.
    void handleFolderDrop(const QString &payload, qint64 targetFolderServerID);
    // A drop on the folder's row, whether or not the folder is on the service yet.
    void handleDropOnFolder(const QString &payload, const FNFolder &target);
    // A drop on a page row: the named page takes the target's place among its siblings, just before it.
    void handlePageDrop(const QString &payload, const FNPage &target);
    // "Move to root" (0) or any folder: the page keeps its parent page and position.
    void movePage(const FNPage &page, qint64 folderServerID);

    // True when putting `dragged` into the folder `targetFolderServerID` would make it its own
    // ancestor. Walks the whole chain of parents; a loop already in the data ends the walk.
    bool wouldCreateCycle(qint64 targetFolderServerID, const FNFolder &dragged) const;
    // True when `target` is `dragged` or lies anywhere below it among its subfolders.
    bool isWithinFolder(const FNFolder &target, const FNFolder &dragged) const;
    // True when `target` is `dragged` or lies anywhere below it among its subpages.
    bool isWithinPage(const FNPage &target, const FNPage &dragged) const;

private:
    // `targetLocalID`: the folder when it is not on the service yet (`target` 0 then).
    void dropIntoFolder(const QString &payload, qint64 target, const std::optional<QString> &targetLocalID);
    void appendPositionOp(const FNPage &page);

    LocalStore &m_store;
    SyncEngine &m_engine;
};
