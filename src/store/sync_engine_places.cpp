#include "store/sync_engine.h"

#include "store/block_fields.h"
#include "store/block_places.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_payload.h"

#include <QSet>

#include <algorithm>
#include <limits>

// Blocks made here keep the place they were typed at: a line goes right after the block it was typed
// after. Until it reaches the service, the other devices place their blocks knowing nothing of it, and
// a push lands it unknowing of what they sent meanwhile. When the cycle's pulls move the block it
// followed, or land others' blocks among a run of such lines, the run is put back together after that
// block; each of its lines costs at most one more move. A line typed while the cycle is out joins the
// run it was typed in. Where a line goes is written in store/block_places.h.

namespace {

// A sibling as the list orders it, apart from the store's records: the repair of a page moves its
// runs in its own list as it goes, and writes the store once at the end.
struct Listed {
    qint64 position = 0;
    qint64 serverID = 0;
    QString localID;
};

Listed listed(const FNBlock &b)
{
    return {b.position, b.serverID, b.localID};
}

bool byList(const Listed &a, const Listed &b)
{
    return listedBefore(a, b);
}

// The live siblings under the parent `lead` names, in list order.
std::vector<Listed> siblingList(const LocalStore &store, const FNBlock &lead)
{
    std::vector<Listed> list;
    for (const FNBlock *b : store.blocksOfPage(lead.pageLocalID)) {
        if (!b->deletedAt && sameParent(*b, lead))
            list.push_back(listed(*b));
    }
    std::sort(list.begin(), list.end(), byList);
    return list;
}

// Where `b` is in the list (at its key as listed), or the list's end.
std::vector<Listed>::iterator find(std::vector<Listed> &list, const Listed &b)
{
    const auto it = std::lower_bound(list.begin(), list.end(), b, byList);
    return it != list.end() && it->localID == b.localID ? it : list.end();
}

constexpr size_t kNoRun = std::numeric_limits<size_t>::max();

// A run noted this cycle, still as typed, as its page is checked.
struct RunCheck {
    size_t index = 0;
    std::vector<const FNBlock *> made; // its blocks, in the run's order
    const FNBlock *before = nullptr;
    const FNBlock *after = nullptr;
    const FNBlock *first = nullptr; // of its blocks, in list order
    const FNBlock *last = nullptr;
    qint64 landed = 0;             // when the first of its blocks landed on the service, if any did
    const FNBlock *next = nullptr; // the first of the others listed after `before`
};

// Sets each run's `next`, in one walk of the page: a block is the next of the nearest `before` listed
// below it among its siblings (unless it is one of that run's own), as that nearest `before` lies
// between it and any farther one.
void findNextOthers(const LocalStore &store, const QString &pageLocalID, std::vector<RunCheck> &checks,
                    const QHash<QString, size_t> &runOf)
{
    std::vector<std::vector<RunCheck *>> groups; // per sibling group, its runs by the block they follow
    for (RunCheck &c : checks) {
        const auto group = std::find_if(groups.begin(), groups.end(), [&](const std::vector<RunCheck *> &g) {
            return sameParent(*g.front()->before, *c.before);
        });
        if (group == groups.end())
            groups.push_back({&c});
        else
            group->push_back(&c);
    }
    for (std::vector<RunCheck *> &g : groups) {
        std::sort(g.begin(), g.end(),
                  [](const RunCheck *x, const RunCheck *y) { return listedBefore(*x->before, *y->before); });
    }
    for (const FNBlock *b : store.blocksOfPage(pageLocalID)) {
        if (b->deletedAt)
            continue;
        for (const std::vector<RunCheck *> &g : groups) {
            if (!sameParent(*b, *g.front()->before))
                continue;
            auto below = std::upper_bound(g.begin(), g.end(), b, [](const FNBlock *v, const RunCheck *c) {
                return listedBefore(*v, *c->before);
            });
            if (below != g.begin() && (*(below - 1))->before == b)
                --below;
            if (below == g.begin())
                break;
            RunCheck &c = **(below - 1);
            const bool mayBeOwn = b->position >= c.first->position && b->position <= c.last->position;
            if (mayBeOwn && runOf.value(b->localID, kNoRun) == c.index)
                break;
            if (!c.next || listedBefore(*b, *c.next))
                c.next = b;
            break;
        }
    }
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

void SyncEngine::forgetNewRuns()
{
    m_newRuns.clear();
    m_runsOnPage.clear();
    m_runOf.clear();
    m_lookedAt.clear();
    m_landedAt.clear();
}

void SyncEngine::noteNewRuns()
{
    forgetNewRuns();
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
        for (const FNBlock *b : made)
            m_lookedAt.insert(b->localID);
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
                    const size_t index = m_newRuns.size();
                    for (const QString &id : run.blocks)
                        m_runOf.insert(id, index);
                    m_runsOnPage[run.pageLocalID].push_back(index);
                    m_newRuns.push_back(std::move(run));
                }
                i = j + 1;
            }
        }
    }
}

void SyncEngine::joinRunTypedIn(const QString &blockLocalID)
{
    if (m_newRuns.empty() || m_runOf.contains(blockLocalID) || m_lookedAt.contains(blockLocalID))
        return;
    const FNBlock *made = m_store.block(blockLocalID);
    if (!made || made->serverID != 0 || made->deletedAt)
        return;
    const auto runs = m_runsOnPage.constFind(made->pageLocalID);
    if (runs == m_runsOnPage.cend())
        return;
    m_lookedAt.insert(blockLocalID);
    // The block it was typed after: the last of its siblings listed before it, now that it is placed.
    const FNBlock *typedAfter = nullptr;
    for (const FNBlock *b : m_store.blocksOfPage(made->pageLocalID)) {
        if (b != made && !b->deletedAt && sameParent(*b, *made) && listedBefore(*b, *made) &&
            (!typedAfter || listedBefore(*typedAfter, *b)))
            typedAfter = b;
    }
    if (!typedAfter)
        return;
    size_t index = m_runOf.value(typedAfter->localID, kNoRun);
    qsizetype at = 0;
    if (index != kNoRun) {
        at = m_newRuns[index].blocks.indexOf(typedAfter->localID) + 1;
    } else {
        for (const size_t i : *runs) {
            if (m_newRuns[i].before == typedAfter->localID)
                index = i;
        }
    }
    if (index == kNoRun)
        return;
    NewRun &run = m_newRuns[index];
    run.blocks.insert(at, blockLocalID);
    run.at.insert(run.at.begin() + at, made->position);
    m_runOf.insert(blockLocalID, index);
}

void SyncEngine::keepNewRunsInPlace(const QSet<QString> &pages)
{
    for (auto page = m_runsOnPage.cbegin(); page != m_runsOnPage.cend(); ++page) {
        if (pages.contains(page.key()))
            keepRunsOfPage(page.key(), page.value());
    }
}

void SyncEngine::keepRunsOfPage(const QString &pageLocalID, const std::vector<size_t> &runs)
{
    std::vector<RunCheck> checks;
    for (const size_t index : runs) {
        const NewRun &run = m_newRuns[index];
        RunCheck c;
        c.index = index;
        // Whatever landed before the run did was placed unknowing of it; what landed after, by
        // someone who saw it there.
        c.landed = std::numeric_limits<qint64>::max();
        for (qsizetype i = 0; i < run.blocks.size(); ++i) {
            const FNBlock *b = m_store.block(run.blocks[i]);
            // Gone, or moved since by another device or by hand: no longer placed as typed.
            if (!b || b->deletedAt || b->position != run.at[size_t(i)] ||
                (!c.made.empty() && !sameParent(*b, *c.made.front())))
                break;
            if (b->serverID != 0)
                c.landed = std::min(c.landed, m_landedAt.value(b->localID, -1));
            c.made.push_back(b);
        }
        if (c.made.size() != size_t(run.blocks.size()))
            continue;
        const FNBlock &lead = *c.made.front();
        // A run typed above every block follows none: whatever lands above it may stay there.
        c.before = m_store.block(run.before);
        if (!c.before || c.before->deletedAt || !sameParent(*c.before, lead))
            continue; // what it followed went elsewhere: it stays where it is
        // Moved here, by hand: the run stays. Moved by a version pulled in this cycle: the feed does
        // not tell whether the copy it was made from held the run, so the run goes after it.
        if (c.before->position != run.beforeAt && !m_landedAt.contains(run.before))
            continue;
        c.after = run.after.isEmpty() ? nullptr : m_store.block(run.after);
        if (c.after &&
            (c.after->deletedAt || !sameParent(*c.after, lead) || !listedBefore(*c.before, *c.after)))
            c.after = nullptr;
        c.first = c.last = c.made.front();
        for (const FNBlock *b : c.made) {
            if (listedBefore(*b, *c.first))
                c.first = b;
            if (listedBefore(*c.last, *b))
                c.last = b;
        }
        checks.push_back(std::move(c));
    }
    // Most runs are as they were: straight after the block they followed, nothing among them.
    findNextOthers(m_store, pageLocalID, checks, m_runOf);
    std::erase_if(checks, [](const RunCheck &c) {
        return listedBefore(*c.before, *c.first) && (!c.next || listedBefore(*c.last, *c.next));
    });
    if (checks.empty())
        return;

    // Per sibling group with a run to put back, its list, made once for the page; the runs are put
    // back in it as they move, and the store is written after the last.
    std::vector<std::pair<FNBlock, std::vector<Listed>>> lists;
    const auto listOf = [&](const FNBlock &lead) -> std::vector<Listed> & {
        for (auto &[parent, list] : lists) {
            if (sameParent(parent, lead))
                return list;
        }
        lists.emplace_back(lead, siblingList(m_store, lead));
        return lists.back().second;
    };
    std::vector<std::pair<QString, qint64>> moves;
    QStringList placed; // those the service has: their new place goes out as a move
    for (const RunCheck &c : checks) {
        const size_t index = c.index;
        NewRun &run = m_newRuns[index];
        const std::vector<const FNBlock *> &made = c.made;
        const FNBlock *before = c.before;
        const FNBlock *after = c.after;
        const auto unknowing = [&](const QString &id) { return m_landedAt.value(id, c.landed) < c.landed; };
        std::vector<Listed> &list = listOf(*before);
        const auto from = find(list, listed(*before));
        if (from == list.end())
            continue;
        // From the block it followed on, up to its last line: what lies among the run, as the runs
        // put back before it stand now.
        bool inPlace = listedBefore(*before, *c.first);
        bool knowingly = false;       // some block was put among the run by someone who saw it
        const Listed *next = nullptr; // the first of the others after `before`
        const Listed lastListed = listed(*c.last);
        for (auto it = from + 1; it != list.end(); ++it) {
            if (m_runOf.value(it->localID, kNoRun) == index)
                continue;
            if (!next)
                next = &*it;
            if (!byList(*it, lastListed))
                break;
            inPlace = false;
            if (!unknowing(it->localID)) {
                knowingly = true;
                break;
            }
        }
        if (inPlace || knowingly)
            continue;
        const auto count = size_t(run.blocks.size());
        // Straight after the block it followed; where the others landed there leave no room for it,
        // after them, right before the block it came before.
        std::optional<std::vector<qint64>> places = BlockPlaces::spread(
            before->position, next ? std::optional(next->position) : std::nullopt, count, kLineStep);
        if (!places) {
            // The last of the others before `after`, or of all.
            auto it = after ? std::lower_bound(list.begin(), list.end(), listed(*after), byList) : list.end();
            while (it != list.begin() && m_runOf.value((it - 1)->localID, kNoRun) == index)
                --it;
            if (it != list.begin() && byList(*from, *(it - 1)))
                places = BlockPlaces::spread((it - 1)->position,
                                             after ? std::optional(after->position) : std::nullopt, count,
                                             kLineStep);
        }
        if (!places)
            continue;
        std::vector<Listed> moved;
        for (size_t i = 0; i < count; ++i) {
            const Listed was = listed(*made[i]);
            list.erase(find(list, was));
            moved.push_back({(*places)[i], was.serverID, was.localID});
            moves.emplace_back(was.localID, moved.back().position);
            run.at[i] = moved.back().position;
            if (was.serverID != 0)
                placed << was.localID;
        }
        for (const Listed &b : moved)
            list.insert(std::upper_bound(list.begin(), list.end(), b, byList), b);
        run.beforeAt = before->position;
    }
    // The records change only now: the pointers read above stay valid until then.
    for (const auto &[localID, position] : moves) {
        m_store.editBlock(
            localID, [&](FNBlock &b) { b.position = position; }, LocalStore::Stamp::Keep);
    }
    for (const QString &id : placed)
        m_unsentEdits[id] = BlockFields::merged(m_unsentEdits.value(id), BlockFields::Place);
    if (!placed.isEmpty()) {
        m_outbox.blocksEdited(pageLocalID, placed, BlockFields::Place);
        m_repairedPages.insert(pageLocalID);
    }
}
