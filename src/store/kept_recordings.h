#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class LocalStore;
class ServiceClient;
class SyncEngine;

// Voice notes recorded here that the service does not have yet. Each is kept in the data folder
// beside "state.json", under its block's local id, until its upload lands and the block holds its
// address ("url"). The ones that failed are sent again after the engine's cycles (so once the service
// is back, and at the next launch), spaced out as failed operations are. Until then each counts as
// a change not saved. They go with the data set when the store is reset.
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
    // holds it. False, with the recording kept for a later try, when the upload failed, one of it is
    // out already, or no one is signed in.
    QCoro::Task<bool> upload(QString blockLocalID);
    // Tries again each recording whose pause after a failure is over.
    void uploadDue();
    // Runs uploadDue after each of the engine's cycles.
    void followEngine(SyncEngine &engine);

    // Recordings of blocks still stored without a sound: changes not on the service yet.
    int count() const;
    // Where the block's recording is kept; none when it has none.
    std::optional<QString> fileOf(const QString &blockLocalID) const;

    // Tests: the time source of the pauses between tries.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

Q_SIGNALS:
    // One was kept, or went (uploaded, or its block gone).
    void changed();

private:
    struct Kept {
        QString path;
        qint64 attempts = 0;
        QDateTime nextTry; // null: due now
    };

    QString blockFolder(const QString &blockLocalID) const;
    bool isLive(const QString &blockLocalID) const;
    // The address the block holds now; empty without one.
    QString address(const QString &blockLocalID) const;
    // Stores the address in the block's content and queues it; false when the block has gone.
    bool attach(const QString &blockLocalID, const QString &url);
    // Removes the file and its entry.
    void release(const QString &blockLocalID);
    void noteFailure(const QString &blockLocalID);
    void dropIfReset();
    QDateTime now() const;

    LocalStore &m_store;
    QPointer<ServiceClient> m_client;
    QString m_folder;
    quint64 m_generation = 0;
    QHash<QString, Kept> m_kept;
    QSet<QString> m_uploading;
    std::function<QDateTime()> m_now;
};
