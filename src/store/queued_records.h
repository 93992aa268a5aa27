#pragma once

#include <QSet>
#include <QString>

class LocalStore;

// The records with an operation still waiting in the outbox, read once: a merge over every record
// asks this instead of scanning the outbox per record.
class QueuedRecords
{
public:
    explicit QueuedRecords(const LocalStore &store);

    // Any "folder" operation for the folder.
    bool hasFolderOp(const QString &folderLocalID) const { return m_folders.contains(folderLocalID); }
    // A "page" create, update or move for the page (a queued delete is not a change of its fields).
    bool hasPageChange(const QString &pageLocalID) const { return m_pages.contains(pageLocalID); }
    bool hasFolderCreate() const { return m_folderCreates; }

private:
    QSet<QString> m_folders;
    QSet<QString> m_pages;
    bool m_folderCreates = false;
};
