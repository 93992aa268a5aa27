#pragma once

#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "support/device_services.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class LibraryCreator;
class LibraryDeleter;
class LibraryMover;
class LibraryRefresher;
class LibraryRowEditor;
class PageViewModel;

// One signed-in device of a chaos run: its own data folder, keyring, store and engine, the
// sidebar's objects built over them as the library view builds them, and an editor model for each
// page it writes in. Every action enters where a user's would and starts what the app starts.
class ChaosDevice
{
public:
    // What a crash leaves of a device: its data folder and its keyring.
    struct Remains {
        std::unique_ptr<QTemporaryDir> dir;
        std::shared_ptr<MemorySecretBackend> keyring;
    };

    // A fresh device, or one started again on what a crash left.
    ChaosDevice(const QString &origin, const QString &token, std::function<QDateTime()> clock,
                Remains remains = {});
    ~ChaosDevice();

    // Ends the device as a crash would: the store writes nothing more (a write already under way
    // lands), then everything goes. The device is of no further use.
    Remains crash();

    LocalStore &store() { return *m_store; }
    const LocalStore &store() const { return *m_store; }
    SyncEngine &engine() { return *m_engine; }

    // A cycle, a folder create, a block flush or a request of its client still under way.
    bool isBusy() const;

    // A new untitled page or "New folder", with its create on its way; naming it is a rename.
    std::optional<QString> createPage(const std::optional<FNFolder> &folder);
    void renamePage(const QString &pageLocalID, const QString &title);
    // From the sidebar, with no undo offered: its delete goes out with the next cycle.
    void deletePage(const QString &pageLocalID);
    // Into a folder the service knows, as a drop on its row; out to the top level by "Move to root".
    void movePage(const QString &pageLocalID, const std::optional<FNFolder> &folder);
    std::optional<QString> createFolder(const std::optional<FNFolder> &parent);
    void renameFolder(const QString &folderLocalID, const QString &name);
    void setFolderIcon(const QString &folderLocalID, const QString &icon);
    // A drop on a folder row, or on the list's root without one.
    void moveFolder(const QString &folderLocalID, const std::optional<FNFolder> &parent);
    // A new block at the end of the page, typed into at once.
    std::optional<QString> addBlock(const QString &pageLocalID, const QString &text);
    void editBlock(const QString &blockLocalID, const QString &text);
    // The row's "add a block inside", then the new block typed into; its local id.
    std::optional<QString> addChildBlock(const QString &parentLocalID, const QString &text);
    // Return at the end of the block, then the new block typed into; its local id.
    std::optional<QString> insertBlockAfter(const QString &blockLocalID, const QString &text);
    // Selected in select mode, then the selection bar's delete.
    void deleteBlock(const QString &blockLocalID);
    // A drag of the block's handle dropped at `index` among the page's top-level blocks.
    void moveBlock(const QString &blockLocalID, int index);
    // Tab (+1) or Shift+Tab (-1) in the block's row.
    void indentBlock(const QString &blockLocalID, int delta);
    void sync();
    void refresh();

    std::optional<FNFolder> folder(const QString &localID) const;
    std::optional<FNPage> page(const QString &localID) const;

private:
    PageViewModel &editor(const QString &pageLocalID);
    // A row of the stored block, its changes flushed by the page's editor as the view's rows are.
    template <typename Use>
    void withRow(const QString &blockLocalID, Use use);
    void tearDown();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<MemorySecretBackend> m_keyring;
    std::unique_ptr<DeviceServices> m_services;
    std::unique_ptr<LocalStore> m_store;
    std::unique_ptr<SyncEngine> m_engine;
    std::unique_ptr<LibraryCreator> m_creator;
    std::unique_ptr<LibraryDeleter> m_deleter;
    std::unique_ptr<LibraryRowEditor> m_rowEditor;
    std::unique_ptr<LibraryMover> m_mover;
    std::unique_ptr<LibraryRefresher> m_refresher;
    std::map<QString, std::unique_ptr<PageViewModel>> m_editors; // by page local id
};
