#include "store/local_store.h"

#include "platform/diag.h"
#include "platform/start_marks.h"
#include "store/block_chunks.h"
#include "store/create_adoption.h"
#include "store/send_journal.h"
#include "store/state_writer.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <type_traits>

namespace {

constexpr auto kSaveError = "LocalStore save error: ";

} // namespace

void LocalStore::scheduleSave()
{
    if (isInBatch()) {
        m_batchSave = true;
        return;
    }
    // A burst is written once, when it pauses for the delay; a steady stream no later than the
    // longest wait after its first change.
    if (!m_saveTimer.isActive())
        m_pendingSince.start();
    const auto waited = std::chrono::milliseconds(m_pendingSince.elapsed());
    // Near the longest wait the armed time stands: re-arming a due timer on every change of a fast
    // stream would keep it from ever firing.
    if (m_saveTimer.isActive() && waited + m_saveDelay >= m_longestSaveWait)
        return;
    startMarks::mark("save_scheduled");
    m_saveTimer.start(std::clamp(m_longestSaveWait - waited, std::chrono::milliseconds(0), m_saveDelay));
}

void LocalStore::deferSave()
{
    m_unsaved = true;
}

bool LocalStore::isSavePending() const
{
    return m_saveTimer.isActive() || m_writer->isBusy();
}

void LocalStore::writePendingSave()
{
    if (m_saveTimer.isActive() || m_unsaved)
        save();
    else
        m_writer->wait();
    reportSaveFailures();
}

void LocalStore::reset()
{
    ++m_generation;
    {
        auto hold = holdAll();
        m_state = StoreState{};
        allRecordsTouched();
    }
    indexesStale();
    tellAllRecords();
    tellState();
    // Blocked, the file still holds records that are nowhere else. A write under way would put
    // the old state back after the removal.
    if (!isSaveBlocked()) {
        m_writer->wait();
        QFile::remove(m_url);
        m_sendJournal->clear();
    }
}

void LocalStore::startSave()
{
    m_saveTimer.stop();
    m_unsaved = false;
    if (isSaveBlocked())
        return;
    startMarks::mark("save_started");
    // The state as it is now, for the writer alone while the state moves on: the records shared
    // with the last save where they did not change since, the blocks in chunks of their own.
    auto snapshot = std::make_shared<StateSnapshot>();
    snapshot->blockChunks = m_blockChunks->take();
    if (!m_savedFolders)
        m_savedFolders = std::make_shared<const std::vector<FNFolder>>(m_state.folders);
    if (!m_savedPages)
        m_savedPages = std::make_shared<const std::vector<FNPage>>(m_state.pages);
    snapshot->folders = m_savedFolders;
    snapshot->pages = m_savedPages;
    snapshot->outbox = m_savedOutbox->take(m_state.outbox);
    std::apply(
        [&](const auto &...f) {
            const auto copy = [&](const auto &field) {
                if constexpr (!StateSnapshot::kShared<std::remove_cvref_t<decltype(field.member)>>)
                    snapshot->rest.*field.member = m_state.*field.member;
            };
            (copy(f), ...);
        },
        StoreState::kFields);
    // What the requests sent so far did is in this snapshot: once it is on disk their notes can go.
    const SendJournal::Mark covered = m_sendJournal->coveredNow();
    m_state.sendNotesCovered = snapshot->rest.sendNotesCovered = covered.seq;
    // The writer stops before the store goes, so the store outlives every call of this.
    snapshot->written = [this, journal = m_sendJournal.get(), covered, save = ++m_savesStarted] {
        journal->written(covered);
        QMetaObject::invokeMethod(
            this, [this, save] { Q_EMIT saveWritten(save); }, Qt::QueuedConnection);
    };
    m_writer->write(std::move(snapshot));
}

void LocalStore::foldSendJournal()
{
    const std::vector<SendNote> notes = m_sendJournal->load(m_state.sendNotesCovered);
    if (notes.empty())
        return;
    foldCreateNotes(m_state.outbox, notes);
    QHash<QString, size_t> opAt;
    opAt.reserve(qsizetype(m_state.outbox.size()));
    for (size_t i = 0; i < m_state.outbox.size(); ++i)
        opAt.insert(m_state.outbox[i].localID, i);
    QHash<QString, SentFill> fills;
    int folded = 0;
    for (const SendNote &note : notes) {
        const auto at = opAt.constFind(note.opLocalID);
        const bool queued = at != opAt.cend();
        if (queued) {
            FNSyncOp &op = m_state.outbox[*at];
            op.unanswered = true;
            if (note.window)
                noteUnansweredSend(op, note.window->from, note.window->until, 0);
        } else if (!note.seq) {
            // An older build's note, which saves did not number: it may be one the state holds the
            // outcome of.
            continue;
        }
        // Gone from the outbox, the operation was sent before any save wrote it; its request went
        // out all the same.
        if (note.filled) {
            for (auto it = note.filled->cbegin(); it != note.filled->cend(); ++it)
                fills.insert(it.key(), SentFill{it.value(), !queued});
        }
        ++folded;
    }
    foldSentFills(fills);
    if (folded > 0)
        diag(QStringLiteral("LocalStore: %1 request(s) went out before the last launch ended; "
                            "their answers are looked for first")
                 .arg(folded));
    deferSave();
}

void LocalStore::foldSentFills(const QHash<QString, SentFill> &fills)
{
    if (fills.isEmpty())
        return;
    // A block gone here has nothing to put back: one pass over the blocks, and only when an
    // operation is gone (with it queued, its marks are swept as ever).
    QSet<QString> live;
    if (std::any_of(fills.cbegin(), fills.cend(), [](const SentFill &f) { return f.unconfirmed; })) {
        for (const FNBlock &block : m_state.blocks) {
            if (!block.deletedAt && fills.contains(block.localID))
                live.insert(block.localID);
        }
    }
    auto &checks = m_state.fillChecks;
    QHash<QString, size_t> checkAt;
    checkAt.reserve(qsizetype(checks.size()));
    for (size_t i = 0; i < checks.size(); ++i)
        checkAt.insert(checks[i].blockLocalID, i);
    QSet<QString> dropped;
    for (auto it = fills.cbegin(); it != fills.cend(); ++it) {
        const SentFill &fill = it.value();
        if (fill.unconfirmed && !live.contains(it.key()))
            continue;
        const auto at = checkAt.constFind(it.key());
        // As the answer would have noted it (Outbox::noteFilled). What a request that may never
        // have gone out filled in nothing drops no check, nor what the check had put back.
        if (fill.fields == 0) {
            if (!fill.unconfirmed && at != checkAt.cend())
                dropped.insert(it.key());
        } else if (at != checkAt.cend()) {
            FNFillCheck &check = checks[*at];
            check.fields = fill.fields;
            if (!fill.unconfirmed)
                check.repaired = 0;
            check.awaitingEcho = true;
        } else {
            FNFillCheck added;
            added.blockLocalID = it.key();
            added.fields = fill.fields;
            added.awaitingEcho = true;
            checkAt.insert(it.key(), checks.size());
            checks.push_back(std::move(added));
        }
    }
    if (!dropped.isEmpty())
        std::erase_if(checks, [&](const FNFillCheck &c) { return dropped.contains(c.blockLocalID); });
}

void LocalStore::save()
{
    startSave();
    m_writer->wait();
    reportSaveFailures();
}

void LocalStore::saveFailed(const QString &reason)
{
    {
        std::lock_guard lock(m_failuresMutex);
        m_saveFailures.append(reason);
    }
    QMetaObject::invokeMethod(this, &LocalStore::reportSaveFailures, Qt::QueuedConnection);
}

void LocalStore::reportSaveFailures()
{
    QStringList failures;
    {
        std::lock_guard lock(m_failuresMutex);
        failures.swap(m_saveFailures);
    }
    for (const QString &reason : failures)
        diag(QLatin1String(kSaveError) + reason);
}

void LocalStore::allRecordsTouched()
{
    ++m_blocksRevision;
    m_savedFolders.reset();
    m_savedPages.reset();
    m_blockChunks->allTouched();
}

void LocalStore::setLongestSaveWait(std::chrono::milliseconds wait)
{
    m_longestSaveWait = wait;
}
