#pragma once

#include "api/wire/blocks.h"
#include "store/fn_page.h"

#include <QString>

#include <vector>

class LocalStore;

// Adds to the store the service's blocks of a page that the device does not know yet. Local data
// always wins: a block whose server id any local block carries (of any page, deleted or not) is
// left alone, and nothing is renumbered or queued.
namespace ServerBlockMerge {

// Returns how many blocks were added.
int mergeServerBlocks(LocalStore &store, const FNPage &page, const std::vector<BlockDTO> &blocks);
// The content as compact JSON text; "{}" when it cannot be written.
QString serverContentJSON(const BlockDTO &block);

} // namespace ServerBlockMerge
