#pragma once

#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "ui/app_context.h"

#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class EmojiPicker;
class EmptyStateView;
class LibraryCreator;
class LibraryDeleter;
class LibraryDock;
class LibraryListView;
class LibraryMover;
class LibraryRefresher;
class LibraryRowEditor;
class LibraryRowModel;
class LibrarySearch;
class LibraryTree;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QToolButton;
class WorkspaceSwitcher;

// The main window's sidebar: the workspace switcher, the search field, the favourites and the folder
// and page tree (or the search results), and the dock. It lays out and forwards; the tree, the
// refresh, the creating, the switching, the row edits, deleting, moving and searching live in plain
// objects it owns. The page to open and the other requests to the main window leave as signals.
class LibraryView : public QWidget
{
    Q_OBJECT
public:
    // Needs the context's store, client, events and sync engine; favourites and templates may be absent.
    explicit LibraryView(const AppContext &context, QWidget *parent = nullptr);
    ~LibraryView() override;

    // The page the main window shows, drawn as selected.
    void setSelectedPageLocalID(const std::optional<QString> &localID);
    std::optional<QString> selectedPageLocalID() const { return m_selected; }

    // Places a widget in the search row above the list (the sidebar places its own field there).
    void setSearchField(QWidget *field);
    // In-place renames pause the refresh while either is set.
    void setRenamingFolderID(const std::optional<QString> &localID);
    void setRenamingPageID(const std::optional<QString> &localID);
    std::optional<QString> renamingFolderID() const { return m_renamingFolderID; }
    std::optional<QString> renamingPageID() const { return m_renamingPageID; }

    LibraryTree &tree() { return *m_tree; }
    LibraryCreator &creator() { return *m_creator; }
    LibraryRefresher &refresher() { return *m_refresher; }
    WorkspaceSwitcher &switcher() { return *m_switcher; }
    LibraryRowModel &rowModel() { return *m_model; }
    LibraryRowEditor &rowEditor() { return *m_rowEditor; }
    LibraryDeleter &deleter() { return *m_deleter; }
    LibraryMover &mover() { return *m_mover; }
    LibrarySearch &search() { return *m_search; }
    LibraryListView *listView() const { return m_list; }
    QLineEdit *searchEdit() const { return m_searchEdit; }
    QToolButton *searchClearButton() const { return m_searchClear; }
    // "No matches", shown in place of the list when a search finds nothing.
    EmptyStateView *noMatchesView() const { return m_noMatches; }
    LibraryDock *dock() const { return m_dock; }
    QPushButton *workspaceButton() const { return m_workspaceButton; }
    QLabel *workspaceLabel() const { return m_workspaceName; }
    QMenu *workspaceMenu() const { return m_workspaceMenu; }

    // Runs each time the sidebar comes on screen: a refresh, and the stored expansion the first time.
    void handleAppear();
    // Opens or closes a folder (a page row opens its page).
    void activateRow(const QModelIndex &index);

    // The row's context menu, owned by the caller; null for rows without one.
    QMenu *contextMenu(const QModelIndex &index);
    // Opens the rename field on a folder or page row.
    void beginRename(const QModelIndex &index);
    // Opens the emoji picker for a folder's icon under its row. The picker is made on first use and
    // kept; the folder it serves is held only while it is open.
    void showIconPicker(const QString &folderLocalID);
    EmojiPicker *iconPicker() const;
    const std::optional<QString> &iconPickerFolder() const { return m_iconPickerFolder; }
    // The first row showing this row id ("folder:..." or "page:..."), or an invalid index.
    QModelIndex indexOfRow(const QString &rowID) const;

Q_SIGNALS:
    // Open this page in the editor.
    void pageSelected(const QString &localID);
    // A page was just made here; `pageSelected` follows for it.
    void pageCreated(const QString &localID);
    // Show no page (the home screen).
    void homeRequested();
    // Show the trash.
    void trashRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildWorkspaceSwitcher();
    void refreshWorkspaceSwitcher();
    void fillWorkspaceMenu();
    // The rows listed anew at the next turn of the event loop.
    void scheduleRebuild();
    // A record changed on its own: unless it moved, only its rows take the new text.
    void scheduleRowEdit(bool folder, const QString &localID);
    void rebuild();
    void selectPage(const QString &localID);
    void clearSelection();
    void refreshTemplates();
    void buildSearchField();
    void connectRows();
    void trackRenameEditor(QLineEdit *editor, const QModelIndex &index);
    void submitRename(const QString &rowID, const QString &text);
    // Replacing the rows closes the open rename field: it is held before and opened again after on
    // the same record's row as it was, or its rename ends unsent when the record has no row left.
    void holdRenameField();
    void reopenRenameField();
    void endRenameUnsent(const QString &rowID);
    void dropOnFolder(const QString &payload, const QString &folderLocalID);
    void dropOnPage(const QString &payload, const QString &pageLocalID);
    std::optional<FNFolder> folderRecord(const QString &localID) const;
    std::optional<FNPage> pageRecord(const QString &localID) const;

    AppContext m_context;
    LibraryTree *m_tree;
    LibraryCreator *m_creator;
    LibraryRefresher *m_refresher;
    WorkspaceSwitcher *m_switcher;
    LibraryRowModel *m_model;
    LibraryRowEditor *m_rowEditor;
    LibraryDeleter *m_deleter;
    LibraryMover *m_mover;
    LibrarySearch *m_search;

    QWidget *m_workspaceRow = nullptr;
    QPushButton *m_workspaceButton = nullptr;
    QLabel *m_workspaceSymbol = nullptr;
    QLabel *m_workspaceName = nullptr;
    QLabel *m_workspaceChevron = nullptr;
    QMenu *m_workspaceMenu = nullptr;
    QWidget *m_searchRow = nullptr;
    QHBoxLayout *m_searchLayout = nullptr;
    LibraryListView *m_list = nullptr;
    EmptyStateView *m_noMatches = nullptr;
    LibraryDock *m_dock = nullptr;
    QLineEdit *m_searchEdit = nullptr;
    QToolButton *m_searchClear = nullptr;
    QPointer<EmojiPicker> m_iconPicker;
    std::optional<QString> m_iconPickerFolder;

    QTimer m_rebuild;
    bool m_listAnew = true; // else only the records below changed since the last rebuild
    QSet<QString> m_editedFolders;
    QSet<QString> m_editedPages;
    std::optional<QString> m_selected;
    std::optional<QString> m_renamingFolderID;
    std::optional<QString> m_renamingPageID;
    QString m_editingRowID; // the row whose rename field is open
    QString m_renameDraft;  // that field's text
    QPointer<QLineEdit> m_renameField;
    QPersistentModelIndex m_renameIndex;

    // A rename field while the rows are replaced under it.
    struct HeldRename {
        QString rowID;
        int occurrence = 0; // among the rows showing the record: a favourite page shows twice
        QString text;
        int cursor = 0;
        int selectionStart = -1;
        int selectionLength = 0;
    };
    std::optional<HeldRename> m_heldRename;
};
