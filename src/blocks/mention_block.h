#pragma once

#include "blocks/record_link.h"

class BlockHost;
class BlockView;

// A link to another page, by the page's server id.
namespace MentionBlock {

inline constexpr char kPageIDKey[] = "page_id";
using Content = RecordLink<kPageIDKey>;

BlockView *makeView(BlockHost &host);

} // namespace MentionBlock
