#include "store/sync_engine.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_payload.h"

#include <QSet>

#include <algorithm>
#include <limits>

// Blocks made here keep the place they were typed at: a line goes right after the block it was typed
// after. Until it reaches the service, the other devices place their blocks knowing nothing of it, and
// a push lands it unknowing of what they sent meanwhile. When the cycle's pulls move the block it
// followed (room made elsewhere), or land others' blocks among a run of such lines, the run is put back
// together after that block; each of its lines costs at most one more move.

namespace {

// `count` places strictly between `lo` and `hi` (none: that end of the list), a line's step apart
// where the room allows; none where it has no room for them.
std::optional<std::vector<qint64>> spread(std::optional<qint64> lo, std::optional<qint64> hi, qsizetype count)
{
    std::vector<qint64> places;
    qint64 first = 0;
    qint64 step = kBlockPositionGap;
    if (lo && hi) {
        step = std::min(kLineStep, (*hi - *lo) / (count + 1));
        if (step < 1)
            return std::nullopt;
        first = *lo + step;
    } else if (lo) {
        first = *lo + step;
    } else if (hi) {
        first = *hi - count * step;
    }
    for (qsizetype i = 0; i < count; ++i)
        places.push_back(first + i * step);
    return places;
}

} // namespace

QSet<QString> SyncEngine::pagesWritten(const std::vector<SyncOpDTO> &ops) const
{
    QSet<QString> pages;
    for (const SyncOpDTO &op : ops) {
        if (op.entity_type != QLatin1String("block") || op.entity_id <= 0)
            continue;
        if (const FNBlock *b = m_store.blockWithServerID(op.entity_id))
            pages.insert(b->pageLocalID);
        else if (op.payload)
            if (const FNPage *p = m_store.pageWithServerID(syncPayload::intOr(*op.payload, "page_id", 0)))
                pages.insert(p->localID);
    }
    return pages;
}

void SyncEngine::noteNewRuns()
{
    m_newRuns.clear();
    m_newRunPages.clear();
    m_landedAt.clear();
    QHash<QString, std::vector<const FNBlock *>> fresh; // per page, its blocks not on the service yet
    const QHash<QString, qint64> unsent = m_outbox.blocksWithUnsentEdits();
    for (auto it = unsent.cbegin(); it != unsent.cend(); ++it) {
        const FNBlock *b = m_store.block(it.key());
        if (b && !b->deletedAt && b->serverID == 0)
            fresh[b->pageLocalID].push_back(b);
    }
    for (auto page = fresh.begin(); page != fresh.end(); ++page) {
        std::vector<const FNBlock *> &made = page.value();
        std::stable_sort(made.begin(), made.end(),
                         [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });
        const std::vector<const FNBlock *> blocks = m_store.blocksOfPage(page.key());
        // Each sibling group once: the blocks made in it split the others into slots, and a slot with
        // none of them joins the blocks made on either side of it into one run.
        QSet<const FNBlock *> done;
        for (const FNBlock *lead : made) {
            if (done.contains(lead))
                continue;
            std::vector<const FNBlock *> group;
            for (const FNBlock *b : made) {
                if (sameParent(*b, *lead))
                    group.push_back(b);
            }
            const QSet<const FNBlock *> inGroup(group.begin(), group.end());
            done.unite(inGroup);
            std::vector<const FNBlock *> lastIn(group.size() + 1, nullptr);
            std::vector<const FNBlock *> firstIn(group.size() + 1, nullptr);
            for (const FNBlock *b : blocks) {
                if (b->deletedAt || inGroup.contains(b) || !sameParent(*b, *lead))
                    continue;
                const size_t slot = size_t(std::upper_bound(group.begin(), group.end(), b,
                                                            [](const FNBlock *x, const FNBlock *y) {
                                                                return listedBefore(*x, *y);
                                                            }) -
                                           group.begin());
                if (!lastIn[slot] || listedBefore(*lastIn[slot], *b))
                    lastIn[slot] = b;
                if (!firstIn[slot] || listedBefore(*b, *firstIn[slot]))
                    firstIn[slot] = b;
            }
            for (size_t i = 0; i < group.size();) {
                NewRun run;
                run.pageLocalID = page.key();
                if (lastIn[i]) {
                    run.before = lastIn[i]->localID;
                    run.beforeAt = lastIn[i]->position;
                }
                size_t j = i;
                for (;;) {
                    run.blocks << group[j]->localID;
                    run.at.push_back(group[j]->position);
                    if (j + 1 == group.size() || firstIn[j + 1])
                        break;
                    ++j;
                }
                run.after = firstIn[j + 1] ? firstIn[j + 1]->localID : QString();
                if (!run.before.isEmpty()) {
                    m_newRunPages.insert(run.pageLocalID);
                    m_newRuns.push_back(std::move(run));
                }
                i = j + 1;
            }
        }
    }
}

void SyncEngine::keepNewRunsInPlace(const QSet<QString> &pages)
{
    for (NewRun &run : m_newRuns) {
        if (!pages.contains(run.pageLocalID))
            continue;
        std::vector<const FNBlock *> made;
        // Whatever landed before the run did was placed unknowing of it; what landed after, by
        // someone who saw it there.
        qint64 landed = std::numeric_limits<qint64>::max();
        for (qsizetype i = 0; i < run.blocks.size(); ++i) {
            const FNBlock *b = m_store.block(run.blocks[i]);
            // Gone, or moved since by another device or by hand: no longer placed as typed.
            if (!b || b->deletedAt || b->position != run.at[size_t(i)] ||
                (!made.empty() && !sameParent(*b, *made.front())))
                break;
            if (b->serverID != 0)
                landed = std::min(landed, m_landedAt.value(b->localID, -1));
            made.push_back(b);
        }
        if (made.size() != size_t(run.blocks.size()))
            continue;
        const auto unknowing = [&](const FNBlock &b) { return m_landedAt.value(b.localID, landed) < landed; };
        const FNBlock &lead = *made.front();
        // A run typed above every block follows none: whatever lands above it may stay there.
        const FNBlock *before = m_store.block(run.before);
        if (!before || before->deletedAt || !sameParent(*before, lead))
            continue; // what it followed went elsewhere: it stays where it is
        if (before->position != run.beforeAt && !unknowing(*before))
            continue; // moved away from the run by someone who saw it
        const FNBlock *after = run.after.isEmpty() ? nullptr : m_store.block(run.after);
        if (after && (after->deletedAt || !sameParent(*after, lead) || !listedBefore(*before, *after)))
            after = nullptr;
        const QSet<QString> inRun(run.blocks.cbegin(), run.blocks.cend());
        const FNBlock *first = made.front();
        const FNBlock *last = made.front();
        for (const FNBlock *b : made) {
            if (listedBefore(*b, *first))
                first = b;
            if (listedBefore(*last, *b))
                last = b;
        }
        bool inPlace = listedBefore(*before, *first);
        bool knowingly = false;             // some block was put among the run by someone who saw it
        const FNBlock *next = nullptr;      // the first of the others after `before`
        const FNBlock *lastOther = nullptr; // the last of the others before `after`, or of all
        for (const FNBlock *b : m_store.blocksOfPage(run.pageLocalID)) {
            if (b->deletedAt || inRun.contains(b->localID) || !sameParent(*b, lead))
                continue;
            const bool pastBefore = listedBefore(*before, *b);
            if (pastBefore && listedBefore(*b, *last)) {
                if (!unknowing(*b))
                    knowingly = true;
                inPlace = false;
            }
            if (pastBefore && (!next || listedBefore(*b, *next)))
                next = b;
            if ((!after || listedBefore(*b, *after)) && (!lastOther || listedBefore(*lastOther, *b)))
                lastOther = b;
        }
        if (inPlace || knowingly)
            continue;
        const auto at = [](const FNBlock *b) { return b ? std::optional(b->position) : std::nullopt; };
        // Straight after the block it followed; where the others landed there leave no room for it,
        // after them, right before the block it came before.
        std::optional<std::vector<qint64>> places = spread(at(before), at(next), run.blocks.size());
        if (!places && lastOther && listedBefore(*before, *lastOther))
            places = spread(at(lastOther), at(after), run.blocks.size());
        if (!places)
            continue;
        QStringList placed; // those the service has: their new place goes out as a move
        for (qsizetype i = 0; i < run.blocks.size(); ++i) {
            const qint64 position = (*places)[size_t(i)];
            m_store.editBlock(
                run.blocks[i], [&](FNBlock &b) { b.position = position; }, LocalStore::Stamp::Keep);
            run.at[size_t(i)] = position;
            if (m_store.block(run.blocks[i])->serverID != 0) {
                placed << run.blocks[i];
                m_unsentEdits[run.blocks[i]] =
                    BlockFields::merged(m_unsentEdits.value(run.blocks[i]), BlockFields::Place);
            }
        }
        if (!placed.isEmpty()) {
            m_outbox.blocksEdited(run.pageLocalID, placed, BlockFields::Place);
            m_repairedPages.insert(run.pageLocalID);
        }
        run.beforeAt = m_store.block(run.before)->position;
    }
}
