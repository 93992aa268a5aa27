#include "library/library_view.h"

#include "app/app_style.h"
#include "library/library_creator.h"
#include "library/library_dock.h"
#include "library/library_refresher.h"
#include "library/library_row_delegate.h"
#include "library/library_row_model.h"
#include "library/library_symbols.h"
#include "library/library_tree.h"
#include "library/workspace_switcher.h"
#include "platform/app_events.h"
#include "store/favorites_store.h"
#include "store/local_store.h"
#include "store/template_store.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kRowVPad = 4;
constexpr int kSymbolSize = 14;

} // namespace

LibraryView::LibraryView(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    Q_ASSERT(context.store && context.secrets && context.syncEngine);
    LocalStore &store = *context.store;
    m_tree = new LibraryTree(store, context.favorites, this);
    m_creator = new LibraryCreator(store, *context.secrets, *context.syncEngine, context.templates, this);
    m_refresher = new LibraryRefresher(store, *context.secrets, *context.syncEngine, *m_creator, this);
    m_switcher = new WorkspaceSwitcher(store, *m_refresher, this);
    m_model = new LibraryRowModel(this);

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
    m_list = new QListView(listHolder);
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
    connect(&store, &LocalStore::stateChanged, this, [this] {
        scheduleRebuild();
        refreshWorkspaceSwitcher();
    });
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
    connect(m_creator, &LibraryCreator::pageCreated, this, &LibraryView::selectPage);
    connect(m_switcher, &WorkspaceSwitcher::switched, this, [this] {
        clearSelection();
        Q_EMIT homeRequested();
    });
    // "fn.newPage" (the New Page command): handled by the sidebar while it exists.
    connect(&AppEvents::shared(), &AppEvents::newPage, this,
            [this] { m_creator->createPage(std::nullopt, std::nullopt); });

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
    m_workspaceName = new QLabel(m_workspaceButton);
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
        connect(m_workspaceMenu->addAction(icon, item.name), &QAction::triggered, this,
                [this, id] { m_switcher->choose(id); });
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
    // Merges publish one change per record; the tree is rebuilt once for the whole burst.
    if (!m_rebuild.isActive())
        m_rebuild.start();
}

void LibraryView::rebuild()
{
    m_model->setRows(m_tree->listContent());
}

void LibraryView::activateRow(const QModelIndex &index)
{
    const LibraryTree::Row *row = m_model->rowAt(index.row());
    if (!row)
        return;
    const LocalStore &store = *m_context.store;
    if (row->kind == LibraryTree::Row::Kind::Folder) {
        const qsizetype i = store.indexOfFolder(row->localID);
        if (i >= 0)
            m_tree->toggleFolderExpanded(FNFolder(store.state().folders[size_t(i)]));
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
