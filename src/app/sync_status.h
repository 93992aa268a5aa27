#pragma once

#include <QString>

// What the toolbar's sync button shows: a running sync, the count of changes still queued (the
// outbox), or that all is sent.
struct SyncStatus {
    enum class Kind { syncing, unsynced, upToDate };

    static constexpr qsizetype kBadgeCap = 99;

    Kind kind = Kind::upToDate;
    qsizetype unsynced = 0;

    static SyncStatus of(bool isSyncing, qsizetype outboxCount);

    // The symbol for the state (a SymbolIcons name); none while syncing (a spinner shows instead).
    QString symbol() const;
    // The tooltip, with the full count.
    QString help() const;
    // The badge over the symbol, capped at 99; empty when there is no badge.
    QString badgeText() const;

    friend bool operator==(const SyncStatus &, const SyncStatus &) = default;
};
