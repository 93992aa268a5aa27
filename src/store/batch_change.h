#pragma once

#include <QSet>
#include <QString>

// What one batch of edits changed in the store, told once when the batch ends: the local ids of the
// records it touched, and the pages whose blocks it touched, so a view re-reads only its own.
struct BatchChange {
    QSet<QString> folders;
    QSet<QString> pages;
    QSet<QString> blocks;
    // Pages (by local id) that gained, lost or changed a block; a block moved between pages names both.
    QSet<QString> blockPages;
    // A bulk edit inside the batch: any record may have changed (`recordsChanged` was told too).
    bool allRecords = false;

    bool isEmpty() const { return !allRecords && folders.isEmpty() && pages.isEmpty() && blocks.isEmpty(); }
    bool touchesPage(const QString &pageLocalID) const { return allRecords || pages.contains(pageLocalID); }
    bool touchesBlock(const QString &blockLocalID) const
    {
        return allRecords || blocks.contains(blockLocalID);
    }
    bool touchesBlocksOf(const QString &pageLocalID) const
    {
        return allRecords || blockPages.contains(pageLocalID);
    }
};
