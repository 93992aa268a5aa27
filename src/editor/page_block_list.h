#pragma once

#include "store/block_places.h"
#include "store/fn_block.h"
#include "store/fn_page.h"

#include <QSet>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class LocalStore;

// The blocks of one page as its editor lists them, and the edits of their structure. Every list
// is read afresh from the store; every edit is stored and saved at once. Positions order the blocks
// within a sibling group, with gaps, and siblings are the blocks the lists show under the same parent.
class PageBlockList
{
public:
    PageBlockList(LocalStore &store, const QString &pageLocalID);

    LocalStore &store() const { return *m_store; }
    const QString &pageLocalID() const { return m_pageLocalID; }

    // The live page; none when it is deleted or unknown.
    std::optional<FNPage> page() const;
    // Every live block of the page at every nesting level, by position (stable).
    std::vector<FNBlock> pageBlocks() const;
    std::vector<FNBlock> topLevelBlocks() const;
    std::vector<FNBlock> childBlocks(const FNBlock &parent) const;
    // The children dealt to one column of a columns block: child i goes to column i % count.
    std::vector<FNBlock> columnBlocks(const FNBlock &parent, int column, int count) const;

    static bool isTopLevel(const FNBlock &block);
    static std::vector<FNBlock> topLevelOf(const std::vector<FNBlock> &pageBlocks);
    // The local link wins: a block with a parent localID is never matched through its server link.
    static std::vector<FNBlock> childrenOf(const std::vector<FNBlock> &pageBlocks, const FNBlock &parent);
    // The blocks under the parent these links name, as the lists resolve it (whichever link form
    // each child uses). A parent that is not among the blocks leaves the blocks with the same links.
    static std::vector<FNBlock> siblingsOf(const std::vector<FNBlock> &pageBlocks,
                                           const QString &parentLocalID, qint64 parentServerID);

    // A new block right after `after` among its siblings, placed between its neighbours (the nearest
    // few moved only when they leave no room); of the kind, holding the text, at the indent of
    // `after`. Returns its localID; none without a page.
    std::optional<QString> insertBlockAfter(const FNBlock &after,
                                            const QString &type = QStringLiteral("text"),
                                            const QString &text = {});
    // A new block right before `before` among its siblings, between it and the one before it, at its
    // indent; `before` itself is left as it is. Returns its localID; none without a page.
    std::optional<QString> insertBlockBefore(const FNBlock &before,
                                             const QString &type = QStringLiteral("text"));
    // A new empty text block after the parent's last child, a gap past it.
    std::optional<QString> addChildBlock(const FNBlock &parent);
    // A new top-level block of the kind after every block of the page, a gap past the last.
    std::optional<QString> appendBlock(const QString &type);
    // Soft-deletes the block (queuing its deletion when the service knows it); its siblings keep their
    // positions. False, with nothing changed, for the page's last top-level block.
    bool deleteBlockIfEmpty(const FNBlock &block);
    // Moves a top-level block to `targetIndex` among the top-level blocks, between its new
    // neighbours (the nearest few moved only when they leave no room). False, with nothing changed, when
    // the text names no top-level block of the page.
    bool moveBlockOnDrop(const QString &droppedLocalID, int targetIndex);
    // Soft-deletes the blocks (queuing the deletions the service needs); the rest keep their
    // positions. True when no live block is left.
    bool deleteBlocks(const QSet<QString> &localIDs);

private:
    FNBlock newTextBlock(const FNPage &page) const;
    // `after` names the block beside which the new one goes, on that side, at its indent.
    enum class Side { Before, After };
    std::optional<QString> insertBlockBeside(const FNBlock &after, Side side, const QString &type,
                                             const QString &text);
    struct Room {
        qint64 position = 0; // of the block put in
        std::vector<std::pair<QString, qint64>> moves;
    };
    // The place for a block put at index `at` of `ordered` (which does not hold it yet): between its
    // neighbours, or where they leave no room, with the moves of the nearest that make it
    // (store/block_places.h).
    static Room roomAt(const std::vector<FNBlock> &ordered, size_t at, BlockPlaces::Spot spot);
    // Stores the blocks at the positions, marking `fields` (BlockFields Place or Room) as changed here.
    void placeBlocks(const std::vector<std::pair<QString, qint64>> &places, qint64 fields);

    LocalStore *m_store;
    QString m_pageLocalID;
};
