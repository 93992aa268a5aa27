#include "store/outbox_chunks.h"

#include <algorithm>

std::vector<OutboxChunks::Chunk> OutboxChunks::take(const std::vector<FNSyncOp> &outbox)
{
    std::vector<Chunk> chunks;
    chunks.reserve(outbox.size() / kChunkOps + 1);
    auto at = outbox.begin();
    // Comparing reads each operation in place; copying one touches all its strings' counts.
    for (const Chunk &chunk : m_chunks) {
        if (chunk->size() != kChunkOps || size_t(outbox.end() - at) < kChunkOps ||
            !std::equal(chunk->begin(), chunk->end(), at))
            break;
        chunks.push_back(chunk);
        at += kChunkOps;
    }
    while (at != outbox.end()) {
        const auto end = at + std::min<ptrdiff_t>(kChunkOps, outbox.end() - at);
        chunks.push_back(std::make_shared<const std::vector<FNSyncOp>>(at, end));
        at = end;
    }
    m_chunks = chunks;
    return chunks;
}
