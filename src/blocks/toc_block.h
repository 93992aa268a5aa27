#pragma once

class BlockHost;
class BlockView;

// The page's table of contents, made from its headings; it stores nothing of its own.
namespace TocBlock {

BlockView *makeView(BlockHost &host);

} // namespace TocBlock
