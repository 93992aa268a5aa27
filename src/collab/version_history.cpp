#include "collab/version_history.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "platform/app_events.h"
#include "store/sync_engine.h"
#include "ui/toast_center.h"

#include <QLocale>
#include <QRegularExpression>

#include <cstdio>

namespace {

// The page's edits could not be sent before the restore.
struct EditsWaiting {
};

} // namespace

std::optional<QDateTime> parseVersionDate(const QString &text)
{
    // Qt's ISO reader also takes a date without a zone (as local time) and a lone date; neither is
    // an internet date-time, so the shape is checked first.
    static const QRegularExpression rfc3339(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})[Tt](\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d+))?(?:([Zz])|([+-"
                       "])(\\d{2}):(\\d{2}))$"));
    static const QRegularExpression plain(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})$"));
    const auto number = [](const QRegularExpressionMatch &m, int i) { return m.captured(i).toInt(); };
    if (const auto m = rfc3339.match(text); m.hasMatch()) {
        const QDate date(number(m, 1), number(m, 2), number(m, 3));
        const int ms = m.captured(7).isEmpty() ? 0 : m.captured(7).left(3).leftJustified(3, u'0').toInt();
        const QTime time(number(m, 4), number(m, 5), number(m, 6), ms);
        if (!date.isValid() || !time.isValid() || number(m, 10) > 23 || number(m, 11) > 59)
            return std::nullopt;
        int offset = 0;
        if (m.captured(8).isEmpty())
            offset = (number(m, 10) * 3600 + number(m, 11) * 60) * (m.captured(9) == u"-" ? -1 : 1);
        return QDateTime(date, time, Qt::OffsetFromUTC, offset).toUTC();
    }
    if (const auto m = plain.match(text); m.hasMatch()) {
        const QDate date(number(m, 1), number(m, 2), number(m, 3));
        const QTime time(number(m, 4), number(m, 5), number(m, 6));
        if (!date.isValid() || !time.isValid())
            return std::nullopt;
        return QDateTime(date, time, Qt::UTC);
    }
    return std::nullopt;
}

QString shortTimeFormat(const QLocale &locale)
{
    // A short time is hours and minutes; some locales' short pattern (the C locale's among them)
    // still carries the seconds, which go with the separator before them.
    static const QRegularExpression seconds(QStringLiteral("[:.,]?s+(?:[.,]z+)?"));
    return locale.timeFormat(QLocale::ShortFormat).remove(seconds).trimmed();
}

QString mediumDateFormat(const QLocale &locale)
{
    // The weekday with the separator that joins it to the rest, before or after it.
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|[,.]?\\s*d{4}"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString formatVersionDate(const QString &text)
{
    const auto when = parseVersionDate(text);
    if (!when)
        return text;
    const QDateTime local = when->toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), mediumDateFormat(locale)) + QStringLiteral(", ") +
           locale.toString(local.time(), shortTimeFormat(locale));
}

QString formatByteSize(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    // printf's rounding, as the sizes are quoted ("%.0f KB" of 1.5 is "2 KB").
    char text[64];
    const double k = double(bytes) / 1024.0;
    if (k < 1024.0)
        std::snprintf(text, sizeof text, "%.0f KB", k);
    else
        std::snprintf(text, sizeof text, "%.1f MB", k / 1024.0);
    return QString::fromLatin1(text);
}

VersionHistory::VersionHistory(ServiceClient &client, SyncEngine *engine, ToastCenter *toasts,
                               qint64 pageServerID, QObject *parent)
    : QObject(parent)
    , m_client(&client)
    , m_engine(engine)
    , m_toasts(toasts)
    , m_pageServerID(pageServerID)
{
}

QStringList VersionHistory::metaItems(const VersionDTO &version)
{
    QStringList items;
    if (version.user_name && !version.user_name->isEmpty())
        items << *version.user_name;
    if (version.byte_size)
        items << QStringLiteral("·") << formatByteSize(*version.byte_size);
    return items;
}

QCoro::Task<> VersionHistory::load()
{
    QPointer<VersionHistory> self(this);
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0) {
        m_loading = false;
        if (m_pageServerID == 0)
            m_error = QString::fromLatin1(kNeedsSaving);
        Q_EMIT changed();
        co_return;
    }
    m_loading = true;
    Q_EMIT changed();
    std::optional<VersionsResp> reply;
    std::optional<QString> failure;
    try {
        reply = co_await m_client->listVersions(m_pageServerID);
    } catch (const APIError &e) {
        failure = e.errorDescription();
    } catch (...) {
        failure = QString::fromLatin1(kLoadFailed);
    }
    if (!self)
        co_return;
    if (reply)
        m_versions = std::move(reply->versions);
    m_error = failure;
    m_loading = false;
    Q_EMIT changed();
}

void VersionHistory::askRestore(const VersionDTO &version)
{
    m_confirmVersion = version;
    Q_EMIT changed();
}

void VersionHistory::cancelRestore()
{
    m_confirmVersion.reset();
    Q_EMIT changed();
}

QCoro::Task<> VersionHistory::confirmRestore()
{
    const std::optional<VersionDTO> version = std::exchange(m_confirmVersion, std::nullopt);
    if (!version || !m_client || !m_client->isSignedIn()) {
        Q_EMIT changed();
        return []() -> QCoro::Task<> { co_return; }();
    }
    m_restoringID = version->id;
    Q_EMIT changed();
    return restore(this, {m_client, m_engine, m_toasts, m_events}, m_pageServerID, *version);
}

QCoro::Task<> VersionHistory::syncAfter(QPointer<SyncEngine> engine)
{
    co_await SyncEngine::cycleUnderWayEnds(engine);
    co_await SyncEngine::syncQuietly(engine);
}

QCoro::Task<> VersionHistory::restore(QPointer<VersionHistory> self, Reach reach, qint64 pageServerID,
                                      VersionDTO version)
{
    QString failure;
    // Built before the await: GCC 12 may destroy a temporary of a co_await expression twice.
    const VersionRestoreReq request{version.id, true};
    try {
        // An edit of the page still on its way would land over the restored blocks.
        if (reach.engine && !co_await reach.engine->sendPageEditsFirst(pageServerID))
            throw EditsWaiting{};
        if (!reach.client)
            throw std::exception(); // quitting meanwhile
        const VersionRestoreOK reply = co_await reach.client->restoreVersion(request);
        // An explicit "ok": false is the service saying the restore did not happen.
        if (reply.ok == false)
            failure = QString::fromLatin1(kRestoreFailed);
    } catch (const APIError &e) {
        failure = e.errorDescription();
    } catch (const EditsWaiting &) {
        failure = QString::fromLatin1(kEditsWaiting);
    } catch (...) {
        failure = QString::fromLatin1(kRestoreFailed);
    }
    if (failure.isEmpty()) {
        if (reach.engine)
            reach.engine->dropRefusedPageEdits(pageServerID);
        co_await syncAfter(reach.engine);
        if (reach.events)
            reach.events->postPageRestored(pageServerID);
        if (reach.toasts)
            reach.toasts->show(QString::fromLatin1(kRestoredPrefix) + formatVersionDate(version.created_at) +
                               u'.');
    } else if (reach.toasts) {
        reach.toasts->show(failure);
    }
    if (self)
        self->restoreEnded(failure.isEmpty());
}

void VersionHistory::restoreEnded(bool closing)
{
    m_restoringID.reset();
    Q_EMIT changed();
    if (closing)
        Q_EMIT closeRequested();
}
