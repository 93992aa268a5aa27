#include "app/main_view.h"

#include "api/service_client.h"
#include "app/app_symbols.h"
#include "app/logout_flow.h"
#include "app/quick_switcher.h"
#include "app/shortcuts_sheet.h"
#include "app/sync_button.h"
#include "editor/page_view.h"
#include "editor/page_view_model.h"
#include "library/library_view.h"
#include "library/trash_view.h"
#include "platform/app_events.h"
#include "platform/dialog_confirmer.h"
#include "platform/settings.h"
#include "platform/url_opener.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/quiet_teardown.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int kSidebarWidth = 260;
constexpr int kToolbarIconSize = 18;

MainView::PageDetail makePageView(const AppContext &context, const QString &pageLocalID)
{
    auto *view = new PageView(context, pageLocalID);
    return {view, &view->model()};
}

} // namespace

MainView::MainView(const AppContext &context, Parts parts, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_parts(std::move(parts))
    , m_ownConfirmer(std::make_unique<DialogConfirmer>(AppStyle::makeDestructive))
    , m_confirmer(m_ownConfirmer.get())
    , m_logoutWait(LogoutFlow::kLastSyncWait)
{
    setObjectName(QStringLiteral("mainView"));
    if (!m_parts.page)
        m_parts.page = makePageView;

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());

    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(buildSidebar());
    m_detailSplit = new QSplitter(Qt::Horizontal, m_split);
    m_detailSplit->setChildrenCollapsible(false);
    m_split->addWidget(m_detailSplit);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    m_split->setSizes({kSidebarWidth, 1000});
    layout->addWidget(m_split, 1);

    connect(m_context.events, &AppEvents::showShortcuts, this, &MainView::showShortcuts);
    connect(m_context.events, &AppEvents::quickSwitch, this, &MainView::showQuickSwitcher);

    showDetail();
}

MainView::~MainView()
{
    // Nothing of the screen answers the keyboard leaving it as it goes.
    releaseKeyboardQuietly(*this);
    // Panels and sheets may refer to the editor's model: they go before the editor does.
    for (auto &[kind, panel] : m_panels)
        delete panel.data();
    qDeleteAll(findChildren<QDialog *>(Qt::FindDirectChildrenOnly));
    // The editor goes next, flushing what it holds while the rest of the screen is whole; its model
    // asks no panel or sheet of a screen that is going.
    if (m_pageModel)
        disconnect(m_pageModel, nullptr, this, nullptr);
    delete std::exchange(m_detail, nullptr);
}

QWidget *MainView::buildToolbar()
{
    auto *bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("mainToolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    const QColor ink = palette().color(QPalette::ButtonText);

    m_toggle = new QToolButton(bar);
    m_toggle->setObjectName(QStringLiteral("sidebarToggle"));
    m_toggle->setAutoRaise(true);
    m_toggle->setIcon(AppSymbols::icon(QStringLiteral("sidebar.left"), ink));
    m_toggle->setToolTip(QString::fromUtf8(kToggleHelp));
    m_toggle->setAccessibleName(QString::fromUtf8(kToggleHelp));
    connect(m_toggle, &QToolButton::clicked, this, &MainView::toggleSidebar);
    bar->addWidget(m_toggle);

    auto *spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    m_syncButton = new SyncButton(*m_context.store, m_context.syncEngine, bar, m_context.recordings);
    bar->addWidget(m_syncButton);

    m_accountButton = new QToolButton(bar);
    m_accountButton->setObjectName(QStringLiteral("accountButton"));
    m_accountButton->setAutoRaise(true);
    m_accountButton->setFocusPolicy(Qt::NoFocus);
    m_accountButton->setPopupMode(QToolButton::InstantPopup);
    m_accountButton->setIcon(AppSymbols::icon(QStringLiteral("person.crop.circle"), ink));
    m_accountMenu = new AppMenu(m_accountButton);
    QAction *deleteAccount = m_accountMenu->addAction(QString::fromUtf8(kDeleteAccount));
    AppStyle::markDestructive(deleteAccount);
    connect(deleteAccount, &QAction::triggered, this, [this] {
        if (m_context.urlOpener)
            m_context.urlOpener->openUrl(deleteAccountURL());
    });
    m_accountMenu->addSeparator();
    QAction *logOut = m_accountMenu->addAction(QString::fromUtf8(kLogOut));
    AppStyle::markDestructive(logOut);
    connect(logOut, &QAction::triggered, this, &MainView::confirmLogout);
    m_accountMenu->addSeparator();
    m_accountMenu->addAction(versionLine())->setEnabled(false);
    m_accountButton->setMenu(m_accountMenu);
    bar->addWidget(m_accountButton);
    return bar;
}

QWidget *MainView::buildSidebar()
{
    m_sidebarColumn = new QWidget(this);
    m_sidebarColumn->setObjectName(QStringLiteral("sidebarColumn"));
    m_sidebarColumn->setMinimumWidth(kSidebarMinWidth);
    auto *column = new QVBoxLayout(m_sidebarColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *title = new QLabel(QString::fromUtf8(kSidebarTitle), m_sidebarColumn);
    title->setObjectName(QStringLiteral("sidebarTitle"));
    title->setFont(AppStyle::headline());
    title->setContentsMargins(12, 8, 12, 4);
    column->addWidget(title);
    m_sidebar = new LibraryView(m_context, m_sidebarColumn);
    column->addWidget(m_sidebar, 1);

    connect(m_sidebar, &LibraryView::pageCreated, this, &MainView::openNewPage);
    connect(m_sidebar, &LibraryView::pageSelected, this,
            [this](const QString &localID) { openPage(localID); });
    connect(m_sidebar, &LibraryView::homeRequested, this, [this] { setSelectedPage(std::nullopt); });
    connect(m_sidebar, &LibraryView::trashRequested, this, &MainView::trashRequested);
    connect(m_sidebar, &LibraryView::trashRequested, this, &MainView::openTrash);
    return m_sidebarColumn;
}

MainView::ColumnVisibility MainView::toggled(ColumnVisibility visibility)
{
    return visibility == ColumnVisibility::detailOnly ? ColumnVisibility::all : ColumnVisibility::detailOnly;
}

QString MainView::versionLine(const std::optional<QString> &shortVersion, const std::optional<QString> &build)
{
    const auto part = [](const std::optional<QString> &text) {
        return text && !text->isEmpty() ? *text : QStringLiteral("?");
    };
    return QStringLiteral("Version ") + part(shortVersion) + QStringLiteral(" (") + part(build) +
           QLatin1Char(')');
}

QString MainView::versionLine()
{
    return versionLine(QCoreApplication::applicationVersion(), QStringLiteral(PENROOST_BUILD_NUMBER));
}

QUrl MainView::deleteAccountURL() const
{
    return m_context.client->pageURL(QString::fromLatin1(kDeleteAccountPath));
}

std::optional<FNPage> MainView::lastOpenPage(const StoreState &state, const std::optional<QString> &stored,
                                             const std::optional<QString> &storedServerID)
{
    if (!stored)
        return std::nullopt;
    const qint64 serverID = storedServerID ? storedServerID->toLongLong() : 0;
    std::optional<FNPage> byServerID;
    for (const auto &page : state.pages) {
        if (page.deletedAt)
            continue;
        if (page.localID == *stored)
            return page;
        if (serverID != 0 && page.serverID == serverID && !byServerID)
            byServerID = page;
    }
    return byServerID;
}

void MainView::rememberLastOpenServerID(Settings &settings, const LocalStore &store)
{
    const auto stored = settings.string(QString::fromLatin1(lastOpenPageKey));
    const FNPage *page = stored ? store.page(*stored) : nullptr;
    if (page && page->serverID != 0)
        settings.setString(QString::fromLatin1(lastOpenPageServerIDKey), QString::number(page->serverID));
}

void MainView::setConfirmer(Confirmer *confirmer)
{
    m_confirmer = confirmer ? confirmer : m_ownConfirmer.get();
}

void MainView::setHomeClock(HomeView::Clock clock)
{
    m_homeClock = std::move(clock);
    if (homeView())
        showDetail();
}

HomeView *MainView::homeView() const
{
    return qobject_cast<HomeView *>(m_detail);
}

PageViewModel *MainView::pageModel() const
{
    return m_pageModel;
}

ShortcutsSheet *MainView::shortcutsSheet() const
{
    return m_shortcuts;
}

QuickSwitcher *MainView::quickSwitcher() const
{
    return m_switcher;
}

LogoutFlow *MainView::logoutFlow() const
{
    return m_logoutFlow;
}

QWidget *MainView::panel(PagePanel kind) const
{
    const auto it = m_panels.find(kind);
    return it == m_panels.end() ? nullptr : it->second.data();
}

void MainView::setSelectedPage(const std::optional<QString> &localID)
{
    // The session is ending: no editor may open on the data about to go.
    if (m_loggingOut || localID == m_selected)
        return;
    m_selected = localID;
    m_sidebar->setSelectedPageLocalID(localID);
    const QString key = QString::fromLatin1(lastOpenPageKey);
    m_context.settings->remove(QString::fromLatin1(lastOpenPageServerIDKey));
    if (localID) {
        m_context.settings->setString(key, *localID);
        rememberLastOpenServerID(*m_context.settings, *m_context.store);
    } else {
        m_context.settings->remove(key);
    }
    showDetail();
}

void MainView::openPage(const QString &localID)
{
    const bool opening = m_selected != localID;
    setSelectedPage(localID);
    // Keys typed right after opening go on with the page's writing.
    if (opening && m_selected == localID && m_pageModel && m_pageModel->pageLocalID() == localID)
        m_pageModel->enterPage();
}

void MainView::openNewPage(const QString &localID)
{
    setSelectedPage(localID);
    // The user names a new page first: its title takes the keyboard, ready to be typed over.
    if (m_selected == localID && m_pageModel && m_pageModel->pageLocalID() == localID)
        m_pageModel->beginTitleEntry();
}

void MainView::setColumnVisibility(ColumnVisibility visibility)
{
    m_columnVisibility = visibility;
    m_sidebarColumn->setVisible(visibility == ColumnVisibility::all);
}

void MainView::toggleSidebar()
{
    setColumnVisibility(toggled(m_columnVisibility));
}

void MainView::showDetail()
{
    if (m_selected) {
        const PageDetail page = m_parts.page(m_context, *m_selected);
        setDetail(page.editor, page.model);
        m_editorShown = page.editor != nullptr;
    } else {
        setDetail(newHomeView(), nullptr);
    }
}

HomeView *MainView::newHomeView()
{
    // At a start the window shows before the dashboard is worked out.
    auto *home =
        new HomeView(m_context, nullptr, m_homeClock,
                     isVisible() ? HomeView::FirstBuild::Now : HomeView::FirstBuild::AfterFirstPaint);
    connect(home, &HomeView::pageSelected, this, [this](const QString &localID) { openPage(localID); });
    return home;
}

void MainView::setDetail(QWidget *widget, PageViewModel *model)
{
    m_editorShown = false;
    deletePanels();
    if (QWidget *old = m_detail) {
        // Hiding an editor queues its pending edits now; the widget itself goes later, since the
        // change may come from one of its own signals.
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    m_detail = widget;
    m_pageModel = model;
    if (!widget)
        return;
    m_detailSplit->insertWidget(0, widget);
    m_detailSplit->setStretchFactor(0, 1);
    widget->show();
    if (model) {
        widget->setMinimumWidth(std::max(widget->minimumWidth(), kEditorMinWidth));
        connect(model, &PageViewModel::panelsChanged, this, &MainView::syncPanels);
        connect(model, &PageViewModel::shareRequested, this, [this] { presentSheet(PageSheet::share); });
        connect(model, &PageViewModel::publishRequested, this, [this] { presentSheet(PageSheet::publish); });
        connect(model, &PageViewModel::historyRequested, this, [this] { presentSheet(PageSheet::history); });
        syncPanels();
    }
}

void MainView::closeEditor()
{
    if (!m_editorShown)
        return;
    m_editorShown = false;
    deletePanels();
    // Deleted now, not later: its pending edits are queued before the store is reset.
    QWidget *editor = m_detail;
    m_detail = nullptr;
    m_pageModel = nullptr;
    delete editor;
    setDetail(newHomeView(), nullptr);
}

bool MainView::hasPanels() const
{
    return std::any_of(m_panels.begin(), m_panels.end(),
                       [](const auto &entry) { return !entry.second.isNull(); });
}

void MainView::deletePanels()
{
    const bool had = hasPanels();
    for (auto &[kind, panel] : m_panels)
        delete panel.data();
    m_panels.clear();
    if (had)
        givePanelWidthBack();
}

void MainView::givePanelWidthBack()
{
    const std::optional<int> before = std::exchange(m_widthBeforePanels, std::nullopt);
    if (!before)
        return;
    // Once the window's layout has seen the panels go: until then its minimum keeps their room.
    QTimer::singleShot(0, this, [self = QPointer<MainView>(this), width = *before] {
        if (!self || self->m_widthBeforePanels)
            return;
        QWidget *top = self->window();
        if (top->isMaximized() || top->isFullScreen() || top->width() <= width)
            return;
        if (QLayout *layout = top->layout())
            layout->activate();
        top->resize(std::max(width, top->minimumWidth()), top->height());
    });
}

void MainView::syncPanels()
{
    PageViewModel *model = m_pageModel;
    if (!model)
        return;
    const bool had = hasPanels();
    if (!had)
        m_widthBeforePanels = window()->width();
    const bool hasPage = model->page().has_value();
    const std::pair<PagePanel, bool> wanted[] = {
        {PagePanel::ai, model->showAI()},
        {PagePanel::comments, model->showComments()},
        {PagePanel::suggestions, model->showSuggestions()},
    };
    for (const auto &[kind, shown] : wanted) {
        QPointer<QWidget> &slot = m_panels[kind];
        if (shown && hasPage && !slot && m_parts.panel) {
            slot = m_parts.panel(m_context, *model, kind);
            if (slot) {
                // In the order of the kinds, after the editor.
                int index = 1;
                for (const auto &[other, widget] : m_panels) {
                    if (other < kind && widget)
                        ++index;
                }
                m_detailSplit->insertWidget(index, slot);
                slot->show();
            }
        } else if ((!shown || !hasPage) && slot) {
            delete slot.data();
        }
    }
    if (had && !hasPanels())
        givePanelWidthBack();
    else if (!hasPanels())
        m_widthBeforePanels.reset();
}

void MainView::presentSheet(PageSheet kind)
{
    PageViewModel *model = m_pageModel;
    if (!model)
        return;
    const auto close = [model = QPointer<PageViewModel>(model), kind] {
        if (!model)
            return;
        switch (kind) {
        case PageSheet::share:
            model->setShowShare(false);
            break;
        case PageSheet::publish:
            model->setShowPublish(false);
            break;
        case PageSheet::history:
            model->setShowHistory(false);
            break;
        }
    };
    QDialog *sheet = m_parts.sheet ? m_parts.sheet(m_context, *model, kind) : nullptr;
    if (!sheet) {
        close(); // nothing to show: the flag must not stay set, or the button would do nothing next time
        return;
    }
    sheet->setParent(this, sheet->windowFlags());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, close);
    connect(model, &QObject::destroyed, sheet, &QDialog::reject);
    sheet->open();
}

void MainView::restoreLastOpenPage()
{
    if (m_selected)
        return;
    const auto stored = m_context.settings->string(QString::fromLatin1(lastOpenPageKey));
    const auto storedServerID = m_context.settings->string(QString::fromLatin1(lastOpenPageServerIDKey));
    if (const auto page = lastOpenPage(m_context.store->state(), stored, storedServerID))
        setSelectedPage(page->localID);
}

void MainView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    firstAppearance();
}

QCoro::Task<> MainView::firstAppearance()
{
    QPointer<MainView> self(this);
    co_await SyncEngine::syncQuietly(m_context.syncEngine);
    if (!self)
        co_return;
    restoreLastOpenPage();
    Q_EMIT firstAppearanceDone();
}

void MainView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible())
        SyncEngine::syncQuietly(m_context.syncEngine);
}

void MainView::showShortcuts()
{
    if (m_shortcuts)
        return;
    m_shortcuts = new ShortcutsSheet(this);
    m_shortcuts->setAttribute(Qt::WA_DeleteOnClose);
    m_shortcuts->open();
}

TrashView *MainView::trashView() const
{
    return m_trash;
}

void MainView::openTrash()
{
    if (m_trash || m_loggingOut)
        return;
    m_trash = new TrashView(m_context, this);
    m_trash->open();
}

void MainView::showQuickSwitcher()
{
    if (m_switcher || m_loggingOut)
        return;
    m_switcher = new QuickSwitcher(m_context, this);
    m_switcher->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_switcher, &QuickSwitcher::picked, this, [this](const QString &localID) { openPage(localID); });
    m_switcher->open();
}

void MainView::confirmLogout()
{
    if (m_confirmingLogout || m_loggingOut)
        return;
    m_confirmingLogout = true;
    // What the badge counts is what a failed last try loses.
    const auto question = LogoutFlow::question(
        SyncButton::unsyncedCount(*m_context.store, m_context.syncEngine, m_context.recordings));
    QPointer<MainView> self(this);
    m_confirmer->ask(this, question, [self](bool confirmed) {
        if (!self)
            return;
        self->m_confirmingLogout = false;
        if (confirmed)
            self->logout();
    });
}

void MainView::logout()
{
    if (m_loggingOut)
        return;
    // The editor's pending edits join the outbox now, in time for the last sync.
    closeEditor();
    m_loggingOut = true;
    m_split->setEnabled(false);
    if (m_switcher)
        m_switcher->reject();

    m_logoutFlow = new LogoutFlow(m_context, m_logoutWait);
    connect(m_logoutFlow, &LogoutFlow::endingSession, this, &MainView::closeEditor);
    m_logoutFlow->start();
}
