#pragma once

#include "store/fn_sync_op.h"

#include <memory>
#include <vector>

// The outbox as the last save held it, in shared pieces that never change once made. A save shares
// every piece whose operations still stand in the outbox at its place and copies the rest: an outbox
// that only grows (typing while offline) costs a save the last piece, not a copy of all of it.
class OutboxChunks
{
public:
    using Chunk = std::shared_ptr<const std::vector<FNSyncOp>>;
    static constexpr size_t kChunkOps = 256;

    // Pieces that hold `outbox` as it is now, in order; kept for the next call.
    std::vector<Chunk> take(const std::vector<FNSyncOp> &outbox);

private:
    std::vector<Chunk> m_chunks;
};
