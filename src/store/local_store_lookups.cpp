#include "store/local_store.h"

#include "store/group_index.h"
#include "store/index_builder.h"
#include "store/record_index.h"

// Finding records by id and by what links them, through the indexes the store keeps in step.

namespace {

template <typename List>
const typename List::value_type *at(const List &list, qsizetype index)
{
    return index < 0 ? nullptr : &list[size_t(index)];
}

template <typename List>
std::vector<const typename List::value_type *> pointersAt(const List &list,
                                                          const std::vector<qsizetype> &positions)
{
    std::vector<const typename List::value_type *> records;
    records.reserve(positions.size());
    for (const qsizetype i : positions)
        records.push_back(&list[size_t(i)]);
    return records;
}

} // namespace

const FNFolder *LocalStore::folder(const QString &localID) const
{
    return at(m_state.folders, indexOfFolder(localID));
}

const FNPage *LocalStore::page(const QString &localID) const
{
    return at(m_state.pages, indexOfPage(localID));
}

const FNBlock *LocalStore::block(const QString &localID) const
{
    return at(m_state.blocks, indexOfBlock(localID));
}

const FNFolder *LocalStore::folderWithServerID(qint64 serverID) const
{
    return at(m_state.folders, m_folderIndex->preferLiveWithServerID(serverID));
}

const FNPage *LocalStore::pageWithServerID(qint64 serverID) const
{
    return at(m_state.pages, m_pageIndex->preferLiveWithServerID(serverID));
}

const FNBlock *LocalStore::blockWithServerID(qint64 serverID) const
{
    return at(m_state.blocks, m_blockIndex->preferLiveWithServerID(serverID));
}

const FNPage *LocalStore::livePageWithServerID(qint64 serverID) const
{
    return at(m_state.pages, m_pageIndex->liveWithServerID(serverID));
}

const FNBlock *LocalStore::liveBlockWithServerID(qint64 serverID) const
{
    return at(m_state.blocks, m_blockIndex->liveWithServerID(serverID));
}

std::vector<const FNBlock *> LocalStore::blocksOfPage(const QString &pageLocalID) const
{
    return pointersAt(m_state.blocks, m_blocksByPage->positions(pageLocalID));
}

std::vector<const FNPage *> LocalStore::childPages(qint64 parentServerID) const
{
    return pointersAt(m_state.pages, m_pagesByParent->positions(parentServerID));
}

std::vector<const FNBlock *> LocalStore::blocksWithServerID(qint64 serverID) const
{
    return pointersAt(m_state.blocks, m_blockIndex->allWithServerID(serverID));
}

void LocalStore::groupsReplaced(qsizetype at, const FNPage &before)
{
    m_pagesByParent->replaced(at, before);
}

void LocalStore::groupsReplaced(qsizetype at, const FNBlock &before)
{
    m_blocksByPage->replaced(at, before);
    FNBlock after = m_state.blocks[size_t(at)];
    after.contentJSON = before.contentJSON;
    after.updatedAt = before.updatedAt;
    if (!(after == before)) {
        pageBlocksMoved(before.pageLocalID);
        pageBlocksMoved(after.pageLocalID);
    }
    // A block moved to another page leaves a row behind on its old one.
    if (isInBatch())
        m_batch.blockPages.insert(before.pageLocalID);
}

void LocalStore::groupsAppended(qsizetype at, const FNPage &)
{
    m_pagesByParent->appended(at);
}

void LocalStore::groupsAppended(qsizetype at, const FNBlock &block)
{
    m_blocksByPage->appended(at);
    pageBlocksMoved(block.pageLocalID);
}

void LocalStore::pageBlocksMoved(const QString &pageLocalID)
{
    ++m_pageBlocksRevisions[pageLocalID];
}

// Both parts only grow, so their sum moves whenever either does.
quint64 LocalStore::pageBlocksRevision(const QString &pageLocalID) const
{
    return m_blocksRevision + m_pageBlocksRevisions.value(pageLocalID);
}

qsizetype LocalStore::indexOfFolder(const QString &localID) const
{
    return m_folderIndex->withLocalID(localID);
}

qsizetype LocalStore::indexOfPage(const QString &localID) const
{
    return m_pageIndex->withLocalID(localID);
}

qsizetype LocalStore::indexOfBlock(const QString &localID) const
{
    return m_blockIndex->withLocalID(localID);
}

qsizetype LocalStore::indexOfFolderWithServerID(qint64 serverID) const
{
    return m_folderIndex->withServerID(serverID);
}

qsizetype LocalStore::indexOfPageWithServerID(qint64 serverID) const
{
    return m_pageIndex->withServerID(serverID);
}

qsizetype LocalStore::indexOfBlockWithServerID(qint64 serverID) const
{
    return m_blockIndex->withServerID(serverID);
}

void LocalStore::indexesStale()
{
    m_folderIndex->stale();
    m_pageIndex->stale();
    m_blockIndex->stale();
    m_blocksByPage->stale();
    m_pagesByParent->stale();
    m_indexBuilder->fillAside();
}
