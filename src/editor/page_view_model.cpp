#include "editor/page_view_model.h"

#include "api/service_client.h"
#include "editor/server_block_merge.h"
#include "platform/app_events.h"
#include "store/local_store.h"
#include "store/sync_engine.h"

#include <QPointer>

#include <coroutine>
#include <memory>

namespace {

constexpr auto kUntitled = "Untitled";
constexpr auto kFirstBlockType = "text";

// Suspends until the engine's cycle in flight has finished (or the engine is gone). Resumed from
// the engine's own signal, so a frame is never left waiting on a signal that cannot come.
// Trivially destructible and awaited as a named local: GCC 12 destroys some temporaries of a
// co_await expression twice, which for a QPointer member corrupts the engine's guard count.
struct CycleEnd {
    SyncEngine *engine;

    struct Wait {
        bool done = false;
        QMetaObject::Connection finished;
        QMetaObject::Connection destroyed;
    };

    bool await_ready() const noexcept { return !engine || !engine->isSyncing(); }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        // Both connections go at the first signal, and their functors (holding `wait`) with them.
        auto wait = std::make_shared<Wait>();
        auto resume = [wait, waiting] {
            if (wait->done)
                return;
            wait->done = true;
            QObject::disconnect(wait->finished);
            QObject::disconnect(wait->destroyed);
            waiting.resume();
        };
        wait->finished = QObject::connect(engine, &SyncEngine::cycleFinished, resume);
        wait->destroyed = QObject::connect(engine, &QObject::destroyed, resume);
    }
    void await_resume() const noexcept {}
};

} // namespace

PageViewModel::PageViewModel(const AppContext &context, const QString &pageLocalID, QObject *parent)
    : PageViewModel(context, pageLocalID, Timing{}, parent)
{
}

PageViewModel::PageViewModel(const AppContext &context, const QString &pageLocalID, Timing timing,
                             QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_timing(timing)
    , m_list(*context.store, pageLocalID)
    , m_outbox(m_list)
    , m_titleDebouncer(timing.title)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &PageViewModel::queueBlockUpserts);
    connect(m_context.store, &LocalStore::pageChanged, this, [this](const QString &localID) {
        if (localID == this->pageLocalID())
            keepUnsentTitle();
    });
    connect(m_context.store, &LocalStore::recordsChanged, this, &PageViewModel::keepUnsentTitle);
    connect(m_context.store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
        if (change.touchesPage(this->pageLocalID()))
            keepUnsentTitle();
    });
    if (m_context.events) {
        connect(m_context.events, &AppEvents::runAIPrompt, this, [this](const QString &prompt) {
            handleRunAIPrompt(prompt.isNull() ? std::nullopt : std::optional<QString>(prompt));
        });
        connect(m_context.events, &AppEvents::pageRestored, this, &PageViewModel::handlePageRestored);
    }
    if (m_context.syncEngine) {
        // Queued: the follow-up starts a sync of its own, which must not nest in the finishing one.
        connect(m_context.syncEngine, &SyncEngine::cycleFinished, this, &PageViewModel::followUpAfterSync,
                Qt::QueuedConnection);
    }
}

PageViewModel::~PageViewModel()
{
    disappear();
}

QString PageViewModel::navigationTitle() const
{
    const auto page = this->page();
    return !page || page->title.isEmpty() ? QString::fromLatin1(kUntitled) : page->title;
}

bool PageViewModel::isPageOnServer() const
{
    const auto page = this->page();
    return page && page->serverID != 0;
}

std::optional<QString> PageViewModel::insertBlockAfter(const FNBlock &after, const QString &type,
                                                       const QString &text)
{
    const auto added = m_list.insertBlockAfter(after, type, text);
    if (!added)
        return added;
    scheduleBlockFlush();
    focusBlock(*added, 0);
    return added;
}

std::optional<QString> PageViewModel::insertBlockBefore(const FNBlock &before, const QString &type)
{
    const auto added = m_list.insertBlockBefore(before, type);
    if (added)
        scheduleBlockFlush();
    return added;
}

bool PageViewModel::deleteBlockIfEmpty(const FNBlock &block)
{
    if (!m_list.deleteBlockIfEmpty(block))
        return false;
    scheduleBlockFlush();
    return true;
}

void PageViewModel::addChildBlock(const FNBlock &parent)
{
    const auto added = m_list.addChildBlock(parent);
    if (!added)
        return;
    scheduleBlockFlush();
    focusBlock(*added, 0);
}

void PageViewModel::moveBlockOnDrop(const QString &droppedLocalID, int targetIndex)
{
    if (m_list.moveBlockOnDrop(droppedLocalID, targetIndex))
        scheduleBlockFlush();
}

std::optional<QString> PageViewModel::appendBlock(const QString &type)
{
    const auto added = m_list.appendBlock(type);
    if (added)
        scheduleBlockFlush();
    return added;
}

void PageViewModel::deleteSelectedBlocks()
{
    if (m_selectedBlocks.isEmpty())
        return;
    const bool emptied = m_list.deleteBlocks(m_selectedBlocks);
    m_selectedBlocks.clear();
    m_selectMode = false;
    Q_EMIT selectionChanged();
    if (emptied)
        appendBlock(QString::fromLatin1(kFirstBlockType));
    scheduleBlockFlush();
}

void PageViewModel::focusBlock(const QString &localID, int attempt)
{
    if (attempt >= kFocusAttempts)
        return;
    QTimer::singleShot(0, this, [this, localID, attempt] { applyFocus(localID, attempt); });
}

void PageViewModel::applyFocus(const QString &localID, int attempt)
{
    // Focus takes only on a row that exists; until then the focus stays where it is, and after
    // the last try it stays there for good.
    if (!m_rowReady || m_rowReady(localID)) {
        m_focus.setFocusedBlock(localID);
        Q_EMIT focusApplied(localID);
        return;
    }
    QTimer::singleShot(m_timing.focusRetry, this, [this, localID, attempt] { retryFocus(localID, attempt); });
}

void PageViewModel::retryFocus(const QString &localID, int attempt)
{
    focusBlock(localID, attempt + 1);
}

void PageViewModel::scheduleBlockFlush()
{
    m_flushTimer.start(m_timing.blockFlush);
}

void PageViewModel::queueBlockUpserts()
{
    const PageOutbox::UpsertResult result = m_outbox.queueBlockUpserts();
    switch (result.outcome) {
    case PageOutbox::Outcome::NoPage:
        m_heldBack.reset();
        break;
    case PageOutbox::Outcome::PageNotOnServer:
        m_heldBack = -1;
        break;
    case PageOutbox::Outcome::Queued:
        m_heldBack = result.waitingForParent > 0 ? std::optional<int>(result.waitingForParent) : std::nullopt;
        break;
    case PageOutbox::Outcome::NothingToSend:
        m_heldBack = result.waitingForParent > 0 ? std::optional<int>(result.waitingForParent) : std::nullopt;
        break;
    case PageOutbox::Outcome::NotEncodable:
        m_heldBack.reset();
        break;
    }
}

void PageViewModel::followUpAfterSync()
{
    // A flush made while the page or a parent block had no server id held blocks back; nobody
    // would send them before the next edit once the sync has given out the ids.
    if (!m_heldBack || m_flushTimer.isActive())
        return;
    const auto page = this->page();
    if (!page) {
        m_heldBack.reset();
        return;
    }
    if (page->serverID == 0)
        return;
    int waiting = 0;
    m_outbox.blocksUpsertRequest(&waiting);
    if (*m_heldBack < 0 || waiting < *m_heldBack)
        queueBlockUpserts();
}

void PageViewModel::scheduleTitleSave(const QString &title)
{
    const bool changed = m_title != title;
    m_title = title;
    const auto page = this->page();
    if (page) {
        m_unsentTitle = title; // before the store tells anyone of the change
        store().editPage(page->localID, [&](FNPage &p) { p.title = title; });
    }
    // Told after the store has it: the view takes the stored title over.
    if (changed)
        Q_EMIT headerChanged();
    if (!page)
        return;
    queueTitleAtOnce(*page, title);
    m_titleDebouncer.schedule([self = QPointer<PageViewModel>(this)] {
        if (!self)
            return;
        self->m_unsentTitle.reset();
        self->m_titleOpID.reset();
        self->scheduleBlockFlush();
    });
}

void PageViewModel::queueTitleAtOnce(const FNPage &page, const QString &title)
{
    // The title on disk always has what will send it beside it: the first key of a run queues the
    // update, and the rest rewrite it while it waits out the run.
    if (m_titleOpID && Outbox::of(store()).retitlePageUpdate(*m_titleOpID, title))
        return;
    if (page.serverID == 0 && page.deletedAt)
        return; // it will never get an id to send this with
    const std::optional<FNSyncOp> op = m_outbox.queuePageTitle(page.serverID, title, m_timing.title);
    m_titleOpID = op ? std::optional(op->localID) : std::nullopt;
}

void PageViewModel::keepUnsentTitle()
{
    // Until the title is queued nothing tells a listing read from the service that it is newer: the
    // service's older copy laid over it goes back to what the user typed.
    if (!m_unsentTitle)
        return;
    const FNPage *page = store().page(pageLocalID());
    if (!page || page->title == *m_unsentTitle || page->deletedAt)
        return;
    // Renamed elsewhere here (the sidebar) since, with what sends that queued: the newer title stands,
    // and the next key in the header queues its own.
    if (const auto queued = Outbox::of(store()).queuedTitle(pageLocalID());
        queued && *queued == page->title && *queued != *m_unsentTitle) {
        m_unsentTitle.reset();
        m_titleOpID.reset();
        return;
    }
    const QString title = *m_unsentTitle;
    store().editPage(
        pageLocalID(), [&](FNPage &p) { p.title = title; }, LocalStore::Stamp::Keep);
}

void PageViewModel::savePageTitle(qint64 pageServerID, const QString &title)
{
    // A page typed into before it reached the service is queued all the same: the push takes the
    // id from the page once the page's create has given it one. Dropping it would lose the title.
    qint64 serverID = pageServerID;
    if (serverID == 0) {
        const FNPage *page = store().page(pageLocalID());
        if (!page)
            return;
        if (page->serverID == 0 && page->deletedAt)
            return; // it will never get an id to send this with
        serverID = page->serverID;
    }
    m_outbox.queuePageTitle(serverID, title);
    scheduleBlockFlush();
}

void PageViewModel::setPageIcon(const QString &icon)
{
    const bool changed = m_iconValue != icon;
    m_iconValue = icon;
    const auto page = this->page();
    if (page)
        store().editPage(page->localID, [&](FNPage &p) { p.icon = icon; });
    if (changed)
        Q_EMIT headerChanged();
    if (!page)
        return;
    // Also before the page has its id, for the same reason as the title.
    m_outbox.queuePageIcon(page->serverID, icon);
}

void PageViewModel::setShowEmojiPicker(bool shown)
{
    if (setFlag(m_showEmojiPicker, shown) && shown)
        Q_EMIT emojiPickerRequested();
}

void PageViewModel::toggleSelectMode()
{
    m_selectMode = !m_selectMode;
    if (!m_selectMode)
        m_selectedBlocks.clear();
    Q_EMIT selectionChanged();
}

void PageViewModel::cancelSelection()
{
    m_selectMode = false;
    m_selectedBlocks.clear();
    Q_EMIT selectionChanged();
}

void PageViewModel::toggleSelected(const QString &localID)
{
    if (!m_selectedBlocks.remove(localID))
        m_selectedBlocks.insert(localID);
    Q_EMIT selectionChanged();
}

void PageViewModel::requestDeleteSelected()
{
    const int count = int(m_selectedBlocks.size());
    if (count == 0)
        return;
    if (count == 1) {
        deleteSelectedBlocks();
        return;
    }
    setShowMultiDeleteConfirm(true);
    Q_EMIT multiDeleteConfirmRequested(count);
}

void PageViewModel::setShowMultiDeleteConfirm(bool shown)
{
    m_showMultiDeleteConfirm = shown;
}

bool PageViewModel::setFlag(bool &flag, bool value)
{
    if (flag == value)
        return false;
    flag = value;
    Q_EMIT panelsChanged();
    return true;
}

void PageViewModel::setShowAI(bool shown)
{
    setFlag(m_showAI, shown);
}

void PageViewModel::setShowComments(bool shown)
{
    setFlag(m_showComments, shown);
}

void PageViewModel::setShowSuggestions(bool shown)
{
    setFlag(m_showSuggestions, shown);
}

void PageViewModel::setShowShare(bool shown)
{
    if (setFlag(m_showShare, shown) && shown)
        Q_EMIT shareRequested();
}

void PageViewModel::setShowPublish(bool shown)
{
    if (setFlag(m_showPublish, shown) && shown)
        Q_EMIT publishRequested();
}

void PageViewModel::setShowHistory(bool shown)
{
    if (setFlag(m_showHistory, shown) && shown)
        Q_EMIT historyRequested();
}

void PageViewModel::handlePageRestored(qint64 pageServerID)
{
    const auto page = this->page();
    if (!page || pageServerID == 0 || page->serverID != pageServerID)
        return;
    loadHeaderOnAppear();
    Q_EMIT storedContentTaken();
}

void PageViewModel::handleRunAIPrompt(const std::optional<QString> &prompt)
{
    m_aiSeedPrompt = prompt;
    // An open panel stays and takes the new question; a closed one applies it as it is made.
    if (!setFlag(m_showAI, true))
        Q_EMIT aiPromptSeeded();
}

void PageViewModel::appear()
{
    if (m_shown)
        return;
    m_shown = true;
    loadHeaderOnAppear();
    loadBlocksOnOpen();
}

void PageViewModel::disappear()
{
    if (!m_shown)
        return;
    m_shown = false;
    ++m_openGeneration;
    flushPendingEdits();
}

void PageViewModel::loadHeaderOnAppear()
{
    const auto page = this->page();
    // Only shown: queuing the title as read could undo a rename made meanwhile on another device.
    const QString title = page ? page->title : QString();
    if (title != m_title) {
        m_title = title;
        Q_EMIT headerChanged();
    }
    const QString icon = page ? page->icon : QString();
    if (icon != m_iconValue) {
        m_iconValue = icon;
        Q_EMIT headerChanged();
    }
}

void PageViewModel::followStoredHeader()
{
    if (page())
        loadHeaderOnAppear();
}

void PageViewModel::beginTitleEntry()
{
    Q_EMIT titleEntryRequested();
}

void PageViewModel::enterPage()
{
    Q_EMIT pageEntryRequested();
}

QCoro::Task<> PageViewModel::loadBlocksOnOpen()
{
    QPointer<PageViewModel> self(this);
    const quint64 generation = m_openGeneration;
    const bool loaded = co_await fetchServerBlocks();
    if (!self || m_openGeneration != generation)
        co_return;
    // Blocks the service may hold but this device could not load must not be overwritten by a
    // first block standing in for them.
    if (loaded && m_list.pageBlocks().empty())
        appendBlock(QString::fromLatin1(kFirstBlockType));
    Q_EMIT blocksLoaded();
}

QCoro::Task<bool> PageViewModel::fetchServerBlocks()
{
    const auto page = this->page();
    if (!page || page->serverID == 0)
        co_return true;
    if (!m_context.client || !m_context.client->isSignedIn())
        co_return false;

    QPointer<PageViewModel> self(this);
    QPointer<LocalStore> store(m_context.store);
    QPointer<SyncEngine> engine(m_context.syncEngine);
    const quint64 generation = m_openGeneration;
    const quint64 storeGeneration = store->generation();
    BlocksResp reply;
    try {
        reply = co_await m_context.client->fetchBlocks(page->serverID);
    } catch (...) {
        co_return false;
    }
    // The view may have closed during the request: nothing of it may be touched then.
    if (!self)
        co_return false;
    // A push in flight may already have stored a block on the service without its
    // acknowledgement having reached this device: merging now would add that block a second
    // time. After the cycle the local block carries the id and the merge skips it.
    while (self && engine && engine->isSyncing()) {
        CycleEnd cycleEnd{engine.data()};
        co_await cycleEnd;
    }
    if (!self || !store || m_openGeneration != generation || store->generation() != storeGeneration)
        co_return false;
    ServerBlockMerge::mergeServerBlocks(*store, *page, reply.blocks);
    co_return true;
}

void PageViewModel::flushPendingEdits()
{
    m_titleDebouncer.flush();
    // Only what waits to be sent: a page merely looked at would otherwise push its blocks as read,
    // over edits another device made meanwhile.
    if (!m_flushTimer.isActive() && !m_heldBack)
        return;
    m_flushTimer.stop();
    queueBlockUpserts();
}
