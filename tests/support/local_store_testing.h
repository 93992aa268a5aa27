#pragma once

#include "store/block_chunks.h"
#include "store/index_builder.h"
#include "store/local_store.h"
#include "store/state_writer.h"

#include <utility>

// Tests reach past the store's public face: arming a save by hand, the positions its id indexes
// keep, and a change nobody is told of (fields other than ids only, or the indexes go stale).
struct LocalStoreTesting {
    template <typename Edit>
    static void changeUntold(LocalStore &store, Edit &&edit)
    {
        const auto hold = store.holdAll();
        std::forward<Edit>(edit)(store.m_state);
        store.allRecordsTouched();
    }

    static void scheduleSave(LocalStore &store) { store.scheduleSave(); }
    // As a crash would leave it: a write already under way lands, and nothing more is ever written
    // (the saves armed, nor the one on closing).
    static void abandon(LocalStore &store)
    {
        store.m_writer->wait();
        store.m_saveTimer.stop();
        store.m_unsaved = false;
        store.m_saveBlockedReason = QStringLiteral("abandoned as in a crash");
    }
    // Chunks of blocks the saves copied on the store's thread, and those made beside it after a load.
    static size_t chunksCopiedBySaves(const LocalStore &store)
    {
        return store.m_blockChunks->copiedByTakes();
    }
    static size_t chunksMadeAside(LocalStore &store)
    {
        store.m_blockChunks->waitAside();
        return store.m_blockChunks->copiedAside();
    }
    // Waits for the indexes built beside the store's thread.
    static void waitForIndexes(LocalStore &store) { store.m_indexBuilder->waitAside(); }
    // Chunks whose text the loaded file was found to hold as the writer writes it.
    static size_t chunksFoundInFile(LocalStore &store)
    {
        store.m_blockChunks->waitAside();
        return store.m_blockChunks->foundInFile();
    }
    // Chunks the saves encoded from blocks, and those whose text they copied from the last file.
    static size_t chunksEncodedBySaves(const LocalStore &store) { return store.m_writer->chunksEncoded(); }
    static size_t chunksCopiedFromFile(const LocalStore &store) { return store.m_writer->chunksCopied(); }
    static qsizetype indexOfPage(const LocalStore &store, const QString &id) { return store.indexOfPage(id); }
    static qsizetype indexOfBlock(const LocalStore &store, const QString &id)
    {
        return store.indexOfBlock(id);
    }
    static qsizetype indexOfPageWithServerID(const LocalStore &store, qint64 id)
    {
        return store.indexOfPageWithServerID(id);
    }
    static qsizetype indexOfBlockWithServerID(const LocalStore &store, qint64 id)
    {
        return store.indexOfBlockWithServerID(id);
    }
};
