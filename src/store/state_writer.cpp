#include "store/state_writer.h"

#include "json/json_coder.h"
#include "platform/start_marks.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <type_traits>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr auto kTempInfix = ".tmp-";
constexpr int kNameTries = 100;
// What is gathered before it goes to the file.
constexpr qsizetype kPieceBytes = 1 << 20;

std::optional<QString> writeSome(int fd, const QString &path, QByteArrayView bytes);

// The state's text with its blocks list left empty, and where that list's "[]" stands.
struct Frame {
    JsonWriter writer;
    qsizetype blocksAt = -1;
};

// The state's fields in their order; the blocks list's items are left to `blocks`.
template <typename Blocks>
void encodeFields(JsonWriter &writer, const StateSnapshot &state, Blocks &&blocks)
{
    const auto list = [&](const char *key, const auto &records) {
        writer.key(key);
        writer.startArray();
        for (const auto &record : records)
            writer.value(record);
        writer.endArray();
    };
    const auto field = [&](const auto &f) {
        using Member = std::remove_cvref_t<decltype(f.member)>;
        if constexpr (std::is_same_v<Member, std::vector<FNBlock> StoreState::*>) {
            writer.key(f.key);
            writer.startArray();
            blocks();
            writer.endArray();
        } else if constexpr (std::is_same_v<Member, std::vector<FNPage> StoreState::*>) {
            list(f.key, *state.pages);
        } else if constexpr (std::is_same_v<Member, std::vector<FNFolder> StoreState::*>) {
            list(f.key, *state.folders);
        } else {
            f.write(writer, state.rest);
        }
    };
    writer.startObject();
    std::apply([&](const auto &...f) { (field(f), ...); }, StoreState::kFields);
    writer.endObject();
}

void encodeFrame(Frame &frame, const StateSnapshot &state)
{
    encodeFields(frame.writer, state, [&] { frame.blocksAt = frame.writer.view().size() - 1; });
}

// Where a chunk's text went in the file being written.
struct Placed {
    BlockChunk chunk;
    qint64 offset = 0;
    qint64 size = 0;
};

struct PieceCounts {
    size_t encoded = 0;
    size_t copied = 0;
};

// The state's bytes handed to `fd` a piece at a time: the whole text held beside the records would take
// as much memory again as the file. A chunk's text comes from the file it was last written to or read
// from when it stands there, else from its blocks.
std::optional<QString> writePieces(int fd, const QString &path, const StateSnapshot &state,
                                   std::vector<Placed> &placed, PieceCounts &counts)
{
    Frame frame;
    encodeFrame(frame, state);
    const QByteArrayView whole = frame.writer.view();
    QByteArray piece;
    piece.reserve(kPieceBytes + kPieceBytes / 2);
    piece.append(whole.first(frame.blocksAt + 1));
    qint64 flushed = 0;
    bool first = true;
    for (const BlockChunk &chunk : state.blockChunks) {
        const qsizetype before = piece.size();
        if (!first)
            piece.append(',');
        const qsizetype start = piece.size();
        if (const std::optional<ChunkText> text = chunk->text()) {
            if (!text->file->readAt(text->offset, text->size, piece)) {
                chunk->textLost();
                return QStringLiteral("%1: the blocks saved last could not be read back")
                    .arg(QFileInfo(path).fileName());
            }
            ++counts.copied;
        } else if (const auto blocks = chunk->blocks()) {
            piece.append(blockChunkText(*blocks));
            ++counts.encoded;
        }
        if (piece.size() == start) {
            piece.resize(before);
            continue;
        }
        first = false;
        placed.push_back({.chunk = chunk, .offset = flushed + start, .size = piece.size() - start});
        if (piece.size() >= kPieceBytes) {
            if (auto failure = writeSome(fd, path, piece))
                return failure;
            flushed += piece.size();
            piece.resize(0);
        }
    }
    piece.append(whole.sliced(frame.blocksAt + 1));
    return writeSome(fd, path, piece);
}

std::optional<QString> writeSome(int fd, const QString &path, QByteArrayView bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return durable::errnoText(n < 0 ? errno : EIO, path);
        data += n;
        left -= n;
    }
    return std::nullopt;
}

} // namespace

namespace durable {

QString errnoText(int error, const QString &path)
{
    return QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), qt_error_string(error));
}

int createPrivate(const std::function<QString(int)> &name, QString &path)
{
    for (int n = 0; n < kNameTries; ++n) {
        path = name(n);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

std::optional<QString> writeAll(int fd, const QString &path, QByteArrayView bytes)
{
    if (auto failure = writeSome(fd, path, bytes)) {
        ::close(fd);
        return failure;
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return errnoText(error, path);
    }
    if (::close(fd) != 0)
        return errnoText(errno, path);
    return std::nullopt;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace durable

StateWriter::StateWriter(QString url, std::function<void(const QString &)> failed)
    : m_url(std::move(url))
    , m_failed(std::move(failed))
    , m_thread([this] { run(); })
{
}

StateWriter::~StateWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void StateWriter::write(std::shared_ptr<const StateSnapshot> snapshot)
{
    {
        std::lock_guard lock(m_mutex);
        // Freeing a large state's copy is no work for the store's thread.
        if (m_next)
            m_replaced.push_back(std::move(m_next));
        m_next = std::move(snapshot);
    }
    m_wake.notify_one();
}

void StateWriter::wait()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_next && !m_writing; });
}

bool StateWriter::isBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_next || m_writing;
}

void StateWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_next || m_stop; });
        if (!m_next)
            return;
        std::shared_ptr<const StateSnapshot> snapshot = std::move(m_next);
        std::vector<std::shared_ptr<const StateSnapshot>> replaced;
        replaced.swap(m_replaced);
        m_writing = true;
        lock.unlock();
        replaced.clear();
        const std::optional<QString> failure = writeNow(*snapshot);
        // Let go of the records before saying it is done: the store may change them once idle.
        snapshot.reset();
        if (failure)
            m_failed(*failure);
        lock.lock();
        m_writing = false;
        if (!m_next)
            m_idle.notify_all();
    }
}

std::optional<QString> StateWriter::writeNow(const StateSnapshot &state)
{
    const QString &url = m_url;
    // A name of its own: two writers on one name would truncate each other's file.
    QString temp;
    const int fd = durable::createPrivate(
        [&](int) {
            return url + QLatin1String(kTempInfix) +
                   QString::number(QRandomGenerator::global()->generate64(), 36);
        },
        temp);
    if (fd < 0)
        return durable::errnoText(errno, temp);
    // The pieces go to the temporary file alone: only the rename below makes them "state.json".
    std::optional<QString> failure;
    std::vector<Placed> placed;
    PieceCounts counts;
    try {
        failure = writePieces(fd, temp, state, placed, counts);
    } catch (const EncodeError &e) {
        failure = e.message();
    }
    m_chunksEncoded += counts.encoded;
    m_chunksCopied += counts.copied;
    startMarks::mark("save_written");
    // Kept open to be read by the next write; writeAll closes the one it is given.
    const int kept = failure ? -1 : ::dup(fd);
    if (failure) {
        ::close(fd);
        QFile::remove(temp);
        return failure;
    }
    if (auto failure = durable::writeAll(fd, temp, {})) {
        if (kept >= 0)
            ::close(kept);
        QFile::remove(temp);
        return failure;
    }
    startMarks::mark("save_file_synced");
    // QFile::rename refuses to replace an existing file; POSIX rename swaps it in one step.
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(url).constData()) != 0) {
        const QString failure = durable::errnoText(errno, url);
        if (kept >= 0)
            ::close(kept);
        QFile::remove(temp);
        return failure;
    }
    startMarks::mark("save_renamed");
    durable::syncFolder(QFileInfo(url).absolutePath());
    startMarks::mark("save_folder_synced");
    // Only a file that is now "state.json" stands for what the chunks hold.
    if (kept >= 0) {
        const auto file = std::make_shared<const KeptStateFile>(kept);
        for (Placed &p : placed)
            p.chunk->setText({.file = file, .offset = p.offset, .size = p.size});
    }
    return std::nullopt;
}
