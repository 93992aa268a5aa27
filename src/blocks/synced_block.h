#pragma once

#include "blocks/record_link.h"

class BlockHost;
class BlockView;

// A copy of another block, by the source block's server id.
namespace SyncedBlock {

inline constexpr char kSourceIDKey[] = "source_id";
using Content = RecordLink<kSourceIDKey>;

BlockView *makeView(BlockHost &host);

} // namespace SyncedBlock
