#pragma once

#include "json/json_writer.h"
#include "store/block_chunks.h"
#include "store/outbox_chunks.h"
#include "store/store_state.h"

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

// The state as it was at one moment, for the writer: the records in shared lists that never change
// once made (the blocks and the outbox in chunks), the rest copied.
struct StateSnapshot {
    StoreState rest; // its folders, pages, blocks and outbox stay empty
    std::shared_ptr<const std::vector<FNFolder>> folders;
    std::shared_ptr<const std::vector<FNPage>> pages;
    std::vector<BlockChunk> blockChunks;
    std::vector<OutboxChunks::Chunk> outbox;
    // Runs on the writer's thread once the snapshot is on disk.
    std::function<void()> written;

    // Whether the member of StoreState is held in the shared lists rather than in `rest`.
    template <typename Member>
    static constexpr bool kShared = std::is_same_v<Member, decltype(&StoreState::folders)> ||
                                    std::is_same_v<Member, decltype(&StoreState::pages)> ||
                                    std::is_same_v<Member, decltype(&StoreState::blocks)> ||
                                    std::is_same_v<Member, decltype(&StoreState::outbox)>;
};

// Writes snapshots of the state over "state.json" on a thread of its own: one write at a time, in the
// order given, each to a private temporary file, synced, renamed over the file, then the folder synced.
// The file written stays open, so that the next write copies the text of the chunks that did not
// change since rather than encode them again.
// A snapshot given while another waits replaces it (it holds everything the older one did). The
// worker reads the snapshot alone, never the store.
class StateWriter
{
public:
    // `failed` runs on the worker thread with the reason of a write that failed.
    StateWriter(QString url, std::function<void(const QString &)> failed);
    // Writes what is queued, then stops.
    ~StateWriter();
    StateWriter(const StateWriter &) = delete;
    StateWriter &operator=(const StateWriter &) = delete;

    void write(std::shared_ptr<const StateSnapshot> snapshot);
    // Returns once nothing is queued or being written.
    void wait();
    bool isBusy() const;

    // Chunks of blocks the writes encoded, and those whose text they copied from the last file (tests).
    size_t chunksEncoded() const { return m_chunksEncoded; }
    size_t chunksCopied() const { return m_chunksCopied; }

private:
    void run();
    // The whole state into the file as one durable replacement; the reason on failure.
    // What the chunks let go of, to be freed once the write is done, goes to `released`.
    std::optional<QString> writeNow(const StateSnapshot &state,
                                    std::vector<BlockChunkPiece::Released> &released);

    const QString m_url;
    const std::function<void(const QString &)> m_failed;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::shared_ptr<const StateSnapshot> m_next;
    // Snapshots replaced before they were written, let go of on the worker.
    std::vector<std::shared_ptr<const StateSnapshot>> m_replaced;
    bool m_writing = false;
    bool m_stop = false;
    std::atomic<size_t> m_chunksEncoded = 0;
    std::atomic<size_t> m_chunksCopied = 0;
    std::thread m_thread;
};

// Small durable-file steps shared by the writer and the store's load.
namespace durable {
// "state.json: Permission denied"
QString errnoText(int error, const QString &path);
// Creates a file that did not exist, readable by the user alone from its first moment, trying
// `name(n)` for growing n while a name is taken. -1 with errno on failure; `path` is the last tried.
int createPrivate(const std::function<QString(int)> &name, QString &path);
// Writes all of `bytes` through `fd`, going on after an interrupted write; returns the failure, if any.
std::optional<QString> writeSome(int fd, const QString &path, QByteArrayView bytes);
// Writes the whole file through `fd`, forces it to disk and closes it; returns the failure, if any.
std::optional<QString> writeAll(int fd, const QString &path, QByteArrayView bytes);
// Makes a finished rename survive a power loss.
void syncFolder(const QString &folder);
} // namespace durable
