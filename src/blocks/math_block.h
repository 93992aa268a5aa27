#pragma once

class BlockHost;
class BlockView;

// A LaTeX formula. It has no keys of its own yet: its content stays exactly as stored.
namespace MathBlock {

BlockView *makeView(BlockHost &host);

} // namespace MathBlock
