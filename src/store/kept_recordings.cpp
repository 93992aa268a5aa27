#include "store/kept_recordings.h"

#include "api/service_client.h"
#include "json/json_value.h"
#include "platform/diag.h"
#include "platform/private_files.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/retry_policy.h"
#include "store/sync_engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kAddressKey = QStringLiteral("url");

// A local id names a folder of its own, never one above it.
bool isFolderName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/'));
}

// Content that is not an object reads as empty, as the block's view reads it.
JSONObject contentOf(const FNBlock &block)
{
    try {
        return parseJSONObject(block.contentJSON.toUtf8());
    } catch (const std::exception &) {
        return JSONObject();
    }
}

} // namespace

KeptRecordings::KeptRecordings(LocalStore &store, ServiceClient &client, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(&client)
    , m_folder(QFileInfo(store.url()).absoluteDir().filePath(QString::fromLatin1(kFolderName)))
    , m_generation(store.generation())
{
    connect(&store, &LocalStore::recordsChanged, this, &KeptRecordings::dropIfReset);
    connect(&store, &LocalStore::saveWritten, this, &KeptRecordings::releaseSaved);
    const QDir folder(m_folder);
    for (const QString &block : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QFileInfoList files = QDir(folder.filePath(block)).entryInfoList(QDir::Files, QDir::Time);
        if (!files.isEmpty())
            m_kept.insert(block,
                          Kept{files.front().absoluteFilePath(), 0, {}, store.block(block) != nullptr, {}});
    }
}

QString KeptRecordings::blockFolder(const QString &blockLocalID) const
{
    return QDir(m_folder).filePath(blockLocalID);
}

bool KeptRecordings::keep(const QString &blockLocalID, const QString &filePath)
{
    if (!isFolderName(blockLocalID) || !makePrivateFolder(m_folder) ||
        !makePrivateFolder(blockFolder(blockLocalID)))
        return false;
    const QString kept = QDir(blockFolder(blockLocalID)).filePath(QFileInfo(filePath).fileName());
    if (QFileInfo(kept) != QFileInfo(filePath)) {
        QFile::remove(kept);
        // Across file systems (a temporary folder in memory) this copies, then removes the original.
        if (!QFile::rename(filePath, kept))
            return false;
    }
    // The newest recording of a block is the one it holds.
    const auto earlier = m_kept.constFind(blockLocalID);
    if (earlier != m_kept.cend() && earlier->path != kept)
        QFile::remove(earlier->path);
    m_kept.insert(blockLocalID, Kept{kept, 0, {}, true, {}});
    Q_EMIT changed();
    return true;
}

QCoro::Task<bool> KeptRecordings::upload(QString blockLocalID)
{
    const auto entry = m_kept.find(blockLocalID);
    if (entry == m_kept.end() || m_uploading.contains(blockLocalID))
        co_return false;
    // Landed: the file waits only for the save that holds its address.
    if (entry->addressedAfter)
        co_return true;
    const FNBlock *block = m_store.block(blockLocalID);
    // A block this data set does not know (its state file set aside): the recording may be all
    // that is left of it.
    if (!block)
        co_return false;
    entry->known = true;
    // Its block gone, or given a sound another way meanwhile: the recording has no place left.
    if (block->deletedAt || !address(blockLocalID).isEmpty()) {
        release(blockLocalID);
        co_return false;
    }
    const QPointer<ServiceClient> client = m_client;
    if (!client || !client->isSignedIn())
        co_return false;
    const QString path = entry->path;
    QByteArray data;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            // Nothing left to send.
            release(blockLocalID);
            co_return false;
        }
        data = file.readAll();
    }

    m_uploading.insert(blockLocalID);
    const QPointer<KeptRecordings> self(this);
    const quint64 generation = m_store.generation();
    std::optional<QUrl> url;
    // Built before the await: GCC 12 may destroy a temporary of a co_await expression twice.
    QString name = QFileInfo(path).fileName();
    QString mime = QString::fromLatin1(kMime);
    QString kind = QString::fromLatin1(kKind);
    try {
        url = co_await client->upload(std::move(data), std::move(name), std::move(mime), std::move(kind));
    } catch (const std::exception &) {
    }
    if (!self)
        co_return false;
    m_uploading.remove(blockLocalID);
    const bool landed = settle(blockLocalID, path, generation, url);
    Q_EMIT uploadEnded(blockLocalID);
    co_return landed;
}

bool KeptRecordings::settle(const QString &blockLocalID, const QString &path, quint64 generation,
                            std::optional<QUrl> url)
{
    const auto now = m_kept.constFind(blockLocalID);
    // A newer recording took its place meanwhile: that one is what the block holds, sent in turn.
    if (now == m_kept.cend() || now->path != path)
        return false;
    if (url && !isServiceAddress(*url)) {
        diag(QStringLiteral("KeptRecordings: an upload was answered with an address that is not http(s); "
                            "the recording is kept"));
        url.reset();
    }
    if (!url) {
        noteFailure(blockLocalID);
        return false;
    }
    if (m_store.generation() != generation || !attach(blockLocalID, url->toString(QUrl::FullyEncoded))) {
        release(blockLocalID);
        return false;
    }
    // Until a save holds the address, the recording is the only trace of the upload: a kill now
    // would leave the block without either.
    const auto attached = m_kept.find(blockLocalID);
    if (attached != m_kept.end())
        attached->addressedAfter = m_store.savesStarted();
    Q_EMIT changed();
    return true;
}

void KeptRecordings::uploadDue()
{
    const QDateTime at = now();
    QStringList due;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (!m_uploading.contains(it.key()) && !it->addressedAfter &&
            (it->nextTry.isNull() || it->nextTry <= at))
            due << it.key();
    }
    // Each may let its entry go at once.
    for (const QString &block : due)
        upload(block);
}

void KeptRecordings::uploadAllNow()
{
    QStringList waiting;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (!m_uploading.contains(it.key()) && isWaiting(it.key(), *it))
            waiting << it.key();
    }
    for (const QString &block : waiting)
        upload(block);
}

void KeptRecordings::followEngine(SyncEngine &engine)
{
    connect(&engine, &SyncEngine::cycleFinished, this, &KeptRecordings::uploadDue, Qt::UniqueConnection);
}

int KeptRecordings::count() const
{
    int n = 0;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it)
        n += isWaiting(it.key(), *it) ? 1 : 0;
    return n;
}

bool KeptRecordings::isWaiting(const QString &blockLocalID, const Kept &kept) const
{
    return !kept.addressedAfter && isLive(blockLocalID) && address(blockLocalID).isEmpty();
}

void KeptRecordings::dropIfReset()
{
    if (m_store.generation() == m_generation)
        return;
    m_generation = m_store.generation();
    // The data set they belonged to is gone (a logout, another account): nothing of it stays here.
    // Those of blocks it never knew belong to no data set here, and stay.
    QStringList blocks;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (it->known)
            blocks << it.key();
    }
    for (const QString &block : blocks)
        release(block);
}

void KeptRecordings::releaseSaved(quint64 save)
{
    QStringList saved;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (it->addressedAfter && *it->addressedAfter < save)
            saved << it.key();
    }
    for (const QString &block : saved)
        release(block);
}

bool KeptRecordings::isServiceAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

std::optional<QString> KeptRecordings::fileOf(const QString &blockLocalID) const
{
    const auto it = m_kept.constFind(blockLocalID);
    return it == m_kept.cend() ? std::nullopt : std::optional<QString>(it->path);
}

bool KeptRecordings::isLive(const QString &blockLocalID) const
{
    const FNBlock *block = m_store.block(blockLocalID);
    return block && !block->deletedAt;
}

QString KeptRecordings::address(const QString &blockLocalID) const
{
    const FNBlock *stored = m_store.block(blockLocalID);
    if (!stored)
        return QString();
    const JSONObject content = contentOf(*stored);
    const auto it = content.find(kAddressKey);
    return it != content.end() && it->second.isString() ? it->second.toString() : QString();
}

bool KeptRecordings::attach(const QString &blockLocalID, const QString &url)
{
    const FNBlock *stored = m_store.block(blockLocalID);
    if (!stored || stored->deletedAt)
        return false;
    JSONObject content = contentOf(*stored);
    content[kAddressKey] = url;
    QString json;
    try {
        json = QString::fromUtf8(serializeJSONObject(content));
    } catch (const std::exception &) {
        return false;
    }
    const QString page = stored->pageLocalID;
    Outbox &outbox = Outbox::of(m_store);
    outbox.blockEdited(page, blockLocalID, BlockFields::Content);
    m_store.editBlock(blockLocalID, [&json](FNBlock &block) { block.contentJSON = json; });
    outbox.pageBlocksUpsert(page);
    return true;
}

void KeptRecordings::release(const QString &blockLocalID)
{
    const auto it = m_kept.constFind(blockLocalID);
    if (it == m_kept.cend())
        return;
    QFile::remove(it->path);
    QDir(m_folder).rmdir(blockLocalID);
    m_kept.remove(blockLocalID);
    Q_EMIT changed();
}

void KeptRecordings::noteFailure(const QString &blockLocalID)
{
    Kept &kept = m_kept[blockLocalID];
    kept.attempts = std::min(kept.attempts + 1, RetryPolicy::kMaxTransientAttempts);
    kept.nextTry = now().addMSecs(RetryPolicy::delayAfter(kept.attempts).count());
}

QDateTime KeptRecordings::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}
