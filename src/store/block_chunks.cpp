#include "store/block_chunks.h"

#include "json/json_coder.h"
#include "json/json_writer.h"
#include "platform/background_thread.h"
#include "platform/off_thread.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <unistd.h>

KeptStateFile::~KeptStateFile()
{
    ::close(m_fd);
}

bool KeptStateFile::readAt(qint64 offset, qint64 size, QByteArray &out) const
{
    const qsizetype start = out.size();
    out.resize(start + size);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_fd, out.data() + start + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            out.resize(start);
            return false;
        }
        done += n;
    }
    return true;
}

namespace {

// What a copy moves at a time.
constexpr size_t kCopyBuffer = 1 << 20;

} // namespace

std::optional<KeptStateFile::CopyFailure> KeptStateFile::copyTo(int to, qint64 offset, qint64 size) const
{
    std::vector<char> buffer(size_t(std::min<qint64>(size, kCopyBuffer)));
    while (size > 0) {
        const ssize_t got =
            ::pread(m_fd, buffer.data(), size_t(std::min<qint64>(size, kCopyBuffer)), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return CopyFailure{.reading = true, .error = got < 0 ? errno : EIO};
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return CopyFailure{.reading = false, .error = put < 0 ? errno : EIO};
            done += put;
        }
        offset += got;
        size -= got;
    }
    return std::nullopt;
}

std::shared_ptr<const std::vector<FNBlock>> BlockChunkPiece::blocks() const
{
    std::lock_guard lock(m_mutex);
    return m_blocks;
}

std::optional<ChunkText> BlockChunkPiece::text() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

BlockChunkPiece::Content BlockChunkPiece::content() const
{
    std::lock_guard lock(m_mutex);
    return {m_blocks, m_text};
}

BlockChunkPiece::Released BlockChunkPiece::setText(ChunkText text)
{
    Released released;
    std::lock_guard lock(m_mutex);
    if (m_lost)
        return released;
    if (m_text)
        released.file = std::move(m_text->file);
    m_text = std::move(text);
    released.blocks.swap(m_blocks);
    return released;
}

void BlockChunkPiece::textLost()
{
    // Let go of after the lock: the last hold on a replaced file closes it, which takes a while.
    std::optional<ChunkText> before;
    std::lock_guard lock(m_mutex);
    if (!m_blocks)
        m_lost = true;
    before = std::exchange(m_text, std::nullopt);
}

bool BlockChunkPiece::isUsable() const
{
    std::lock_guard lock(m_mutex);
    return !m_lost;
}

QByteArray blockChunkText(const std::vector<FNBlock> &blocks)
{
    JsonWriter writer;
    writer.startArray();
    for (const FNBlock &block : blocks)
        writer.value(block);
    writer.endArray();
    const QByteArrayView list = writer.view();
    return list.sliced(1, list.size() - 2).toByteArray();
}

BlockChunks::BlockChunks(const RecordList<FNBlock> &blocks)
    : m_blocks(blocks)
{
}

BlockChunks::~BlockChunks()
{
    stopAside();
}

void BlockChunks::fillAside(std::shared_ptr<const KeptStateFile> file, qint64 blocksAt)
{
    stopAside();
    m_stop = false;
    m_aside = std::thread([this, file = std::move(file), blocksAt] {
        becomeBackgroundThread();
        // Chunk by chunk as they follow each other in the file, until one is not as this build
        // writes it: where the ones after it stand is then unknown.
        qint64 expected = file ? blocksAt : -1;
        QByteArray found;
        if (expected >= 0 && file->readAt(expected, 1, found) && found == "[")
            ++expected;
        for (size_t i = 0; !m_stop; ++i) {
            BlockChunk chunk;
            {
                // One chunk per hold: a change on the store's thread waits for one chunk's copy at most.
                std::lock_guard lock(m_mutex);
                if (!refresh(i, m_copiedAside))
                    break;
                chunk = m_chunks[i];
            }
            if (expected < 0)
                continue;
            const auto blocks = chunk->blocks();
            std::optional<QByteArray> text;
            try {
                if (blocks)
                    text = blockChunkText(*blocks);
            } catch (const EncodeError &) {
            }
            found.resize(0);
            if (!text || !file->readAt(expected, text->size(), found) || found != *text) {
                expected = -1;
                continue;
            }
            chunk->setText({.file = file, .offset = expected, .size = text->size()});
            ++m_foundInFile;
            expected += text->size() + 1;
        }
    });
}

void BlockChunks::stopAside()
{
    m_stop = true;
    if (m_aside.joinable())
        m_aside.join();
}

void BlockChunks::waitAside()
{
    if (m_aside.joinable())
        m_aside.join();
}

void BlockChunks::touched(qsizetype at)
{
    std::lock_guard lock(m_mutex);
    const size_t chunk = size_t(at) / kSize;
    if (chunk < m_dirty.size())
        m_dirty[chunk] = true;
}

void BlockChunks::touchedFrom(qsizetype at)
{
    std::lock_guard lock(m_mutex);
    const size_t from = std::min(size_t(at) / kSize, m_dirty.size());
    std::fill(m_dirty.begin() + qsizetype(from), m_dirty.end(), true);
    // What they held will not be written again; a file they point into can go (a reset removes it).
    std::fill(m_chunks.begin() + qsizetype(std::min(from, m_chunks.size())), m_chunks.end(), nullptr);
}

BlockChunk BlockChunks::copyChunk(size_t i) const
{
    const auto from = m_blocks.begin() + qsizetype(i * kSize);
    const auto to = m_blocks.begin() + qsizetype(std::min(m_blocks.size(), (i + 1) * kSize));
    return std::make_shared<BlockChunkPiece>(std::vector<FNBlock>(from, to));
}

bool BlockChunks::refresh(size_t i, size_t &copies)
{
    const size_t count = (m_blocks.size() + kSize - 1) / kSize;
    if (i >= count)
        return false;
    if (m_chunks.size() != count) {
        m_chunks.resize(count);
        m_dirty.resize(count, true);
    }
    if (m_chunks[i] && !m_dirty[i] && m_chunks[i]->isUsable())
        return true;
    m_chunks[i] = copyChunk(i);
    m_dirty[i] = false;
    ++copies;
    return true;
}

std::vector<BlockChunk> BlockChunks::take()
{
    std::lock_guard lock(m_mutex);
    const size_t count = (m_blocks.size() + kSize - 1) / kSize;
    m_chunks.resize(count);
    m_dirty.resize(count, true);
    std::vector<size_t> stale;
    for (size_t i = 0; i < count; ++i) {
        if (!m_chunks[i] || m_dirty[i] || !m_chunks[i]->isUsable())
            stale.push_back(i);
    }
    // After a pull most chunks changed: copied side by side while this thread waits, the list
    // standing still meanwhile.
    std::vector<BlockChunk> copies(stale.size());
    forEachSpread(stale.size(), [&](size_t k) { copies[k] = copyChunk(stale[k]); });
    // The chunks replaced are most often the last copies of their blocks once the writer is done
    // with them: freed aside too.
    std::vector<BlockChunk> replaced;
    for (size_t k = 0; k < stale.size(); ++k) {
        if (m_chunks[stale[k]])
            replaced.push_back(std::move(m_chunks[stale[k]]));
        m_chunks[stale[k]] = std::move(copies[k]);
        m_dirty[stale[k]] = false;
    }
    m_copiedByTakes += stale.size();
    if (!replaced.empty())
        dropOffThread(std::move(replaced));
    return m_chunks;
}
