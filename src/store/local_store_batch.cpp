#include "store/local_store.h"

// Batches: many edits told and saved as one change.

void LocalStore::beginBatch()
{
    ++m_batchDepth;
}

void LocalStore::endBatch()
{
    if (--m_batchDepth > 0)
        return;
    const BatchChange change = std::exchange(m_batch, BatchChange{});
    const bool state = std::exchange(m_batchState, false);
    const bool save = std::exchange(m_batchSave, false);
    // Armed before telling: an observer that edits again joins this save rather than its own.
    if (save)
        scheduleSave();
    if (change.allRecords)
        Q_EMIT recordsChanged();
    if (!change.isEmpty())
        Q_EMIT batchApplied(change);
    if (state)
        Q_EMIT stateChanged();
}

void LocalStore::tellState()
{
    if (isInBatch())
        m_batchState = true;
    else
        Q_EMIT stateChanged();
}

void LocalStore::tellAllRecords()
{
    if (isInBatch())
        m_batch.allRecords = true;
    else
        Q_EMIT recordsChanged();
}
