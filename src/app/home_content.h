#pragma once

#include "app/home_dashboard.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <vector>

class LocalStore;
struct BatchChange;

// What the home screen lists (the top-level folders with their counts, the recent pages and their
// badges), kept in step with the store one changed record at a time once loaded: a rename or a new
// page costs a few lookups, not a pass over every page. Agrees with HomeDashboard's answers over the
// same state. Until the first `reload` it follows nothing.
class HomeContent : public QObject
{
    Q_OBJECT
public:
    // Which sections a change touched.
    struct Changes {
        bool folders = false;
        bool recent = false;
        Changes &operator|=(const Changes &other)
        {
            folders |= other.folders;
            recent |= other.recent;
            return *this;
        }
    };

    // A batch naming more pages than this is worked out again whole.
    static constexpr qsizetype kPagesOneByOne = 64;

    explicit HomeContent(const LocalStore &store, QObject *parent = nullptr);

    // Works everything out again from the whole state, and from then on follows the store.
    void reload();
    bool isLoaded() const { return m_loaded; }

    const std::vector<FNFolder> &folders() const { return m_folders; }
    HomeDashboard::FolderCounts counts(const FNFolder &folder) const;
    const std::vector<FNPage> &recent() const { return m_recent; }

Q_SIGNALS:
    void changed(const HomeContent::Changes &changes);

private:
    void tell(const Changes &changes);
    Changes pageChanged(const QString &localID);
    bool foldersChanged();
    // Whether the page's count moved from one folder to another.
    bool countChanged(const QString &localID);
    bool recentPagesChanged(const QList<QString> &localIDs);
    void batchApplied(const BatchChange &change);

    const LocalStore &m_store;
    bool m_loaded = false;
    std::vector<FNFolder> m_folders;
    QHash<qint64, int> m_subfolders;    // by parent folder server id
    QHash<qint64, int> m_pages;         // live top-level pages by folder server id
    QHash<QString, qint64> m_countedIn; // page local id -> the folder it is counted in
    std::vector<FNPage> m_recent;
    QMap<QString, FNPageStatus> m_statuses; // the badges last told; shares the store's copy
};
