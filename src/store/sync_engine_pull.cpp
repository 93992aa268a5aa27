#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/wire/blocks.h"
#include "api/wire/sync.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "platform/off_thread.h"
#include "store/block_fields.h"
#include "store/create_adoption.h"
#include "store/local_id.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_payload.h"

#include <QCoroTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <memory>

// Pulling the changes since the cursor and laying them over the local records.

namespace {

// How long the pull applies before it lets the event loop turn: a page of the feed lands over a few
// turns, none of them long enough to feel.
constexpr qint64 kApplySliceNs = 500 * 1000;
// However slow the machine, a slice takes this many: a small reply is one change the views hear of.
constexpr size_t kLeastInSlice = 64;
// From how many operations a reply's contents are written aside: for a page of the feed the hop to
// a pool thread and back costs more than it saves.
constexpr size_t kContentsAsideFrom = 2000;
using syncPayload::has;
using syncPayload::intOr;
using syncPayload::stringOr;

// The operation's payload where it has one; read in place, as a pull may bring tens of thousands.
const JSONObject &payloadOf(const SyncOpDTO &op)
{
    static const JSONObject none;
    return op.payload ? *op.payload : none;
}

} // namespace

struct SyncEngine::FeedRequest {
    qint64 since = 0;
    quint64 generation = 0;
    ServiceClient::Credential credential;
    // Its own, so a read-ahead that will not be applied can be let go without ending the cycle.
    std::unique_ptr<CancelToken> cancel;
    QCoro::Task<SyncResp> reply;

    FeedRequest() = default;
    FeedRequest(FeedRequest &&) = default;
    FeedRequest &operator=(FeedRequest &&) = default;
    ~FeedRequest()
    {
        // Unawaited, the request runs on by itself: ended now, it holds nothing for long.
        if (cancel && !reply.isReady())
            cancel->cancel();
    }
};

std::optional<SyncEngine::FeedRequest> SyncEngine::requestFeed(qint64 since)
{
    // Read afresh: the session may have been renewed while the push or the page before ran.
    const ServiceClient::Credential credential = m_client.credential();
    if (!credential)
        return std::nullopt;
    m_requestCredential = credential;
    FeedRequest request;
    request.since = since;
    request.generation = m_store.generation();
    request.credential = credential;
    request.cancel = std::make_unique<CancelToken>();
    CancelToken *own = request.cancel.get();
    if (m_cancel.isCancelled())
        own->cancel();
    connect(&m_cancel, &CancelToken::cancelled, own, &CancelToken::cancel);
    request.reply = m_client.sync(SyncReq{since}, QPointer<CancelToken>(own));
    return request;
}

bool SyncEngine::stillCurrent(const FeedRequest &request) const
{
    // A reply for a session or data set that no longer exists must not land in the new one.
    return m_store.generation() == request.generation && m_client.credential() == request.credential;
}

QCoro::Task<> SyncEngine::pull()
{
    QPointer<SyncEngine> self(this);
    std::optional<FeedRequest> next = requestFeed(m_store.state().cursorServerTs);
    while (next) {
        FeedRequest request = std::move(*next);
        next.reset();
        // A failed page leaves those before it in, the cursor right after the last of them.
        SyncResp resp = co_await request.reply;
        if (!self || !stillCurrent(request)) {
            dropOffThread(std::move(resp));
            co_return;
        }
        // A capped reply has more waiting behind it. The next page is asked for now, from where this
        // one ends, and comes while this one is applied; they still land one after the other, each
        // moving the cursor past itself. Capped yet not past the cursor, asking again would get the
        // same for ever.
        if (resp.capped.value_or(false) && resp.server_ts > request.since)
            next = requestFeed(resp.server_ts);
        if (!co_await applyPage(std::move(resp), request))
            co_return;
    }
}

QCoro::Task<bool> SyncEngine::applyPage(SyncResp resp, const FeedRequest &request)
{
    QPointer<SyncEngine> self(this);
    const auto current = [&] { return self && stillCurrent(request); };
    // The payloads' contents as stored text, written aside when there are many.
    std::vector<QString> contents;
    const auto cutShort = [&] {
        if (self) {
            m_pageAdoptions.clear();
            m_unsentEdits.clear();
            m_keptByEdits.clear();
            m_landedHere.clear();
            m_cameBack.clear();
            m_placedByOthers.clear();
            m_ownEchoes.clear();
            // Pulled again from the same cursor, the same versions give way again.
            m_yieldedRoom.clear();
        }
        dropOffThread(std::move(contents));
        dropOffThread(std::move(resp));
    };
    if (resp.ops.size() >= kContentsAsideFrom) {
        const std::vector<SyncOpDTO> *pulled = &resp.ops;
        auto writeContents = [pulled] {
            std::vector<QString> texts;
            texts.reserve(pulled->size());
            for (const SyncOpDTO &op : *pulled)
                texts.push_back(contentJSON(payloadOf(op)));
            return texts;
        };
        contents = co_await offThread(std::move(writeContents));
        if (!current()) {
            cutShort();
            co_return false;
        }
    }
    const quint64 generation = request.generation;
    if (m_deferredGeneration != generation) {
        m_deferredBlocks.clear();
        m_repairedPages.clear();
        m_deferredGeneration = generation;
    }
    QElapsedTimer slice;
    slice.start();
    dropArrivedUpsertItems(resp.ops);
    m_deletesPulled = std::any_of(resp.ops.begin(), resp.ops.end(), [](const SyncOpDTO &op) {
        return op.op == QLatin1String("delete") && op.entity_type == QLatin1String("block");
    });
    noteUnsentEdits();
    noteRoomPages();
    const QSet<QString> runPages = m_newRuns.empty() ? QSet<QString>() : pagesWritten(resp.ops);
    m_pageAdoptions = pageAdoptions(m_store, unknownPages(resp.ops));
    // In slices, each one change the views hear of once, with the event loop turning between them;
    // the cursor moves only with the last of them, so a pull cut short is pulled again.
    size_t next = 0;
    for (;;) {
        m_store.batch([&] {
            size_t inSlice = 0;
            while (next < resp.ops.size()) {
                apply(resp.ops[next], contents.empty() ? nullptr : &contents[next]);
                ++next;
                if (++inSlice >= kLeastInSlice && next < resp.ops.size() &&
                    slice.nsecsElapsed() >= kApplySliceNs)
                    return;
            }
            settleYieldedRoom();
            m_pageAdoptions.clear();
            retryDeferredBlocks();
            relinkUnderCameBack();
            keepPlacesAmongRoom();
            keepNewRunsInPlace(runPages);
            queueRepairs();
            m_outbox.dropMarksOfGoneBlocks();
            if (!resp.capped.value_or(false))
                m_outbox.settleChecksWithoutEcho();
            m_unsentEdits.clear();
            m_keptByEdits.clear();
            m_landedHere.clear();
            if (resp.server_ts > m_store.state().cursorServerTs)
                m_store.setCursorServerTs(resp.server_ts);
        });
        if (next == resp.ops.size())
            break;
        // The slice's own changes to the outbox are in the notes already.
        m_unsentRevision = m_outbox.revision();
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        slice.restart();
        if (!current()) {
            cutShort();
            co_return false;
        }
        if (m_cancel.isCancelled()) {
            cutShort();
            throw APIError::network(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"),
                                    false);
        }
        // What was edited here meanwhile keeps its edit, as it would have before the pull began.
        noteUnsentEditsSince();
    }
    dropOffThread(std::move(resp));
    dropOffThread(std::move(contents));
    co_return true;
}

void SyncEngine::dropArrivedUpsertItems(const std::vector<SyncOpDTO> &ops)
{
    // The service's latest version of each block this pull speaks of.
    QHash<qint64, const SyncOpDTO *> latest;
    QHash<QString, qint64> byClientID;
    // Per local id, the latest version this device wrote: another device's write may follow it.
    QHash<QString, const SyncOpDTO *> latestOwn;
    for (const SyncOpDTO &op : ops) {
        if (op.entity_type != QLatin1String("block") || op.entity_id <= 0)
            continue;
        latest.insert(op.entity_id, &op);
        const QString clientID = stringOr(payloadOf(op), "client_id", QString());
        if (!clientID.isEmpty()) {
            byClientID.insert(clientID, op.entity_id);
            latestOwn.insert(clientID, &op);
        }
    }
    if (latest.isEmpty())
        return;
    // Whether the service holds the item as it stands in `fields`, those it sent from this device's copy.
    const auto holdsAlready = [&](const BlockUpsertItem &item, qint64 fields) {
        qint64 id = item.id.value_or(0);
        if (const FNBlock *block = m_store.block(item.client_id); id == 0 && block)
            id = block->serverID;
        if (id == 0)
            id = byClientID.value(item.client_id);
        const SyncOpDTO *op = latest.value(id);
        if (!op || op->op == QLatin1String("delete"))
            return false;
        const auto holds = [&](const SyncOpDTO &version) {
            const JSONObject &p = payloadOf(version);
            const auto content = p.find(QStringLiteral("content"));
            const bool sameContent = content != p.end() && content->second.isObject() &&
                                     content->second.toObject() == item.content;
            return (!(fields & BlockFields::Content) || sameContent) &&
                   (!(fields & BlockFields::Kind) || stringOr(p, "type", QString()) == item.type) &&
                   (!BlockFields::sendsPlace(fields) ||
                    (intOr(p, "position", -1) == item.position &&
                     intOr(p, "parent_block_id", 0) == item.parent_block_id.value_or(0)));
        };
        // Its own latest echo holding it landed it too, whatever another device wrote after.
        const SyncOpDTO *own = latestOwn.value(item.client_id);
        return holds(*op) || (own && own->entity_id == id && holds(*own));
    };
    // An upsert that names what it carries is read only when one of those blocks was pulled: edits
    // waiting out a back-off cost nothing here.
    const auto mayHold = [&](const FNSyncOp &op) {
        if (!op.carriedFields)
            return true;
        for (auto it = op.carriedFields->keyBegin(); it != op.carriedFields->keyEnd(); ++it) {
            const FNBlock *block = m_store.block(*it);
            if (byClientID.contains(*it) || (block && latest.contains(block->serverID)))
                return true;
        }
        return false;
    };
    // An item the service holds as it stands has landed, whether or not its reply came: sent again
    // it would write over whatever another device wrote since.
    m_outbox.takeOutOfUpserts(
        [&](const FNSyncOp &op, const BlockUpsertItem &item) {
            const qint64 carried = op.fieldsCarried(item.client_id);
            if (!holdsAlready(item, carried))
                return false;
            m_landedHere.insert(item.client_id);
            // Its echo is in this pull: whatever it wrote over is checked as for an answered push.
            // With none, another device's write holds it: nothing of this one landed to check.
            if (item.id)
                m_outbox.noteFilled(item.client_id,
                                    byClientID.contains(item.client_id) ? BlockFields::All & ~carried : 0);
            return true;
        },
        mayHold);
}

std::vector<ListedPage> SyncEngine::unknownPages(const std::vector<SyncOpDTO> &ops) const
{
    std::vector<ListedPage> pages;
    for (const SyncOpDTO &op : ops) {
        if (op.entity_type != QLatin1String("page") || op.op == QLatin1String("delete") ||
            op.entity_id <= 0 || m_store.pageWithServerID(op.entity_id))
            continue;
        const JSONObject &p = payloadOf(op);
        pages.push_back(
            {op.entity_id, intOr(p, "workspace_id", 0), intOr(p, "parent_page_id", 0),
             stringOr(p, "title", QStringLiteral("Untitled")), intOr(p, "position", 0),
             has(p, "created_at") ? serviceStamp(stringOr(p, "created_at", QString())) : QDateTime()});
    }
    return pages;
}

QString SyncEngine::contentJSON(const JSONObject &payload)
{
    const auto it = payload.find(QStringLiteral("content"));
    if (it == payload.end())
        return QStringLiteral("{}");
    try {
        return QString::fromUtf8(it->second.serialize());
    } catch (const EncodeError &) {
        return QStringLiteral("{}");
    }
}

void SyncEngine::apply(const SyncOpDTO &op, const QString *content)
{
    ++m_applied;
    // Id 0 or below names nothing on the service.
    if (op.entity_id <= 0)
        return;
    const JSONObject &p = payloadOf(op);
    const bool isDelete = op.op == QLatin1String("delete");

    if (op.entity_type == QLatin1String("page")) {
        const FNPage *stored = m_store.pageWithServerID(op.entity_id);
        if (isDelete) {
            // Already deleted here: the time it went stays, and nothing needs writing.
            if (!stored || stored->deletedAt)
                return;
            FNPage page = *stored;
            page.deletedAt = now();
            m_store.upsertPage(page);
            return;
        }
        if (!stored) {
            // The echo of this device's create whose reply was lost.
            if (const auto adopted = m_pageAdoptions.constFind(op.entity_id);
                adopted != m_pageAdoptions.cend()) {
                adoptPageServerID(m_store, *adopted, op.entity_id);
                stored = m_store.page(*adopted);
            }
        }
        const bool found = stored != nullptr;
        FNPage page = found ? *stored : FNPage{};
        const auto set = [&](const char *key, auto apply) {
            if (!found || has(p, key))
                apply();
        };
        set("title", [&] { page.title = stringOr(p, "title", QStringLiteral("Untitled")); });
        set("icon", [&] { page.icon = stringOr(p, "icon", QString()); });
        set("position", [&] { page.position = intOr(p, "position", 0); });
        set("workspace_id", [&] { page.workspaceServerID = intOr(p, "workspace_id", 0); });
        set("parent_page_id", [&] { page.parentPageServerID = intOr(p, "parent_page_id", 0); });
        set("folder_id", [&] { page.folderServerID = intOr(p, "folder_id", 0); });
        set("cover_url", [&] { page.coverURL = stringOr(p, "cover_url", QString()); });
        set("cover_offset_x", [&] { page.coverOffsetX = intOr(p, "cover_offset_x", 50); });
        set("cover_offset_y", [&] { page.coverOffsetY = intOr(p, "cover_offset_y", 50); });
        // What this device holds already (most often the echo of its own push) is not stamped
        // again: that would be a change to save and to show for nothing.
        if (found && page == *stored)
            return;
        const QDateTime t = now();
        if (!found) {
            page.localID = newLocalID();
            page.serverID = op.entity_id;
            page.createdAt = t;
            page.deletedAt.reset();
        }
        page.updatedAt = t;
        m_store.upsertPage(page);
        return;
    }

    if (op.entity_type != QLatin1String("block"))
        return;
    const FNBlock *stored = m_store.blockWithServerID(op.entity_id);
    if (isDelete) {
        if (!stored || stored->deletedAt)
            return;
        applyBlockDelete(*stored);
        return;
    }
    if (stored) {
        // Only what the payload carries changes: a position-only update keeps the text. A stored
        // block keeps its page, so "page_id" is not read here.
        FNBlock block = *stored;
        // A field edited here whose edit has not reached the service keeps it: the edit is on its
        // way out and lands after this version (most often the echo of this device's own earlier
        // push). The fields it did not change take what the other device did.
        qint64 mine = m_unsentEdits.value(block.localID);
        // The service names the device that wrote a version by the local id it sent.
        const bool own = stringOr(p, "client_id", QString()) == block.localID;
        // Written by another device after it came back here as a stray copy: its delete is withdrawn.
        if (!own && block.deletedAt && m_outbox.withdrawStrayDelete(block.localID, op.entity_id))
            block.deletedAt.reset();
        if (has(p, "position"))
            noteLanded(block.pageLocalID, block.localID);
        if (!own)
            mine = noteOtherVersion(block, p, mine);
        if ((mine & BlockFields::All) == BlockFields::All) {
            if (own)
                m_outbox.dropFillChecks({block.localID});
            return;
        }
        // A place this device gave the block only to make room goes on its way, unless another
        // device chose one since.
        if ((mine & BlockFields::Room) && !own && roomGivesWay(block, p)) {
            yieldRoom(block);
            mine &= ~qint64(BlockFields::Room);
        }
        const bool keepPlace = BlockFields::sendsPlace(mine);
        if (has(p, "type") && !(mine & BlockFields::Kind))
            block.type = stringOr(p, "type", QStringLiteral("text"));
        if (has(p, "content") && !(mine & BlockFields::Content))
            block.contentJSON = content ? *content : contentJSON(p);
        if (has(p, "position") && !keepPlace)
            block.position = intOr(p, "position", 0);
        if (has(p, "parent_block_id") && !keepPlace)
            setPulledParent(block, intOr(p, "parent_block_id", 0));
        if (own)
            repairOverwrite(block, p, mine);
        if (!own && m_roomPages.contains(block.pageLocalID) && has(p, "position")) {
            // Where the other device had it, whichever place stands here.
            m_roomBases.insert(block.localID, intOr(p, "position", 0));
            if (!keepPlace && block.position != stored->position)
                m_placedByOthers[block.pageLocalID].insert(block.localID, {block.position, m_applied});
        }
        if (own && m_roomPages.contains(block.pageLocalID))
            m_ownEchoes.insert(block.localID, m_applied);
        if (block == *stored)
            return;
        block.updatedAt = now();
        m_store.upsertBlock(block);
        return;
    }
    if (adoptEcho(op.entity_id, stringOr(p, "client_id", QString())))
        return;
    const qint64 pageId = intOr(p, "page_id", 0);
    if (pageId <= 0)
        return;
    const FNPage *page = m_store.pageWithServerID(pageId);
    if (!page) {
        const bool waiting =
            std::any_of(m_deferredBlocks.begin(), m_deferredBlocks.end(),
                        [&](const DeferredBlock &d) { return d.op.entity_id == op.entity_id; });
        if (!waiting)
            m_deferredBlocks.push_back({op, 0});
        return;
    }
    FNBlock block;
    block.serverID = op.entity_id;
    block.pageServerID = pageId;
    block.pageLocalID = page->localID;
    block.parentBlockServerID = intOr(p, "parent_block_id", 0);
    block.type = stringOr(p, "type", QStringLiteral("text"));
    block.contentJSON = content ? *content : contentJSON(p);
    block.position = intOr(p, "position", 0);
    block.indentLevel = 0;
    block.createdAt = block.updatedAt = now();
    m_store.upsertBlock(block);
    noteLanded(block.pageLocalID, block.localID);
    if (m_roomPages.contains(block.pageLocalID))
        m_placedByOthers[block.pageLocalID].insert(block.localID, {block.position, m_applied});
}

void SyncEngine::retryDeferredBlocks()
{
    if (m_deferredBlocks.empty())
        return;
    std::vector<DeferredBlock> taken;
    taken.swap(m_deferredBlocks);
    for (auto &d : taken) {
        const qint64 pageId = intOr(payloadOf(d.op), "page_id", 0);
        if (m_store.pageWithServerID(pageId)) {
            apply(d.op);
            continue;
        }
        const int n = d.attempts + 1;
        if (n < kMaxDeferredAttempts)
            m_deferredBlocks.push_back({d.op, n});
    }
}

const FNBlock *SyncEngine::parentBlock(const FNBlock &block) const
{
    if (!block.parentBlockLocalID.isEmpty())
        return m_store.block(block.parentBlockLocalID);
    if (block.parentBlockServerID == 0)
        return nullptr;
    // One that came back over a delete in this batch is known by the id it had until its upsert.
    if (const auto up = m_cameBack.constFind(block.parentBlockServerID); up != m_cameBack.cend())
        return m_store.block(*up);
    return m_store.blockWithServerID(block.parentBlockServerID);
}

void SyncEngine::noteUnsentEditsSince()
{
    if (m_outbox.revision() != m_unsentRevision)
        noteUnsentEdits();
}

void SyncEngine::noteUnsentEdits()
{
    m_unsentRevision = m_outbox.revision();
    m_unsentEdits = m_outbox.blocksWithUnsentEdits();
    m_keptByEdits.clear();
    if (!m_deletesPulled)
        return; // only a pulled delete asks, and walking up from every edit waiting costs
    for (auto it = m_unsentEdits.cbegin(); it != m_unsentEdits.cend(); ++it) {
        if (!(it.value() & (BlockFields::Content | BlockFields::Kind)))
            continue;
        // The block and every block above it; none when one of them was deleted here, as the edit
        // then goes with that delete (or when the parents run in a loop).
        std::vector<QString> chain;
        bool goes = false;
        for (const FNBlock *b = m_store.block(it.key()); b && !m_keptByEdits.contains(b->localID);
             b = parentBlock(*b)) {
            if (b->deletedAt || chain.size() > kMaxBlockDepth) {
                goes = true;
                break;
            }
            chain.push_back(b->localID);
        }
        if (goes)
            continue;
        for (QString &id : chain)
            m_keptByEdits.insert(std::move(id));
    }
}

void SyncEngine::applyBlockDelete(const FNBlock &stored)
{
    FNBlock block = stored;
    if (!m_keptByEdits.contains(block.localID)) {
        block.deletedAt = now();
        m_store.upsertBlock(block);
        return;
    }
    // An edit made here wins over the delete, at any depth: the block goes back to the service whole,
    // as a new one, and so does every block above it, which it needs to stand (the service took the
    // blocks under a deleted one with it). A block this device only moved goes with the delete.
    m_cameBack.insert(block.serverID, block.localID);
    block.serverID = 0;
    if (block.parentBlockServerID != 0) {
        // Named by its local id, it stays this block's parent when it comes back too.
        if (const FNBlock *parent = parentBlock(block)) {
            block.parentBlockLocalID = parent->localID;
            block.parentBlockServerID = parent->serverID;
        }
    }
    m_store.upsertBlock(block);
    m_outbox.dropFillChecks({block.localID});
    m_outbox.blockEdited(block.pageLocalID, block.localID, BlockFields::All);
    m_unsentEdits[block.localID] = BlockFields::All;
    m_repairedPages.insert(block.pageLocalID);
}

void SyncEngine::relinkUnderCameBack()
{
    if (m_cameBack.isEmpty())
        return;
    const QHash<qint64, QString> cameBack = std::exchange(m_cameBack, {});
    // Blocks still naming a block that came back by the id it had (those made here under it, and
    // those whose own delete is still to come) name it by its local id, and go under it once it has
    // its new id.
    QSet<QString> pages;
    for (const QString &id : cameBack) {
        if (const FNBlock *b = m_store.block(id))
            pages.insert(b->pageLocalID);
    }
    std::vector<std::pair<QString, QString>> relinked; // child, parent
    for (const QString &page : std::as_const(pages)) {
        for (const FNBlock *b : m_store.blocksOfPage(page)) {
            const auto parent = cameBack.constFind(b->parentBlockServerID);
            if (!b->deletedAt && b->parentBlockServerID != 0 && parent != cameBack.cend() &&
                (b->parentBlockLocalID.isEmpty() || b->parentBlockLocalID == *parent))
                relinked.emplace_back(b->localID, *parent);
        }
    }
    for (const auto &[child, parent] : relinked) {
        m_store.editBlock(
            child,
            [&](FNBlock &b) {
                b.parentBlockLocalID = parent;
                b.parentBlockServerID = 0;
            },
            LocalStore::Stamp::Keep);
    }
    // Queued items naming the old id would land at the top level: they wait for the new one.
    QHash<QString, qint64> waiting;
    m_outbox.takeOutOfUpserts(
        [&](const FNSyncOp &op, const BlockUpsertItem &item) {
            if (!item.parent_block_id || !cameBack.contains(*item.parent_block_id))
                return false;
            waiting[item.client_id] |= op.fieldsCarried(item.client_id) | BlockFields::Place;
            return true;
        },
        // A block's parent is on its own page.
        [&](const FNSyncOp &op) { return pages.contains(op.refLocalID); });
    for (auto it = waiting.cbegin(); it != waiting.cend(); ++it) {
        const FNBlock *b = m_store.block(it.key());
        if (b && !b->deletedAt) {
            m_outbox.blockEdited(b->pageLocalID, b->localID, it.value());
            m_repairedPages.insert(b->pageLocalID);
        }
    }
}
