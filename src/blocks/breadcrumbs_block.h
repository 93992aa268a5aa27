#pragma once

class BlockHost;
class BlockView;

// The path of folders and pages above the page; it stores nothing of its own.
namespace BreadcrumbsBlock {

BlockView *makeView(BlockHost &host);

} // namespace BreadcrumbsBlock
