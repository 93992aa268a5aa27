#include "store/block_chunks.h"

#include "platform/off_thread.h"

#include <algorithm>

BlockChunks::BlockChunks(const std::vector<FNBlock> &blocks)
    : m_blocks(blocks)
{
}

BlockChunks::~BlockChunks()
{
    stopAside();
}

void BlockChunks::fillAside()
{
    stopAside();
    m_stop = false;
    m_aside = std::thread([this] {
        // One chunk per hold: a change on the store's thread waits for one chunk's copy at most.
        for (size_t i = 0; !m_stop; ++i) {
            std::lock_guard lock(m_mutex);
            if (!refresh(i, m_copiedAside))
                break;
        }
    });
}

void BlockChunks::stopAside()
{
    m_stop = true;
    if (m_aside.joinable())
        m_aside.join();
}

void BlockChunks::waitAside()
{
    if (m_aside.joinable())
        m_aside.join();
}

void BlockChunks::touched(qsizetype at)
{
    std::lock_guard lock(m_mutex);
    const size_t chunk = size_t(at) / kSize;
    if (chunk < m_dirty.size())
        m_dirty[chunk] = true;
}

void BlockChunks::touchedFrom(qsizetype at)
{
    std::lock_guard lock(m_mutex);
    const size_t from = std::min(size_t(at) / kSize, m_dirty.size());
    std::fill(m_dirty.begin() + qsizetype(from), m_dirty.end(), true);
}

BlockChunk BlockChunks::copyChunk(size_t i) const
{
    const auto from = m_blocks.begin() + qsizetype(i * kSize);
    const auto to = m_blocks.begin() + qsizetype(std::min(m_blocks.size(), (i + 1) * kSize));
    return std::make_shared<const std::vector<FNBlock>>(from, to);
}

bool BlockChunks::refresh(size_t i, size_t &copies)
{
    const size_t count = (m_blocks.size() + kSize - 1) / kSize;
    if (i >= count)
        return false;
    if (m_chunks.size() != count) {
        m_chunks.resize(count);
        m_dirty.resize(count, true);
    }
    if (m_chunks[i] && !m_dirty[i])
        return true;
    m_chunks[i] = copyChunk(i);
    m_dirty[i] = false;
    ++copies;
    return true;
}

std::vector<BlockChunk> BlockChunks::take()
{
    std::lock_guard lock(m_mutex);
    const size_t count = (m_blocks.size() + kSize - 1) / kSize;
    m_chunks.resize(count);
    m_dirty.resize(count, true);
    std::vector<size_t> stale;
    for (size_t i = 0; i < count; ++i) {
        if (!m_chunks[i] || m_dirty[i])
            stale.push_back(i);
    }
    // After a pull most chunks changed: copied side by side while this thread waits, the list
    // standing still meanwhile.
    std::vector<BlockChunk> copies(stale.size());
    forEachSpread(stale.size(), [&](size_t k) { copies[k] = copyChunk(stale[k]); });
    // The chunks replaced are most often the last copies of their blocks once the writer is done
    // with them: freed aside too.
    std::vector<BlockChunk> replaced;
    for (size_t k = 0; k < stale.size(); ++k) {
        if (m_chunks[stale[k]])
            replaced.push_back(std::move(m_chunks[stale[k]]));
        m_chunks[stale[k]] = std::move(copies[k]);
        m_dirty[stale[k]] = false;
    }
    m_copiedByTakes += stale.size();
    if (!replaced.empty())
        dropOffThread(std::move(replaced));
    return m_chunks;
}
