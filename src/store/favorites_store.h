#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class LocalStore;
class Settings;

// The local ids of the pages the user marked as favourites, kept in the settings under
// "pn.favorites" as a JSON array of strings, and beside them under "pn.favorites.serverIDs" the
// server ids of those known to the service: a sign-in pulls the pages again under new local ids,
// and the server id still finds them. Never sent to the service.
class FavoritesStore : public QObject
{
    Q_OBJECT
public:
    // Reads the stored set; nothing stored, or a value that is not an array of strings, gives none.
    explicit FavoritesStore(Settings &settings, QObject *parent = nullptr);

    const QSet<QString> &ids() const { return m_ids; }
    // A direct change; persists only through a following save().
    void setIds(QSet<QString> ids);

    // Whether the page is a favourite, by its local id or by its server id (0: none yet).
    bool contains(const QString &pageLocalID, qint64 pageServerID = 0) const;
    // Adds the page when missing, removes it when present, then saves.
    void toggle(const QString &pageLocalID, qint64 pageServerID = 0);
    // Removes the page when present, then saves.
    void remove(const QString &pageLocalID, qint64 pageServerID = 0);
    // Notes the server ids the favourites have by now; before the local data set is emptied.
    void rememberServerIDs(const LocalStore &store);
    void save();

Q_SIGNALS:
    void idsChanged();

private:
    // The local ids stored for the page, by either id.
    QSet<QString> entriesOf(const QString &pageLocalID, qint64 pageServerID) const;

    Settings &m_settings;
    QSet<QString> m_ids;
    QHash<QString, qint64> m_serverIDs; // by local id, for the favourites the service knows
    QSet<qint64> m_favoriteServerIDs;   // the values of m_serverIDs
};
