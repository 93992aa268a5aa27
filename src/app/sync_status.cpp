#include "app/sync_status.h"

#include <algorithm>

SyncStatus SyncStatus::of(bool isSyncing, qsizetype outboxCount)
{
    if (isSyncing)
        return {Kind::syncing, outboxCount};
    return {outboxCount > 0 ? Kind::unsynced : Kind::upToDate, outboxCount};
}

QString SyncStatus::symbol() const
{
    switch (kind) {
    case Kind::syncing:
        return QString();
    case Kind::unsynced:
        return QStringLiteral("arrow.triangle.2.circlepath.icloud");
    case Kind::upToDate:
        break;
    }
    return QStringLiteral("arrow.clockwise");
}

QString SyncStatus::help() const
{
    switch (kind) {
    case Kind::syncing:
        return QStringLiteral("Syncing…");
    case Kind::unsynced:
        return QString::number(unsynced) + QStringLiteral(" unsynced change") +
               (unsynced == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" — tap to sync");
    case Kind::upToDate:
        break;
    }
    return QStringLiteral("Up to date");
}

QString SyncStatus::badgeText() const
{
    if (kind != Kind::unsynced)
        return QString();
    return QString::number(std::min(unsynced, kBadgeCap));
}
