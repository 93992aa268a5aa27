#pragma once

#include "store/store_state.h"

#include <QMap>
#include <QObject>

#include <vector>

class LocalStore;
struct BatchChange;

// Tells when what a listing of folders and pages shows may have changed: a folder or a page on its
// own (told by its id, so a listing can mend just its rows), a bulk edit, a batch that names either,
// or a field beside the records that listings show (the workspaces and the current one, the pages'
// badges, the expanded rows). The outbox, the sync cursor and block edits pass by untold, so a push
// of many operations or typing in a page rebuilds no listing.
class ListingWatch : public QObject
{
    Q_OBJECT
public:
    explicit ListingWatch(LocalStore &store, QObject *parent = nullptr);

Q_SIGNALS:
    // Anything but one record's own change: the listing may have any shape now.
    void changed();
    void folderChanged(const QString &localID);
    void pageChanged(const QString &localID);

private:
    void batchApplied(const BatchChange &change);
    // Compares the fields beside the records with those last seen; cheap when they are unchanged.
    void checkFieldsBeside();
    void takeFieldsBeside();

    LocalStore &m_store;
    std::vector<FNWorkspace> m_workspaces;
    qint64 m_currentWorkspace = 0;
    QMap<QString, FNPageStatus> m_statuses; // shares the store's copy until either changes
    std::vector<QString> m_expanded;
};
