#include "library/trash_list.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QPointer>

#include <algorithm>

namespace {

QString messageOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return APIError::messageOf(e);
    } catch (...) {
    }
    return APIError::decoding(QString()).errorDescription();
}

// Shows the restored page in the sidebar again without waiting for a refresh, and drops a deletion
// of it still waiting to be sent, which would trash it again.
void restoreLocally(const QPointer<LocalStore> &store, quint64 generation, qint64 pageServerID)
{
    if (!store || store->generation() != generation)
        return;
    const FNPage *page = store->pageWithServerID(pageServerID);
    if (!page)
        return;
    const QString localID = page->localID;
    const bool deleted = page->deletedAt.has_value();
    Outbox::of(*store).dropPageDeletes(localID);
    if (deleted)
        store->restorePage(localID);
}

} // namespace

TrashList::TrashList(LocalStore &store, ServiceClient &client, SyncEngine &engine, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
    , m_engine(engine)
{
}

const PageDTO *TrashList::entry(qint64 id) const
{
    const auto it =
        std::find_if(m_items.begin(), m_items.end(), [&](const PageDTO &p) { return p.id == id; });
    return it == m_items.end() ? nullptr : &*it;
}

PageDTO TrashList::entryOrBlank(qint64 id) const
{
    const PageDTO *found = entry(id);
    PageDTO copy = found ? *found : PageDTO{};
    copy.id = id;
    return copy;
}

void TrashList::setBusy(std::optional<qint64> id)
{
    m_busyID = id;
    Q_EMIT changed();
}

QCoro::Task<> TrashList::load()
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (!m_client.isSignedIn() || workspace == 0) {
        m_loading = false;
        Q_EMIT changed();
        co_return;
    }
    m_loading = true;
    m_error.reset();
    Q_EMIT changed();

    QPointer<TrashList> self(this);
    std::optional<PagesResp> reply;
    std::exception_ptr failure;
    try {
        reply = co_await m_client.listTrash(workspace);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (reply)
        m_items = std::move(reply->pages);
    else
        m_error = messageOf(failure);
    m_loading = false;
    Q_EMIT changed();
}

void TrashList::restore(qint64 id)
{
    if (!m_client.isSignedIn())
        return;
    PageDTO copy = entryOrBlank(id);
    setBusy(id);
    restoreFromTrash(std::move(copy));
}

void TrashList::requestPurge(qint64 id)
{
    m_pendingPurge = id;
    Q_EMIT changed();
}

void TrashList::cancelPurge()
{
    m_pendingPurge.reset();
    Q_EMIT changed();
}

void TrashList::confirmPurge(qint64 id)
{
    if (!m_client.isSignedIn())
        return;
    PageDTO copy = entryOrBlank(id);
    m_pendingPurge.reset();
    setBusy(id);
    purgePage(std::move(copy));
}

QCoro::Task<> TrashList::restoreFromTrash(PageDTO entry)
{
    QPointer<TrashList> self(this);
    // The restore goes on to its sync when the window is closed meanwhile.
    QPointer<LocalStore> store(&m_store);
    QPointer<SyncEngine> engine(&m_engine);
    const quint64 generation = m_store.generation();
    std::exception_ptr failure;
    try {
        co_await m_client.restorePage(entry.id);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (self) {
            m_error = messageOf(failure);
            setBusy(std::nullopt);
        }
        co_return;
    }

    restoreLocally(store, generation, entry.id);
    co_await SyncEngine::syncQuietly(engine);
    // That sync's pull may have brought in the page's earlier deletion.
    restoreLocally(store, generation, entry.id);
    if (!self)
        co_return;
    co_await load();
    if (self)
        setBusy(std::nullopt);
}

QCoro::Task<> TrashList::purgePage(PageDTO entry)
{
    QPointer<TrashList> self(this);
    // The purge is kept here when the window is closed meanwhile.
    QPointer<SyncEngine> engine(&m_engine);
    const quint64 generation = m_store.generation();
    QPointer<LocalStore> store(&m_store);
    std::exception_ptr failure;
    try {
        co_await m_client.purgePage(entry.id);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure && engine && store && store->generation() == generation)
        engine->pagePurged(entry.id);
    if (!self)
        co_return;
    if (failure) {
        m_error = messageOf(failure);
        setBusy(std::nullopt);
        co_return;
    }
    co_await load();
    if (self)
        setBusy(std::nullopt);
}

QString TrashList::titleOf(const PageDTO &entry)
{
    return entry.title.isEmpty() ? QString::fromLatin1(kUntitled) : entry.title;
}

QString TrashList::iconOf(const PageDTO &entry)
{
    return entry.icon && !entry.icon->isEmpty() ? *entry.icon : QString::fromUtf8(kPageIcon);
}

QString TrashList::deletedStamp(const PageDTO &entry)
{
    const std::optional<QString> &when = entry.updated_at ? entry.updated_at : entry.created_at;
    return QString::fromLatin1(kDeleted) + when.value_or(QString()).left(16);
}
