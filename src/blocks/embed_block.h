#pragma once

class BlockHost;
class BlockView;

// An embedded video or page (YouTube, Vimeo, an iframe). It has no keys of its own yet: its
// content stays exactly as stored.
namespace EmbedBlock {

BlockView *makeView(BlockHost &host);

} // namespace EmbedBlock
