#pragma once

#include "store/fn_block.h"

#include <QString>

#include <vector>

// The page's blocks in reading order: the top-level blocks by position, each followed at once by
// its children by position, and so on down (a stable order). Deleted blocks are left out with
// everything under them, as are blocks whose parent is not among `blocks`: the editor shows
// neither. A child names its parent by local id, or by server id when it has no local link.
std::vector<FNBlock> blocksInReadingOrder(const std::vector<FNBlock> &blocks);

// The page as one Markdown document: "# " and the title (or "Untitled"), then one part per block
// in reading order, parts separated by a blank line, ending in one line feed. Never fails:
// content that does not decode reads as empty, and an unknown kind prints its text.
QString renderMarkdown(const QString &title, const std::vector<FNBlock> &blocks);

// The proposed name of the exported file: the title (or "Untitled") with every "/" made "-",
// then ".md".
QString markdownFileName(const QString &title);
