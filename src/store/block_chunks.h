#pragma once

#include "store/fn_block.h"
#include "store/record_list.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A state file this process wrote or read, kept open so that text it holds can be copied into the
// next one: a save renames a new file over it, which leaves the open one's bytes as they were.
class KeptStateFile
{
public:
    // Takes `fd` over, read-only use.
    explicit KeptStateFile(int fd)
        : m_fd(fd)
    {
    }
    ~KeptStateFile();
    KeptStateFile(const KeptStateFile &) = delete;
    KeptStateFile &operator=(const KeptStateFile &) = delete;

    // Reads `size` bytes at `offset` into `out`, appended; false when they could not all be read.
    bool readAt(qint64 offset, qint64 size, QByteArray &out) const;

    struct CopyFailure {
        bool reading = false; // these bytes could not be read back, rather than written
        int error = 0;
    };
    // Appends `size` bytes at `offset` to `to`, at its file position. Through a buffer: on ext4,
    // copy_file_range splices page by page and made the first save's writing twice as slow.
    std::optional<CopyFailure> copyTo(int to, qint64 offset, qint64 size) const;

private:
    int m_fd;
};

// Where the text of a chunk stands in a kept file: its blocks' objects, comma-separated.
struct ChunkText {
    std::shared_ptr<const KeptStateFile> file;
    qint64 offset = 0;
    qint64 size = 0;
};

// One run of the blocks as a snapshot holds it: a copy of the blocks, until the text they encode to
// is known to stand in a kept file; then only where, and the copy goes.
class BlockChunkPiece
{
public:
    explicit BlockChunkPiece(std::vector<FNBlock> blocks)
        : m_blocks(std::make_shared<const std::vector<FNBlock>>(std::move(blocks)))
    {
    }

    // The blocks, null once the text took their place.
    std::shared_ptr<const std::vector<FNBlock>> blocks() const;
    std::optional<ChunkText> text() const;
    // Both at one moment: read apart, the text may take the blocks' place between the two reads.
    struct Content {
        std::shared_ptr<const std::vector<FNBlock>> blocks;
        std::optional<ChunkText> text;
    };
    Content content() const;
    // What a piece let go of: freeing a chunk's blocks, or closing the last hold on a replaced file
    // (which frees its space on the disk), is work its caller may do later or elsewhere.
    struct Released {
        std::shared_ptr<const std::vector<FNBlock>> blocks;
        std::shared_ptr<const KeptStateFile> file;
    };
    Released setText(ChunkText text);
    // The text could not be read back: the piece holds nothing a save can use any more.
    void textLost();
    bool isUsable() const;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const std::vector<FNBlock>> m_blocks;
    std::optional<ChunkText> m_text;
    bool m_lost = false;
};

using BlockChunk = std::shared_ptr<BlockChunkPiece>;

// The text the state file holds for `blocks`: their objects, comma-separated. Throws EncodeError.
QByteArray blockChunkText(const std::vector<FNBlock> &blocks);

// The store's blocks as chunks of a fixed run of positions, kept for the snapshots: a chunk is
// copied again only when a block in it changed since the last snapshot, so taking one after an edit
// costs a chunk and the list of chunks, not every block. After a load the chunks are made on a
// thread of their own, each checked against the text the loaded file holds for it, so that a save
// copies that text rather than encode the blocks again; until it is done, the list it reads changes
// only under `hold()`.
class BlockChunks
{
public:
    static constexpr size_t kSize = 512;

    // Mirrors `blocks`, which must outlive this.
    explicit BlockChunks(const RecordList<FNBlock> &blocks);
    // Stops the making of chunks.
    ~BlockChunks();
    BlockChunks(const BlockChunks &) = delete;
    BlockChunks &operator=(const BlockChunks &) = delete;

    // Makes every chunk not yet made on another thread, the list read one chunk at a time. With
    // `file`, whose blocks list starts at `blocksAt` (its '[' or its first item), a chunk whose text the file
    // holds there keeps where it is in place of its copy of the blocks.
    void fillAside(std::shared_ptr<const KeptStateFile> file = {}, qint64 blocksAt = -1);
    // Held by whoever changes the list while the chunks may be made aside.
    std::unique_lock<std::recursive_mutex> hold() { return std::unique_lock(m_mutex); }

    // The block at `at` changed in place.
    void touched(qsizetype at);
    // Every position from `at` on may have changed (appends, removals).
    void touchedFrom(qsizetype at);
    void allTouched() { touchedFrom(0); }
    // The chunks of the list as it stands, the changed ones copied anew.
    std::vector<BlockChunk> take();

    // Chunks copied by the takes on the calling thread, made aside, and found in the loaded file (tests).
    size_t copiedByTakes() const { return m_copiedByTakes; }
    size_t copiedAside() const { return m_copiedAside; }
    size_t foundInFile() const { return m_foundInFile; }
    // Waits for the chunks made aside (tests).
    void waitAside();

private:
    // Copies chunk `i` when it is missing, changed or no longer usable; false when the list has no
    // such chunk.
    bool refresh(size_t i, size_t &copies);
    BlockChunk copyChunk(size_t i) const;
    void stopAside();

    const RecordList<FNBlock> &m_blocks;
    std::recursive_mutex m_mutex;
    std::vector<BlockChunk> m_chunks;
    std::vector<bool> m_dirty;
    size_t m_copiedByTakes = 0;
    size_t m_copiedAside = 0;
    std::atomic<size_t> m_foundInFile = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_aside;
};
