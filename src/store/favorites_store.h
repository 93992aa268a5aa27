#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class Settings;

// The local ids of the pages the user marked as favourites, kept in the settings under
// "pn.favorites" as a JSON array of strings. Never sent to the service.
class FavoritesStore : public QObject
{
    Q_OBJECT
public:
    // Reads the stored set; nothing stored, or a value that is not an array of strings, gives none.
    explicit FavoritesStore(Settings &settings, QObject *parent = nullptr);

    const QSet<QString> &ids() const { return m_ids; }
    // A direct change; persists only through a following save().
    void setIds(QSet<QString> ids);

    // Adds the id when missing, removes it when present, then saves.
    void toggle(const QString &pageLocalID);
    void save();

Q_SIGNALS:
    void idsChanged();

private:
    Settings &m_settings;
    QSet<QString> m_ids;
};
