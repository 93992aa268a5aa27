#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class LocalStore;
class ServiceClient;
class SyncEngine;

// Voice notes recorded here that the service does not have yet. Each is kept in the data folder
// beside "state.json", under its block's local id, until its upload lands and a save holding the
// block's address ("url") is on disk. The ones that failed are sent again after the engine's cycles
// (so once the service is back, and at the next launch), spaced out as failed operations are. Until
// then each counts as a change not saved. One goes only when the data set that knows its block has
// the block deleted or holding a sound, or is reset; one whose block no data set here knows (its
// state file set aside) stays where it is.
class KeptRecordings : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFolderName = "recordings";
    static constexpr const char *kMime = "audio/mp4";
    static constexpr const char *kKind = "audio";

    // Takes up what an earlier launch left in the store's folder.
    KeptRecordings(LocalStore &store, ServiceClient &client, QObject *parent = nullptr);

    // Moves a finished recording into the data folder under its block, in place of one kept for it
    // before; false when it could not be moved (it then stays where it is).
    bool keep(const QString &blockLocalID, const QString &filePath);
    // Uploads the block's recording and writes its address into the block; true once the block
    // holds it. False, with the recording kept for a later try, when the upload failed (an answer
    // that is no http(s) address included), one of it is out already, or no one is signed in.
    QCoro::Task<bool> upload(QString blockLocalID);
    // Tries again each recording whose pause after a failure is over.
    void uploadDue();
    // Tries each counted recording now, due or not, except those with a try out already (the last
    // chance before a logout).
    void uploadAllNow();
    // A try is out for one of them.
    bool isUploading() const { return !m_uploading.isEmpty(); }
    // Runs uploadDue after each of the engine's cycles.
    void followEngine(SyncEngine &engine);

    // Recordings of blocks still stored without a sound: changes not on the service yet.
    int count() const;
    // Where the block's recording is kept; none when it has none.
    std::optional<QString> fileOf(const QString &blockLocalID) const;

    // Tests: the time source of the pauses between tries.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    // What the service may answer an upload with that a block may hold.
    static bool isServiceAddress(const QUrl &url);

Q_SIGNALS:
    // One was kept, or went (uploaded, or its block gone).
    void changed();
    // A try ended, whatever its outcome.
    void uploadEnded(const QString &blockLocalID);

private:
    struct Kept {
        QString path;
        qint64 attempts = 0;
        QDateTime nextTry; // null: due now
        // The data set of this launch held its block at some point: a reset takes it along.
        bool known = false;
        // The block holds the address since this many saves were started; the file goes once a
        // later one is on disk.
        std::optional<quint64> addressedAfter;
    };

    QString blockFolder(const QString &blockLocalID) const;
    bool isLive(const QString &blockLocalID) const;
    // Counted as a change not saved: its block live, without a sound, its upload not landed.
    bool isWaiting(const QString &blockLocalID, const Kept &kept) const;
    // The address the block holds now; empty without one.
    QString address(const QString &blockLocalID) const;
    // Stores the address in the block's content and queues it; false when the block has gone.
    bool attach(const QString &blockLocalID, const QString &url);
    // Removes the file and its entry.
    void release(const QString &blockLocalID);
    // The upload's outcome; true once the block holds the address.
    bool settle(const QString &blockLocalID, const QString &path, quint64 generation,
                std::optional<QUrl> url);
    void noteFailure(const QString &blockLocalID);
    void dropIfReset();
    void releaseSaved(quint64 save);
    QDateTime now() const;

    LocalStore &m_store;
    QPointer<ServiceClient> m_client;
    QString m_folder;
    quint64 m_generation = 0;
    QHash<QString, Kept> m_kept;
    QSet<QString> m_uploading;
    std::function<QDateTime()> m_now;
};
