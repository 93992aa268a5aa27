#include "store/local_store.h"

#include "platform/diag.h"
#include "platform/start_marks.h"
#include "store/block_chunks.h"
#include "store/create_adoption.h"
#include "store/send_journal.h"
#include "store/state_writer.h"

#include <QFile>

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
    std::function<void()> journalWritten;
    if (const std::optional<quint64> covered = m_sendJournal->coveredNow())
        journalWritten = [journal = m_sendJournal.get(), n = *covered] { journal->written(n); };
    // The writer stops before the store goes, so the store outlives every call of this.
    snapshot->written = [this, journalWritten = std::move(journalWritten), save = ++m_savesStarted] {
        if (journalWritten)
            journalWritten();
        QMetaObject::invokeMethod(
            this, [this, save] { Q_EMIT saveWritten(save); }, Qt::QueuedConnection);
    };
    m_writer->write(std::move(snapshot));
}

void LocalStore::foldSendJournal()
{
    const std::vector<SendNote> notes = m_sendJournal->load();
    foldCreateNotes(m_state.outbox, notes);
    int folded = 0;
    for (const SendNote &note : notes) {
        const auto op = std::find_if(m_state.outbox.begin(), m_state.outbox.end(),
                                     [&](const FNSyncOp &o) { return o.localID == note.opLocalID; });
        // Gone from the outbox, the save after its answer holds all it did.
        if (op == m_state.outbox.end())
            continue;
        op->unanswered = true;
        if (note.window)
            noteUnansweredSend(*op, note.window->from, note.window->until, 0);
        const QMap<QString, qint64> filled = note.filled.value_or(QMap<QString, qint64>());
        auto &checks = m_state.fillChecks;
        for (auto it = filled.cbegin(); it != filled.cend(); ++it) {
            const auto check = std::find_if(checks.begin(), checks.end(),
                                            [&](const FNFillCheck &c) { return c.blockLocalID == it.key(); });
            // As the answer would have noted it (Outbox::noteFilled).
            if (it.value() == 0) {
                if (check != checks.end())
                    checks.erase(check);
            } else if (check != checks.end()) {
                check->fields = it.value();
                check->repaired = 0;
            } else {
                FNFillCheck added;
                added.blockLocalID = it.key();
                added.fields = it.value();
                checks.push_back(std::move(added));
            }
        }
        ++folded;
    }
    if (folded > 0)
        diag(QStringLiteral("LocalStore: %1 request(s) went out before the last launch ended; "
                            "their answers are looked for first")
                 .arg(folded));
    if (!notes.empty())
        deferSave();
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
