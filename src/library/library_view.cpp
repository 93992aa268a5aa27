#include "library/library_view.h"

#include "editor/emoji_picker.h"
#include "library/library_creator.h"
#include "library/library_deleter.h"
#include "library/library_dock.h"
#include "library/library_list_view.h"
#include "library/library_mover.h"
#include "library/library_refresher.h"
#include "library/library_row_delegate.h"
#include "library/library_row_editor.h"
#include "library/library_row_model.h"
#include "library/library_search.h"
#include "library/library_symbols.h"
#include "library/library_tree.h"
#include "library/workspace_switcher.h"
#include "platform/app_events.h"
#include "platform/work_label.h"
#include "store/favorites_store.h"
#include "store/local_store.h"
#include "store/template_store.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/empty_state_view.h"
#include "ui/listing_watch.h"
#include "ui/shown_text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int kRowVPad = 4;
constexpr int kSymbolSize = 14;

const char *const kRename = "Rename";
const char *const kChangeIcon = "Change icon...";
const char *const kNewPageInFolder = "New page in folder";
const char *const kNewSubfolder = "New subfolder";
const char *const kDeleteFolder = "Delete folder";
const char *const kAddToFavorites = "Add to Favorites";
const char *const kRemoveFromFavorites = "Remove from Favorites";
const char *const kNewSubpage = "New subpage";
const char *const kMoveToRoot = "Move to root";
const char *const kFolderIconHeader = "Folder icon";
const char *const kDeletePage = "Delete page";

} // namespace

LibraryView::LibraryView(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    Q_ASSERT(context.store && context.client && context.syncEngine && context.events);
    LocalStore &store = *context.store;
    m_tree = new LibraryTree(store, context.favorites, this);
    m_creator = new LibraryCreator(store, *context.syncEngine, context.templates, this);
    m_refresher = new LibraryRefresher(store, *context.client, *context.syncEngine, *m_creator, this);
    m_switcher = new WorkspaceSwitcher(store, *m_refresher, this);
    m_model = new LibraryRowModel(this);
    m_rowEditor = new LibraryRowEditor(store, *context.syncEngine, this);
    m_deleter = new LibraryDeleter(store, *context.client, *context.syncEngine, *m_creator, context.toasts,
                                   context.favorites, this);
    m_mover = new LibraryMover(store, *context.syncEngine, *m_creator, this);
    m_search = new LibrarySearch(store, *context.client, this);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    buildWorkspaceSwitcher();
    column->addWidget(m_workspaceRow);

    m_searchRow = new QWidget(this);
    auto *searchOuter = new QHBoxLayout(m_searchRow);
    searchOuter->setContentsMargins(8, 6, 8, 0);
    auto *searchBox = new QFrame(m_searchRow);
    searchBox->setObjectName(QStringLiteral("librarySearchBox"));
    QColor fill = AppStyle::secondary(this);
    fill.setAlphaF(0.08);
    searchBox->setStyleSheet(
        QStringLiteral("#librarySearchBox { background: %1; border-radius: 8px; }").arg(AppStyle::css(fill)));
    m_searchLayout = new QHBoxLayout(searchBox);
    m_searchLayout->setContentsMargins(12, kRowVPad, 12, kRowVPad);
    m_searchLayout->setSpacing(8);
    searchOuter->addWidget(searchBox);
    m_searchRow->hide(); // until a search field is placed
    column->addWidget(m_searchRow);

    auto *listHolder = new QWidget(this);
    auto *listLayout = new QVBoxLayout(listHolder);
    listLayout->setContentsMargins(6, 6, 6, 0);
    m_list = new LibraryListView(listHolder);
    m_model->setParent(m_list); // deleted with the list that draws it, not before
    m_list->setModel(m_model);
    m_list->setItemDelegate(new LibraryRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setMouseTracking(true);
    m_list->viewport()->setAutoFillBackground(false);
    listLayout->addWidget(m_list);
    m_noMatches =
        new EmptyStateView(QStringLiteral("magnifyingglass"), QString::fromLatin1(LibrarySearch::kNoMatches),
                           QString(), std::nullopt, {}, listHolder);
    m_noMatches->hide();
    listLayout->addWidget(m_noMatches, 1);
    column->addWidget(listHolder, 1);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    column->addWidget(divider);

    m_dock = new LibraryDock(this);
    column->addWidget(m_dock);

    m_rebuild.setSingleShot(true);
    m_rebuild.setInterval(0);
    connect(&m_rebuild, &QTimer::timeout, this, &LibraryView::rebuild);
    // Only what the rows show: a push changes the outbox once per operation.
    auto *watch = new ListingWatch(store, this);
    connect(watch, &ListingWatch::changed, this, [this] {
        scheduleRebuild();
        refreshWorkspaceSwitcher();
    });
    connect(watch, &ListingWatch::folderChanged, this,
            [this](const QString &localID) { scheduleRowEdit(true, localID); });
    connect(watch, &ListingWatch::pageChanged, this,
            [this](const QString &localID) { scheduleRowEdit(false, localID); });
    connect(m_tree, &LibraryTree::expandedChanged, this, &LibraryView::scheduleRebuild);
    if (context.favorites)
        connect(context.favorites, &FavoritesStore::idsChanged, this, &LibraryView::scheduleRebuild);
    if (context.templates)
        connect(context.templates, &TemplateStore::templatesChanged, this, &LibraryView::refreshTemplates);

    connect(m_list, &QListView::clicked, this, &LibraryView::activateRow);
    connect(m_dock, &LibraryDock::homeClicked, this, [this] {
        clearSelection();
        Q_EMIT homeRequested();
    });
    connect(m_dock, &LibraryDock::trashClicked, this, &LibraryView::trashRequested);
    connect(m_dock, &LibraryDock::newFolderClicked, this, [this] { m_creator->createFolder(std::nullopt); });
    connect(m_dock, &LibraryDock::newPageClicked, this,
            [this] { m_creator->createPage(std::nullopt, std::nullopt); });
    connect(m_dock, &LibraryDock::templateChosen, this, [this](const QString &id) {
        if (!m_context.templates)
            return;
        const auto &all = m_context.templates->templates();
        const auto it =
            std::find_if(all.begin(), all.end(), [&](const PageTemplate &t) { return t.id == id; });
        if (it != all.end())
            m_creator->createPageFromTemplate(PageTemplate(*it));
    });
    connect(m_dock, &LibraryDock::templateDeleteChosen, this, [this](const QString &id) {
        PageTemplate chosen;
        chosen.id = id;
        m_creator->deleteTemplate(chosen);
    });
    connect(m_creator, &LibraryCreator::pageCreated, this, &LibraryView::pageCreated);
    connect(m_creator, &LibraryCreator::pageCreated, this, &LibraryView::selectPage);
    connect(m_switcher, &WorkspaceSwitcher::switched, this, [this] {
        clearSelection();
        Q_EMIT homeRequested();
    });
    // "fn.newPage" (the New Page command): handled by the sidebar while it exists.
    connect(context.events, &AppEvents::newPage, this,
            [this] { m_creator->createPage(std::nullopt, std::nullopt); });

    buildSearchField();
    connectRows();
    rebuild();
    refreshWorkspaceSwitcher();
    refreshTemplates();
}

LibraryView::~LibraryView() = default;

void LibraryView::buildWorkspaceSwitcher()
{
    m_workspaceRow = new QWidget(this);
    auto *outer = new QHBoxLayout(m_workspaceRow);
    outer->setContentsMargins(8, 6, 8, 0);

    m_workspaceButton = new QPushButton(m_workspaceRow);
    m_workspaceButton->setFlat(true);
    m_workspaceButton->setFocusPolicy(Qt::NoFocus);
    m_workspaceButton->setStyleSheet(QStringLiteral(
        "QPushButton { text-align: left; border: none; } QPushButton::menu-indicator { image: none; "
        "width: 0px; }"));
    auto *label = new QHBoxLayout(m_workspaceButton);
    label->setContentsMargins(12, kRowVPad, 12, kRowVPad);
    label->setSpacing(6);
    m_workspaceSymbol = new QLabel(m_workspaceButton);
    m_workspaceSymbol->setPixmap(
        LibrarySymbols::icon(QStringLiteral("rectangle.stack"), AppStyle::secondary(this))
            .pixmap(kSymbolSize, kSymbolSize));
    m_workspaceName = ShownText::label({}, m_workspaceButton);
    m_workspaceName->setFont(AppStyle::callout());
    m_workspaceName->setWordWrap(false);
    // A long name is cut at the column's edge instead of widening the sidebar.
    m_workspaceName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_workspaceChevron = new QLabel(m_workspaceButton);
    m_workspaceChevron->setPixmap(
        LibrarySymbols::icon(QStringLiteral("chevron.up.chevron.down"), AppStyle::tertiary(this))
            .pixmap(10, 10));
    label->addWidget(m_workspaceSymbol);
    label->addWidget(m_workspaceName, 1);
    label->addWidget(m_workspaceChevron);
    for (QLabel *part : {m_workspaceSymbol, m_workspaceName, m_workspaceChevron})
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_workspaceButton->setMinimumHeight(QFontMetrics(AppStyle::callout()).height() + 2 * kRowVPad + 4);

    m_workspaceMenu = new QMenu(m_workspaceButton);
    m_workspaceButton->setMenu(m_workspaceMenu);
    connect(m_workspaceMenu, &QMenu::aboutToShow, this, &LibraryView::fillWorkspaceMenu);
    outer->addWidget(m_workspaceButton);
}

void LibraryView::refreshWorkspaceSwitcher()
{
    m_workspaceRow->setVisible(m_switcher->isShown());
    const QString name = m_switcher->currentName();
    if (m_workspaceName->text() != name)
        m_workspaceName->setText(name);
}

void LibraryView::fillWorkspaceMenu()
{
    m_workspaceMenu->clear();
    for (const WorkspaceSwitcher::Item &item : m_switcher->items()) {
        const QIcon icon =
            LibrarySymbols::icon(item.current ? QStringLiteral("checkmark") : QStringLiteral("folder"),
                                 palette().color(QPalette::WindowText));
        const qint64 id = item.serverID;
        connect(m_workspaceMenu->addAction(icon, ShownText::mnemonicSafe(item.name)), &QAction::triggered,
                this, [this, id] { m_switcher->choose(id); });
    }
}

void LibraryView::refreshTemplates()
{
    m_dock->setTemplates(m_context.templates ? m_context.templates->templates()
                                             : std::vector<PageTemplate>{});
}

void LibraryView::setSearchField(QWidget *field)
{
    field->setFont(AppStyle::callout());
    m_searchLayout->addWidget(field);
    m_searchRow->show();
}

void LibraryView::setRenamingFolderID(const std::optional<QString> &localID)
{
    m_renamingFolderID = localID;
    m_refresher->setRenameInProgress(m_renamingFolderID || m_renamingPageID);
}

void LibraryView::setRenamingPageID(const std::optional<QString> &localID)
{
    m_renamingPageID = localID;
    m_refresher->setRenameInProgress(m_renamingFolderID || m_renamingPageID);
}

void LibraryView::setSelectedPageLocalID(const std::optional<QString> &localID)
{
    m_selected = localID;
    m_model->setSelectedPage(localID);
}

void LibraryView::selectPage(const QString &localID)
{
    setSelectedPageLocalID(localID);
    Q_EMIT pageSelected(localID);
}

void LibraryView::clearSelection()
{
    setSelectedPageLocalID(std::nullopt);
}

void LibraryView::scheduleRebuild()
{
    m_listAnew = true;
    m_editedFolders.clear();
    m_editedPages.clear();
    // Merges publish one change per record; the tree is rebuilt once for the whole burst.
    if (!m_rebuild.isActive())
        m_rebuild.start();
}

void LibraryView::scheduleRowEdit(bool folder, const QString &localID)
{
    if (!m_listAnew)
        (folder ? m_editedFolders : m_editedPages).insert(localID);
    if (!m_rebuild.isActive())
        m_rebuild.start();
}

void LibraryView::buildSearchField()
{
    auto *field = new QWidget(this);
    auto *row = new QHBoxLayout(field);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto *symbol = new QLabel(field);
    symbol->setPixmap(LibrarySymbols::icon(QStringLiteral("magnifyingglass"), AppStyle::tertiary(this))
                          .pixmap(kSymbolSize, kSymbolSize));
    m_searchEdit = new QLineEdit(field);
    m_searchEdit->setFrame(false);
    m_searchEdit->setPlaceholderText(QString::fromLatin1(LibrarySearch::kPrompt));
    m_searchEdit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    m_searchClear = new QToolButton(field);
    m_searchClear->setAutoRaise(true);
    m_searchClear->setFocusPolicy(Qt::NoFocus);
    m_searchClear->setIcon(
        LibrarySymbols::icon(QStringLiteral("xmark.circle.fill"), AppStyle::tertiary(this)));
    m_searchClear->hide();
    row->addWidget(symbol);
    row->addWidget(m_searchEdit, 1);
    row->addWidget(m_searchClear);
    connect(m_searchEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_searchClear->setVisible(!text.isEmpty());
        m_search->setQuery(text);
    });
    connect(m_searchClear, &QToolButton::clicked, m_searchEdit, &QLineEdit::clear);
    connect(m_search, &LibrarySearch::queryChanged, this, &LibraryView::scheduleRebuild);
    connect(m_search, &LibrarySearch::hitsChanged, this, &LibraryView::scheduleRebuild);
    setSearchField(field);
}

void LibraryView::connectRows()
{
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (QMenu *menu = contextMenu(m_list->indexAt(pos))) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_list->viewport()->mapToGlobal(pos));
        }
    });
    connect(m_list, &QListView::doubleClicked, this, &LibraryView::beginRename);
    connect(m_list, &LibraryListView::pageChevronClicked, this, [this](const QModelIndex &index) {
        if (const auto page = pageRecord(index.data(LibraryRowModel::LocalIDRole).toString()))
            m_tree->togglePageExpanded(*page);
    });
    connect(m_list, &LibraryListView::droppedOnFolder, this, &LibraryView::dropOnFolder);
    connect(m_list, &LibraryListView::droppedOnPage, this, &LibraryView::dropOnPage);
    connect(m_list, &LibraryListView::droppedOnRoot, this,
            [this](const QString &payload) { m_mover->handleFolderDrop(payload, 0); });

    auto *delegate = static_cast<LibraryRowDelegate *>(m_list->itemDelegate());
    connect(delegate, &LibraryRowDelegate::editorCreated, this, &LibraryView::trackRenameEditor);
    connect(delegate, &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget *editor, QAbstractItemDelegate::EndEditHint hint) {
                // Ended by Return, Escape or leaving it: a field still lingering has nothing to commit
                // when deleted, even while the same record is being renamed again.
                editor->disconnect(this);
                if (hint != QAbstractItemDelegate::RevertModelCache)
                    return;
                if (m_editingRowID.startsWith(QLatin1String(LibraryMover::kFolderPrefix)))
                    m_rowEditor->cancelFolderRename();
                else
                    m_rowEditor->cancelPageRename();
            });
    connect(m_model, &LibraryRowModel::renameSubmitted, this, &LibraryView::submitRename);
    // Connected after the list's own: the field is still open when held and already gone when reopened.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, &LibraryView::holdRenameField);
    connect(m_model, &QAbstractItemModel::modelReset, this, &LibraryView::reopenRenameField);
    connect(m_rowEditor, &LibraryRowEditor::renamingChanged, this, [this] {
        setRenamingFolderID(m_rowEditor->renamingFolderID());
        setRenamingPageID(m_rowEditor->renamingPageID());
    });

    connect(m_deleter, &LibraryDeleter::pageDeleted, this, [this](const QString &localID) {
        if (m_selected != localID)
            return;
        clearSelection();
        Q_EMIT homeRequested();
    });
    connect(m_deleter, &LibraryDeleter::pageRestored, this, &LibraryView::selectPage);
}

std::optional<FNFolder> LibraryView::folderRecord(const QString &localID) const
{
    const FNFolder *folder = m_context.store->folder(localID);
    return folder ? std::optional(*folder) : std::nullopt;
}

std::optional<FNPage> LibraryView::pageRecord(const QString &localID) const
{
    const FNPage *page = m_context.store->page(localID);
    return page ? std::optional(*page) : std::nullopt;
}

QModelIndex LibraryView::indexOfRow(const QString &rowID) const
{
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->rowAt(i)->rowID() == rowID)
            return m_model->index(i);
    }
    return QModelIndex();
}

void LibraryView::beginRename(const QModelIndex &index)
{
    const LibraryTree::Row *row = m_model->rowAt(index.row());
    if (!row || row->rowID().isEmpty())
        return;
    m_renameDraft = row->kind == LibraryTree::Row::Kind::Folder ? m_rowEditor->beginFolderRename(row->localID)
                                                                : m_rowEditor->beginPageRename(row->localID);
    m_editingRowID = row->rowID();
    m_list->edit(index);
}

void LibraryView::trackRenameEditor(QLineEdit *editor, const QModelIndex &index)
{
    const QString rowID = index.data(LibraryRowModel::RowIDRole).toString();
    m_editingRowID = rowID;
    m_renameField = editor;
    m_renameIndex = index;
    connect(editor, &QLineEdit::textChanged, this, [this](const QString &text) { m_renameDraft = text; });
    // A field that goes without Return, Escape, losing focus or being held over a rebuild still
    // commits, so the rename never keeps the refresh paused.
    connect(editor, &QObject::destroyed, this, [this, rowID] {
        const QString localID = rowID.section(QLatin1Char(':'), 1);
        if (rowID.startsWith(QLatin1String(LibraryMover::kFolderPrefix)) &&
            m_rowEditor->renamingFolderID() == localID)
            m_rowEditor->commitFolderRename(localID, m_renameDraft);
        else if (rowID.startsWith(QLatin1String(LibraryMover::kPagePrefix)) &&
                 m_rowEditor->renamingPageID() == localID)
            m_rowEditor->commitPageRename(localID, m_renameDraft);
    });
}

void LibraryView::holdRenameField()
{
    QLineEdit *field = m_renameField;
    const QString localID = m_editingRowID.section(QLatin1Char(':'), 1);
    const bool renaming = m_editingRowID.startsWith(QLatin1String(LibraryMover::kFolderPrefix))
                              ? m_rowEditor->renamingFolderID() == localID
                              : m_rowEditor->renamingPageID() == localID;
    // A field already ended lingers until deleted.
    if (!field || !renaming || !m_renameIndex.isValid())
        return;
    HeldRename held{.rowID = m_editingRowID,
                    .text = field->text(),
                    .cursor = field->cursorPosition(),
                    .selectionStart = field->selectionStart(),
                    .selectionLength = field->selectionLength()};
    for (int i = 0; i < m_renameIndex.row(); ++i)
        held.occurrence += m_model->rowAt(i)->rowID() == held.rowID ? 1 : 0;
    m_heldRename = held;
    // The list closes this field; the rename goes on in the one opened after.
    field->disconnect(this);
    m_renameField.clear();
}

void LibraryView::reopenRenameField()
{
    if (!m_heldRename)
        return;
    const HeldRename held = *std::exchange(m_heldRename, std::nullopt);
    QModelIndex index;
    for (int i = 0, seen = 0; i < m_model->rowCount(); ++i) {
        if (m_model->rowAt(i)->rowID() != held.rowID)
            continue;
        index = m_model->index(i);
        if (seen++ == held.occurrence)
            break;
    }
    if (index.isValid())
        m_list->edit(index);
    if (!m_renameField) {
        endRenameUnsent(held.rowID);
        return;
    }
    QLineEdit *field = m_renameField;
    field->setText(held.text);
    if (held.selectionLength == 0)
        field->setCursorPosition(held.cursor);
    else if (held.cursor == held.selectionStart) // selected leftwards: the cursor at its start
        field->setSelection(held.selectionStart + held.selectionLength, -held.selectionLength);
    else
        field->setSelection(held.selectionStart, held.selectionLength);
}

// The record went with the rebuild (deleted, or moved where no row shows it): what was typed is dropped.
void LibraryView::endRenameUnsent(const QString &rowID)
{
    if (rowID.startsWith(QLatin1String(LibraryMover::kFolderPrefix)))
        m_rowEditor->cancelFolderRename();
    else
        m_rowEditor->cancelPageRename();
}

void LibraryView::submitRename(const QString &rowID, const QString &text)
{
    const QString localID = rowID.section(QLatin1Char(':'), 1);
    if (rowID.startsWith(QLatin1String(LibraryMover::kFolderPrefix)))
        m_rowEditor->commitFolderRename(localID, text);
    else
        m_rowEditor->commitPageRename(localID, text);
}

QMenu *LibraryView::contextMenu(const QModelIndex &index)
{
    const LibraryTree::Row *row = m_model->rowAt(index.row());
    if (!row || row->rowID().isEmpty())
        return nullptr;
    const QString localID = row->localID;
    const QString rowID = row->rowID();
    auto *menu = new AppMenu(this);
    const auto renameRow = [this, rowID] {
        const QModelIndex current = indexOfRow(rowID);
        if (current.isValid())
            beginRename(current);
    };

    if (row->kind == LibraryTree::Row::Kind::Folder) {
        menu->addAction(QString::fromLatin1(kRename), this, renameRow);
        menu->addAction(QString::fromLatin1(kChangeIcon), this, [this, localID] { showIconPicker(localID); });
        menu->addAction(QString::fromLatin1(kNewPageInFolder), this, [this, localID] {
            if (const auto folder = folderRecord(localID)) {
                // The new page shows in the tree, under its folder.
                m_tree->setExpanded(localID, true);
                m_creator->createPage(std::nullopt, folder);
            }
        });
        menu->addAction(QString::fromLatin1(kNewSubfolder), this, [this, localID] {
            if (const auto folder = folderRecord(localID))
                m_creator->createFolder(folder);
        });
        menu->addSeparator();
        AppStyle::markDestructive(menu->addAction(QString::fromLatin1(kDeleteFolder), this,
                                                  [this, localID] { m_deleter->deleteFolder(localID); }));
        return menu;
    }

    if (FavoritesStore *favorites = m_context.favorites) {
        const auto page = pageRecord(localID);
        const qint64 serverID = page ? page->serverID : 0;
        const bool favourite = favorites->contains(localID, serverID);
        menu->addAction(QString::fromLatin1(favourite ? kRemoveFromFavorites : kAddToFavorites), this,
                        [favorites, localID, serverID] { favorites->toggle(localID, serverID); });
    }
    menu->addAction(QString::fromLatin1(kRename), this, renameRow);
    menu->addAction(QString::fromLatin1(kNewSubpage), this, [this, localID] {
        if (const auto page = pageRecord(localID))
            m_creator->createPage(page, std::nullopt);
    });
    // A page at the top level already is where "Move to root" would put it.
    if (const auto page = pageRecord(localID); page && (page->folderServerID != 0 || page->folderLocalID)) {
        menu->addAction(QString::fromLatin1(kMoveToRoot), this, [this, localID] {
            if (const auto page = pageRecord(localID))
                m_mover->movePage(*page, 0);
        });
    }
    menu->addSeparator();
    AppStyle::markDestructive(menu->addAction(QString::fromLatin1(kDeletePage), this,
                                              [this, localID] { m_deleter->deletePage(localID); }));
    return menu;
}

EmojiPicker *LibraryView::iconPicker() const
{
    return m_iconPicker.data();
}

void LibraryView::showIconPicker(const QString &folderLocalID)
{
    const auto folder = folderRecord(folderLocalID);
    if (!folder)
        return;
    if (!m_iconPicker) {
        m_iconPicker = new EmojiPicker(this);
        m_iconPicker->setHeader(QString::fromLatin1(kFolderIconHeader));
        const auto apply = [this](const QString &icon) {
            if (m_iconPickerFolder)
                m_rowEditor->applyFolderIcon(icon, *m_iconPickerFolder);
        };
        connect(m_iconPicker, &EmojiPicker::picked, this, apply);
        connect(m_iconPicker, &EmojiPicker::removed, this, [apply] { apply(QString()); });
        connect(m_iconPicker, &EmojiPicker::closed, this, [this] { m_iconPickerFolder.reset(); });
    }
    m_iconPickerFolder = folderLocalID;
    m_iconPicker->setCurrentIcon(folder->icon);
    const QModelIndex index = indexOfRow(LibraryMover::folderPayload(folderLocalID));
    const QRect rect = index.isValid() ? m_list->visualRect(index) : QRect();
    m_iconPicker->move(m_list->viewport()->mapToGlobal(rect.bottomLeft()));
    m_iconPicker->show();
}

void LibraryView::dropOnFolder(const QString &payload, const QString &folderLocalID)
{
    if (const auto folder = folderRecord(folderLocalID))
        m_mover->handleDropOnFolder(payload, *folder);
    else
        m_mover->handleFolderDrop(payload, 0);
}

void LibraryView::dropOnPage(const QString &payload, const QString &pageLocalID)
{
    if (const auto page = pageRecord(pageLocalID))
        m_mover->handlePageDrop(payload, *page);
}

void LibraryView::rebuild()
{
    const WorkLabel label("sidebar-rows");
    m_rebuild.stop();
    const bool anew = std::exchange(m_listAnew, false);
    const QSet<QString> folders = std::exchange(m_editedFolders, {});
    const QSet<QString> pages = std::exchange(m_editedPages, {});
    // A rename or a new icon, as each keystroke in a title makes: its rows only, not the whole tree.
    if (!anew && !m_search->isActive()) {
        if (auto rows = m_tree->rowsAfterEdits(m_model->rows(), folders, pages)) {
            m_model->setRows(std::move(*rows));
            return;
        }
    }
    if (!m_search->isActive()) {
        m_model->setRows(m_tree->listContent());
        m_noMatches->hide();
        m_list->show();
        return;
    }
    const std::vector<FNPage> results = m_search->results();
    m_model->setRows(m_tree->pageNodes(results));
    const bool none = results.empty();
    if (none) {
        // Until the service has answered, an empty list is not yet "No matches".
        const bool searching = m_search->isSearching();
        m_noMatches->titleLabel()->setText(
            QString::fromUtf8(searching ? LibrarySearch::kSearching : LibrarySearch::kNoMatches));
        m_noMatches->subtitleLabel()->setText(searching ? QString()
                                                        : LibrarySearch::emptySubtitle(m_search->query()));
    }
    m_noMatches->setVisible(none);
    m_list->setVisible(!none);
}

void LibraryView::activateRow(const QModelIndex &index)
{
    const LibraryTree::Row *row = m_model->rowAt(index.row());
    if (!row)
        return;
    const LocalStore &store = *m_context.store;
    if (row->kind == LibraryTree::Row::Kind::Folder) {
        if (const FNFolder *folder = store.folder(row->localID))
            m_tree->toggleFolderExpanded(FNFolder(*folder));
    } else if (row->kind == LibraryTree::Row::Kind::Page) {
        selectPage(row->localID);
    }
}

void LibraryView::handleAppear()
{
    m_refresher->startRefresh();
    m_tree->loadExpandedOnce();
}

void LibraryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    handleAppear();
    m_refresher->startPolling();
}

void LibraryView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_refresher->stopPolling();
}
