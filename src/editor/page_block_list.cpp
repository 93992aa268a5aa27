#include "editor/page_block_list.h"

#include "blocks/block_content.h"
#include "editor/page_outbox.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QHash>

#include <algorithm>

namespace {

constexpr auto kNewBlockType = "text";
constexpr auto kNewBlockContent = "{\"text\":\"\"}";

using BlockPlaces::Spot;

std::optional<qint64> positionOf(const std::vector<FNBlock> &ordered, size_t i)
{
    return i < ordered.size() ? std::optional(ordered[i].position) : std::nullopt;
}

// A position for a block put at index `at` of `ordered` (which does not hold it yet), between its
// neighbours; none when they leave no room.
std::optional<qint64> positionBetween(const std::vector<FNBlock> &ordered, size_t at, Spot spot)
{
    return BlockPlaces::between(at > 0 ? positionOf(ordered, at - 1) : std::nullopt, positionOf(ordered, at),
                                spot);
}

qsizetype indexIn(const std::vector<FNBlock> &blocks, const QString &localID)
{
    const auto it =
        std::find_if(blocks.begin(), blocks.end(), [&](const FNBlock &b) { return b.localID == localID; });
    return it == blocks.end() ? -1 : qsizetype(it - blocks.begin());
}

} // namespace

PageBlockList::PageBlockList(LocalStore &store, const QString &pageLocalID)
    : m_store(&store)
    , m_pageLocalID(pageLocalID)
{
}

std::optional<FNPage> PageBlockList::page() const
{
    // Only a deleted copy may come first: look past it.
    if (const FNPage *page = m_store->page(m_pageLocalID); page && !page->deletedAt)
        return *page;
    for (const FNPage &page : m_store->state().pages) {
        if (page.localID == m_pageLocalID && !page.deletedAt)
            return page;
    }
    return std::nullopt;
}

std::vector<FNBlock> PageBlockList::pageBlocks() const
{
    std::vector<FNBlock> blocks;
    const auto page = this->page();
    if (!page)
        return blocks;
    for (const FNBlock *block : m_store->blocksOfPage(page->localID)) {
        if (!block->deletedAt)
            blocks.push_back(*block);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FNBlock &a, const FNBlock &b) { return listedBefore(a, b); });
    return blocks;
}

std::vector<FNBlock> PageBlockList::topLevelBlocks() const
{
    return topLevelOf(pageBlocks());
}

std::vector<FNBlock> PageBlockList::childBlocks(const FNBlock &parent) const
{
    return childrenOf(pageBlocks(), parent);
}

std::vector<FNBlock> PageBlockList::columnBlocks(const FNBlock &parent, int column, int count) const
{
    std::vector<FNBlock> kept;
    if (count <= 0)
        return kept;
    const std::vector<FNBlock> children = childBlocks(parent);
    for (size_t i = 0; i < children.size(); ++i) {
        if (int(i % size_t(count)) == column)
            kept.push_back(children[i]);
    }
    return kept;
}

bool PageBlockList::isTopLevel(const FNBlock &block)
{
    return block.parentBlockLocalID.isEmpty() && block.parentBlockServerID == 0;
}

std::vector<FNBlock> PageBlockList::topLevelOf(const std::vector<FNBlock> &pageBlocks)
{
    std::vector<FNBlock> top;
    std::copy_if(pageBlocks.begin(), pageBlocks.end(), std::back_inserter(top), &PageBlockList::isTopLevel);
    return top;
}

std::vector<FNBlock> PageBlockList::childrenOf(const std::vector<FNBlock> &pageBlocks, const FNBlock &parent)
{
    std::vector<FNBlock> children;
    for (const FNBlock &b : pageBlocks) {
        const bool byLocal = !b.parentBlockLocalID.isEmpty() && b.parentBlockLocalID == parent.localID;
        const bool byServer = b.parentBlockLocalID.isEmpty() && parent.serverID != 0 &&
                              b.parentBlockServerID == parent.serverID;
        if (byLocal || byServer)
            children.push_back(b);
    }
    return children;
}

std::vector<FNBlock> PageBlockList::siblingsOf(const std::vector<FNBlock> &pageBlocks,
                                               const QString &parentLocalID, qint64 parentServerID)
{
    if (parentLocalID.isEmpty() && parentServerID == 0)
        return topLevelOf(pageBlocks);
    // The parent as the lists find it. Matching both links exactly instead would split the children
    // of one parent into groups by link form, each numbered from 0.
    const auto parent = std::find_if(pageBlocks.begin(), pageBlocks.end(), [&](const FNBlock &b) {
        return parentLocalID.isEmpty() ? b.serverID == parentServerID : b.localID == parentLocalID;
    });
    if (parent != pageBlocks.end())
        return childrenOf(pageBlocks, *parent);
    std::vector<FNBlock> orphans;
    for (const FNBlock &b : pageBlocks) {
        const bool same = parentLocalID.isEmpty()
                              ? b.parentBlockLocalID.isEmpty() && b.parentBlockServerID == parentServerID
                              : b.parentBlockLocalID == parentLocalID;
        if (same)
            orphans.push_back(b);
    }
    return orphans;
}

std::optional<QString> PageBlockList::insertBlockAfter(const FNBlock &after, const QString &type,
                                                       const QString &text)
{
    return insertBlockBeside(after, Side::After, type, text);
}

std::optional<QString> PageBlockList::insertBlockBefore(const FNBlock &before, const QString &type)
{
    return insertBlockBeside(before, Side::Before, type, {});
}

std::optional<QString> PageBlockList::insertBlockBeside(const FNBlock &after, Side side, const QString &type,
                                                        const QString &text)
{
    const auto page = this->page();
    if (!page)
        return std::nullopt;
    std::vector<FNBlock> siblings =
        siblingsOf(pageBlocks(), after.parentBlockLocalID, after.parentBlockServerID);
    const qsizetype found = indexIn(siblings, after.localID);
    const size_t at = found < 0 ? siblings.size() : size_t(found) + (side == Side::After ? 1 : 0);

    FNBlock block = newTextBlock(*page);
    block.type = type;
    if (!text.isEmpty())
        block.contentJSON =
            BlockContent::encode(JSONObject{{QStringLiteral("text"), text}}).value_or(block.contentJSON);
    block.indentLevel = after.indentLevel;
    block.parentBlockServerID = after.parentBlockServerID;
    block.parentBlockLocalID = after.parentBlockLocalID;
    const Room room = roomAt(siblings, at, Spot::Typed);
    block.position = room.position;
    m_store->upsertBlock(block);
    placeBlocks(room.moves, BlockFields::Room);
    return block.localID;
}

std::optional<QString> PageBlockList::addChildBlock(const FNBlock &parent)
{
    const auto page = this->page();
    if (!page)
        return std::nullopt;
    // The parent as stored now: it may have got its server id since the caller read it.
    FNBlock current = parent;
    if (const FNBlock *stored = m_store->block(parent.localID))
        current = *stored;
    const std::vector<FNBlock> children = childBlocks(current);
    const Room room = roomAt(children, children.size(), Spot::Typed);

    FNBlock block = newTextBlock(*page);
    block.parentBlockServerID = current.serverID;
    block.parentBlockLocalID = current.localID;
    block.position = room.position;
    m_store->upsertBlock(block);
    placeBlocks(room.moves, BlockFields::Room);
    return block.localID;
}

std::optional<QString> PageBlockList::appendBlock(const QString &type)
{
    const auto page = this->page();
    if (!page)
        return std::nullopt;
    const std::vector<FNBlock> blocks = pageBlocks();
    FNBlock block = newTextBlock(*page);
    block.type = type;
    // Past every block of the page, nested ones too, and past 0. Where the range ends too near the
    // last, at the end of the top-level blocks, room made there.
    const std::optional<qint64> past = BlockPlaces::between(
        blocks.empty() ? std::nullopt : std::optional(blocks.back().position), std::nullopt, Spot::Typed);
    Room room{std::max<qint64>(0, past.value_or(0)), {}};
    if (!past) {
        const std::vector<FNBlock> top = topLevelOf(blocks);
        room = roomAt(top, top.size(), Spot::Typed);
    }
    block.position = room.position;
    m_store->upsertBlock(block);
    placeBlocks(room.moves, BlockFields::Room);
    return block.localID;
}

bool PageBlockList::deleteBlockIfEmpty(const FNBlock &block)
{
    if (isTopLevel(block) && topLevelBlocks().size() < 2)
        return false;
    // The server id as stored now: a block acknowledged after the caller read it must still be
    // deleted on the service.
    FNBlock current = block;
    if (const FNBlock *stored = m_store->block(block.localID))
        current = *stored;
    m_store->markBlockDeleted(current.localID);
    if (current.serverID != 0)
        PageOutbox::queueBlockDelete(*m_store, current);
    // The siblings keep their positions: the gap keeps their order, and another device may be
    // editing them.
    return true;
}

bool PageBlockList::moveBlockOnDrop(const QString &droppedLocalID, int targetIndex)
{
    std::vector<FNBlock> list = topLevelBlocks();
    const qsizetype from = indexIn(list, droppedLocalID);
    if (from < 0)
        return false;
    const FNBlock moved = list[size_t(from)];
    list.erase(list.begin() + from);
    const qsizetype to = std::clamp<qsizetype>(targetIndex, 0, qsizetype(list.size()));
    const Room room = roomAt(list, size_t(to), Spot::Dropped);
    placeBlocks(room.moves, BlockFields::Room);
    if (room.position != moved.position)
        placeBlocks({{moved.localID, room.position}}, BlockFields::Place);
    return true;
}

bool PageBlockList::deleteBlocks(const QSet<QString> &localIDs)
{
    for (const FNBlock &block : pageBlocks()) {
        if (!localIDs.contains(block.localID))
            continue;
        m_store->markBlockDeleted(block.localID);
        if (block.serverID != 0)
            PageOutbox::queueBlockDelete(*m_store, block);
    }
    std::vector<FNBlock> remaining = pageBlocks();
    std::erase_if(remaining, [&](const FNBlock &b) { return localIDs.contains(b.localID); });
    return remaining.empty();
}

FNBlock PageBlockList::newTextBlock(const FNPage &page) const
{
    FNBlock block;
    block.localID = newLocalID();
    block.pageServerID = page.serverID;
    block.pageLocalID = page.localID;
    block.type = QString::fromLatin1(kNewBlockType);
    block.contentJSON = QString::fromLatin1(kNewBlockContent);
    block.indentLevel = 0;
    block.createdAt = block.updatedAt = QDateTime::currentDateTimeUtc();
    return block;
}

PageBlockList::Room PageBlockList::roomAt(const std::vector<FNBlock> &ordered, size_t at, Spot spot)
{
    if (const std::optional<qint64> between = positionBetween(ordered, at, spot))
        return Room{*between, {}};
    std::vector<qint64> positions;
    positions.reserve(ordered.size());
    for (const FNBlock &b : ordered)
        positions.push_back(b.position);
    const BlockPlaces::Room made = BlockPlaces::makeRoom(positions, at);
    Room room{made.position, {}};
    for (const auto &[index, position] : made.moves)
        room.moves.emplace_back(ordered[index].localID, position);
    return room;
}

void PageBlockList::placeBlocks(const std::vector<std::pair<QString, qint64>> &places, qint64 fields)
{
    std::vector<FNBlock> edited;
    QStringList ids;
    QHash<QString, qint64> roomFrom;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto &[localID, position] : places) {
        // From the store: the list may predate writes made since (a new block's own upsert).
        const FNBlock *stored = m_store->block(localID);
        if (!stored)
            continue;
        FNBlock block = *stored;
        if (fields == BlockFields::Room && block.serverID != 0)
            roomFrom.insert(block.localID, block.position);
        block.position = position;
        block.updatedAt = now;
        ids.append(block.localID);
        edited.push_back(std::move(block));
    }
    if (edited.empty())
        return;
    Outbox &outbox = Outbox::of(*m_store);
    if (fields == BlockFields::Room)
        outbox.noteRoomMoves(m_pageLocalID, roomFrom);
    outbox.blocksEdited(m_pageLocalID, ids, fields);
    m_store->replaceBlocks(edited);
}
