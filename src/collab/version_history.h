#pragma once

#include "api/wire/collab.h"
#include "platform/app_events.h"

#include <QCoroTask>
#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>
#include <vector>

class ServiceClient;
class SyncEngine;
class ToastCenter;

// A version's "created_at": RFC 3339 with or without a fraction, else "yyyy-MM-dd HH:mm:ss" as UTC.
// A text without a zone in any other shape gives nothing.
std::optional<QDateTime> parseVersionDate(const QString &text);
// The locale's short time pattern without seconds.
QString shortTimeFormat(const QLocale &locale);
// The locale's date with the month's short name and no weekday ("May 1, 2024", "1. Mai 2024"):
// its long date without the weekday.
QString mediumDateFormat(const QLocale &locale);
// The date in the user's locale and time zone (medium date, short time); an unreadable text as it is.
QString formatVersionDate(const QString &text);
// "512 B", "2 KB", "1.5 MB".
QString formatByteSize(qint64 bytes);

// What the version history sheet shows and does for one page, without a window. The restore runs
// to its end even when this object goes away: it only needs the client, the engine and the toasts.
class VersionHistory : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kNeedsSaving = "Save this page first to see its history.";
    static constexpr const char *kLoadFailed = "Couldn't load history.";
    static constexpr const char *kRestoreFailed = "Restore failed.";
    static constexpr const char *kRestoredPrefix = "Restored version from ";
    // The page's latest edits could not be sent first, and would have landed over the version.
    static constexpr const char *kEditsWaiting =
        "Not restored: this page's latest changes haven't reached the server yet. Try again in a moment.";

    // `engine` and `toasts` may be null (then no sync, no toast).
    VersionHistory(ServiceClient &client, SyncEngine *engine, ToastCenter *toasts, qint64 pageServerID,
                   QObject *parent = nullptr);
    // Where a finished restore is announced, so the open editor shows the restored blocks.
    void setEvents(AppEvents *events) { m_events = events; }

    bool loading() const { return m_loading; }
    const std::vector<VersionDTO> &versions() const { return m_versions; }
    const std::optional<QString> &error() const { return m_error; }
    std::optional<qint64> restoringID() const { return m_restoringID; }
    const std::optional<VersionDTO> &confirmVersion() const { return m_confirmVersion; }
    // The meta line under a version's date: its author, then "·" and its size when known.
    static QStringList metaItems(const VersionDTO &version);

    // Fetches the list once; without a server id shows why, without a session shows it empty.
    QCoro::Task<> load();
    // The confirmation step before a restore.
    void askRestore(const VersionDTO &version);
    void cancelRestore();
    // Restores the version awaiting confirmation; the returned task may be dropped.
    QCoro::Task<> confirmRestore();

Q_SIGNALS:
    void changed();
    // A restore went through: the sheet closes.
    void closeRequested();

private:
    struct Reach {
        QPointer<ServiceClient> client;
        QPointer<SyncEngine> engine;
        QPointer<ToastCenter> toasts;
        QPointer<AppEvents> events;
    };
    static QCoro::Task<> restore(QPointer<VersionHistory> self, Reach reach, qint64 pageServerID,
                                 VersionDTO version);
    // A cycle that starts after the restore: one already running may have pulled before it.
    static QCoro::Task<> syncAfter(QPointer<SyncEngine> engine);
    void restoreEnded(bool closing);

    QPointer<ServiceClient> m_client;
    QPointer<SyncEngine> m_engine;
    QPointer<ToastCenter> m_toasts;
    QPointer<AppEvents> m_events;
    qint64 m_pageServerID;
    bool m_loading = true;
    std::vector<VersionDTO> m_versions;
    std::optional<QString> m_error;
    std::optional<qint64> m_restoringID;
    std::optional<VersionDTO> m_confirmVersion;
};
