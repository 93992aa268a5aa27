#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;

// A create whose reply was lost (a time-out, a connection dropped after the request went out) may
// still have made its record on the service. When a listing or a pull brings a record the device
// does not know, these find the local record such a create was for, so the device adopts the
// service's record instead of keeping a second copy or creating a third.

struct ListedPage {
    qint64 id = 0;
    qint64 workspaceID = 0;
    qint64 parentPageID = 0;
    QString title;
    qint64 position = 0;
};

struct ListedFolder {
    qint64 id = 0;
    qint64 workspaceID = 0;
    qint64 parentFolderID = 0;
    QString name;
};

// The local page, still without a server id, whose queued create went out without an answer and
// would have made `listed` (same workspace, parent, title and position), leaving out those
// `taken`; none when `listed` is already known here.
std::optional<QString> pageAwaitingAdoption(const LocalStore &store, const ListedPage &listed,
                                            const QSet<QString> &taken = {});
// The same for folders: same workspace, parent and name.
std::optional<QString> folderAwaitingAdoption(const LocalStore &store, const ListedFolder &listed,
                                              const QSet<QString> &taken = {});

// For each listed record that a waiting local record would adopt, that local record's id, keyed by
// the listed record's id. When several listed records would do for one local record, the newest
// (highest id) is taken: the lost create made its record after any look-alike the device had not
// seen yet, since a look-alike made later would most often have been made knowing this one.
QHash<qint64, QString> pageAdoptions(const LocalStore &store, std::vector<ListedPage> listed);
QHash<qint64, QString> folderAdoptions(const LocalStore &store, std::vector<ListedFolder> listed);

// Gives the page its server id, and its blocks that server id as their page's.
void adoptPageServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID);
void adoptFolderServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID);
