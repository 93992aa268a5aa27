#pragma once

#include "store/fn_block.h"

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using BlockChunk = std::shared_ptr<const std::vector<FNBlock>>;

// The store's blocks as chunks of a fixed run of positions, kept for the snapshots: a chunk is
// copied again only when a block in it changed since the last snapshot, so taking one after an edit
// costs a chunk and the list of chunks, not every block. After a load the chunks are made on a
// thread of their own; until it is done, the list it reads changes only under `hold()`.
class BlockChunks
{
public:
    static constexpr size_t kSize = 512;

    // Mirrors `blocks`, which must outlive this.
    explicit BlockChunks(const std::vector<FNBlock> &blocks);
    // Stops the making of chunks.
    ~BlockChunks();
    BlockChunks(const BlockChunks &) = delete;
    BlockChunks &operator=(const BlockChunks &) = delete;

    // Makes every chunk not yet made on another thread, the list read one chunk at a time.
    void fillAside();
    // Held by whoever changes the list while the chunks may be made aside.
    std::unique_lock<std::recursive_mutex> hold() { return std::unique_lock(m_mutex); }

    // The block at `at` changed in place.
    void touched(qsizetype at);
    // Every position from `at` on may have changed (appends, removals).
    void touchedFrom(qsizetype at);
    void allTouched() { touchedFrom(0); }
    // The chunks of the list as it stands, the changed ones copied anew.
    std::vector<BlockChunk> take();

    // Chunks copied by the takes on the calling thread, and aside (tests).
    size_t copiedByTakes() const { return m_copiedByTakes; }
    size_t copiedAside() const { return m_copiedAside; }
    // Waits for the chunks made aside (tests).
    void waitAside();

private:
    // Copies chunk `i` when it is missing or changed; false when the list has no such chunk.
    bool refresh(size_t i, size_t &copies);
    BlockChunk copyChunk(size_t i) const;
    void stopAside();

    const std::vector<FNBlock> &m_blocks;
    std::recursive_mutex m_mutex;
    std::vector<BlockChunk> m_chunks;
    std::vector<bool> m_dirty;
    size_t m_copiedByTakes = 0;
    size_t m_copiedAside = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_aside;
};
