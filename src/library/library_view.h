#pragma once

#include "app/app_context.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class LibraryCreator;
class LibraryDock;
class LibraryRefresher;
class LibraryRowModel;
class LibraryTree;
class QHBoxLayout;
class QLabel;
class QListView;
class QMenu;
class QModelIndex;
class QPushButton;
class WorkspaceSwitcher;

// The main window's sidebar: the workspace switcher, the search field's place, the favourites and
// the folder and page tree, and the dock. It lays out and forwards; the tree, the refresh, the
// creating and the switching live in plain objects it owns. The page to open and the other requests
// to the main window leave as signals.
class LibraryView : public QWidget
{
    Q_OBJECT
public:
    // Needs the context's store, secrets and sync engine; favourites and templates may be absent.
    explicit LibraryView(const AppContext &context, QWidget *parent = nullptr);
    ~LibraryView() override;

    // The page the main window shows, drawn as selected.
    void setSelectedPageLocalID(const std::optional<QString> &localID);
    std::optional<QString> selectedPageLocalID() const { return m_selected; }

    // The search field, placed above the list (the sidebar has none of its own).
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
    QListView *listView() const { return m_list; }
    LibraryDock *dock() const { return m_dock; }
    QPushButton *workspaceButton() const { return m_workspaceButton; }
    QLabel *workspaceLabel() const { return m_workspaceName; }
    QMenu *workspaceMenu() const { return m_workspaceMenu; }

    // Runs each time the sidebar comes on screen: a refresh, and the stored expansion the first time.
    void handleAppear();
    // Opens or closes a folder (a page row opens its page).
    void activateRow(const QModelIndex &index);

Q_SIGNALS:
    // Open this page in the editor.
    void pageSelected(const QString &localID);
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
    void scheduleRebuild();
    void rebuild();
    void selectPage(const QString &localID);
    void clearSelection();
    void refreshTemplates();

    AppContext m_context;
    LibraryTree *m_tree;
    LibraryCreator *m_creator;
    LibraryRefresher *m_refresher;
    WorkspaceSwitcher *m_switcher;
    LibraryRowModel *m_model;

    QWidget *m_workspaceRow = nullptr;
    QPushButton *m_workspaceButton = nullptr;
    QLabel *m_workspaceSymbol = nullptr;
    QLabel *m_workspaceName = nullptr;
    QLabel *m_workspaceChevron = nullptr;
    QMenu *m_workspaceMenu = nullptr;
    QWidget *m_searchRow = nullptr;
    QHBoxLayout *m_searchLayout = nullptr;
    QListView *m_list = nullptr;
    LibraryDock *m_dock = nullptr;

    QTimer m_rebuild;
    std::optional<QString> m_selected;
    std::optional<QString> m_renamingFolderID;
    std::optional<QString> m_renamingPageID;
};
