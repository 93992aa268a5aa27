#include "store/state_writer.h"

#include "json/json_coder.h"
#include "platform/background_thread.h"
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
constexpr auto kNotReadBack = "%1: the blocks saved last could not be read back";

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
        if constexpr (std::is_same_v<Member, decltype(&StoreState::blocks)>) {
            writer.key(f.key);
            writer.startArray();
            blocks();
            writer.endArray();
        } else if constexpr (std::is_same_v<Member, decltype(&StoreState::pages)>) {
            list(f.key, *state.pages);
        } else if constexpr (std::is_same_v<Member, decltype(&StoreState::folders)>) {
            list(f.key, *state.folders);
        } else if constexpr (std::is_same_v<Member, decltype(&StoreState::outbox)>) {
            writer.key(f.key);
            writer.startArray();
            for (const OutboxChunks::Chunk &chunk : state.outbox) {
                for (const FNSyncOp &op : *chunk)
                    writer.value(op);
            }
            writer.endArray();
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

// The file being written, fed in order: encoded text gathered into pieces, text that stands in a kept
// file copied from there. The disk is set to work on what is handed over as it goes, so
// that the sync before the rename waits for the last stretch only.
class Output
{
public:
    Output(int fd, const QString &path)
        : m_fd(fd)
        , m_path(path)
    {
        m_piece.reserve(kPieceBytes + kPieceBytes / 2);
    }

    // Where the next byte goes in the file.
    qint64 position() const { return m_handed + m_piece.size(); }
    QByteArray &piece() { return m_piece; }

    std::optional<QString> flushIfFull() { return m_piece.size() >= kPieceBytes ? flush() : std::nullopt; }

    std::optional<QString> flush()
    {
        if (auto failure = durable::writeSome(m_fd, m_path, m_piece))
            return failure;
        handed(m_piece.size());
        m_piece.resize(0);
        return std::nullopt;
    }

    // Appends `size` bytes of `file` at `offset`; what is gathered must be flushed first.
    std::optional<KeptStateFile::CopyFailure> copy(const KeptStateFile &file, qint64 offset, qint64 size)
    {
        Q_ASSERT(m_piece.isEmpty());
        for (qint64 done = 0; done < size;) {
            const qint64 n = std::min(size - done, kWritebackBytes);
            if (auto failure = file.copyTo(m_fd, offset + done, n))
                return failure;
            handed(n);
            done += n;
        }
        return std::nullopt;
    }

private:
    void handed(qint64 bytes)
    {
        m_handed += bytes;
        if (m_handed - m_writebackFrom < kWritebackBytes)
            return;
        // Only starts the writing; the sync that makes it durable still comes before the rename.
        ::sync_file_range(m_fd, m_writebackFrom, m_handed - m_writebackFrom, SYNC_FILE_RANGE_WRITE);
        m_writebackFrom = m_handed;
    }

    static constexpr qint64 kWritebackBytes = 8 << 20;
    const int m_fd;
    const QString &m_path;
    QByteArray m_piece;
    qint64 m_handed = 0;
    qint64 m_writebackFrom = 0;
};

// Chunks whose text follows each other in one kept file, commas included, copied in one step.
struct Run {
    std::shared_ptr<const KeptStateFile> file;
    qint64 from = 0;
    qint64 size = 0;

    bool continuedBy(const ChunkText &text) const
    {
        return file == text.file && from + size + 1 == text.offset;
    }
};

// A file that cannot be read back holds nothing a save can use any more: every chunk standing in it is
// written from its blocks by the next save.
std::optional<QString> copyRun(Output &out, Run &run, const QString &path, const std::vector<BlockChunk> &all)
{
    if (!run.file)
        return std::nullopt;
    if (auto failure = out.flush())
        return failure;
    const std::optional<KeptStateFile::CopyFailure> failure = out.copy(*run.file, run.from, run.size);
    const std::shared_ptr<const KeptStateFile> file = std::move(run.file);
    run = {};
    if (!failure)
        return std::nullopt;
    if (!failure->reading)
        return durable::errnoText(failure->error, path);
    for (const BlockChunk &chunk : all) {
        if (const std::optional<ChunkText> text = chunk->text(); text && text->file == file)
            chunk->textLost();
    }
    return QString::fromLatin1(kNotReadBack).arg(QFileInfo(path).fileName());
}

// The state's bytes handed to `fd` in one pass: the whole text held beside the records would take as
// much memory again as the file. A chunk's text comes from the file it was last written to or read
// from when it stands there, else from its blocks.
std::optional<QString> writePieces(int fd, const QString &path, const StateSnapshot &state,
                                   std::vector<Placed> &placed, PieceCounts &counts)
{
    Frame frame;
    encodeFrame(frame, state);
    const QByteArrayView whole = frame.writer.view();
    Output out(fd, path);
    out.piece().append(whole.first(frame.blocksAt + 1));
    Run run;
    bool first = true;
    for (const BlockChunk &chunk : state.blockChunks) {
        const BlockChunkPiece::Content content = chunk->content();
        if (const std::optional<ChunkText> &text = content.text) {
            if (text->size == 0)
                continue;
            if (!run.file || !run.continuedBy(*text)) {
                if (auto failure = copyRun(out, run, path, state.blockChunks))
                    return failure;
                if (!first)
                    out.piece().append(',');
                run.file = text->file;
                run.from = text->offset;
            }
            placed.push_back(
                {.chunk = chunk, .offset = out.position() + (text->offset - run.from), .size = text->size});
            run.size = text->offset + text->size - run.from;
            ++counts.copied;
            first = false;
            continue;
        }
        const auto &blocks = content.blocks;
        // Neither in memory nor in a file any more: written without them, the file would lose them.
        if (!blocks)
            return QString::fromLatin1(kNotReadBack).arg(QFileInfo(path).fileName());
        if (blocks->empty())
            continue;
        if (auto failure = copyRun(out, run, path, state.blockChunks))
            return failure;
        QByteArray &piece = out.piece();
        if (!first)
            piece.append(',');
        const qsizetype start = piece.size();
        piece.append(blockChunkText(*blocks));
        ++counts.encoded;
        first = false;
        placed.push_back({.chunk = chunk,
                          .offset = out.position() - (piece.size() - start),
                          .size = piece.size() - start});
        if (auto failure = out.flushIfFull())
            return failure;
    }
    if (auto failure = copyRun(out, run, path, state.blockChunks))
        return failure;
    out.piece().append(whole.sliced(frame.blocksAt + 1));
    return out.flush();
}

} // namespace

namespace durable {

std::optional<QString> writeSome(int fd, const QString &path, QByteArrayView bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return errnoText(n < 0 ? errno : EIO, path);
        data += n;
        left -= n;
    }
    return std::nullopt;
}

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
    becomeBackgroundThread();
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
        std::vector<BlockChunkPiece::Released> released;
        const std::optional<QString> failure = writeNow(*snapshot, released);
        if (!failure && snapshot->written)
            snapshot->written();
        // Let go of the records before saying it is done: the store may change them once idle.
        snapshot.reset();
        if (failure)
            m_failed(*failure);
        lock.lock();
        m_writing = false;
        if (!m_next)
            m_idle.notify_all();
        // After the save is done: the last hold on the file it replaced frees that file's space on the
        // disk, a tenth of a second for a large state.
        lock.unlock();
        released.clear();
        lock.lock();
    }
}

std::optional<QString> StateWriter::writeNow(const StateSnapshot &state,
                                             std::vector<BlockChunkPiece::Released> &released)
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
    std::shared_ptr<const KeptStateFile> kept;
    if (const int copy = failure ? -1 : ::dup(fd); copy >= 0)
        kept = std::make_shared<const KeptStateFile>(copy);
    if (failure) {
        ::close(fd);
        QFile::remove(temp);
        return failure;
    }
    if (auto failure = durable::writeAll(fd, temp, {})) {
        QFile::remove(temp);
        return failure;
    }
    startMarks::mark("save_file_synced");
    // QFile::rename refuses to replace an existing file; POSIX rename swaps it in one step.
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(url).constData()) != 0) {
        const QString failure = durable::errnoText(errno, url);
        QFile::remove(temp);
        return failure;
    }
    startMarks::mark("save_renamed");
    durable::syncFolder(QFileInfo(url).absolutePath());
    startMarks::mark("save_folder_synced");
    // Only a file that is now "state.json" stands for what the chunks hold.
    if (kept) {
        released.reserve(placed.size());
        for (Placed &p : placed)
            released.push_back(p.chunk->setText({.file = kept, .offset = p.offset, .size = p.size}));
    }
    return std::nullopt;
}
