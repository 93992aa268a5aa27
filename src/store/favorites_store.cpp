#include "store/favorites_store.h"

#include "json/json_coder.h"
#include "platform/settings.h"
#include "store/local_store.h"

#include <QMap>

#include <algorithm>

namespace {

const QString kKey = QStringLiteral("pn.favorites");
const QString kServerIDsKey = QStringLiteral("pn.favorites.serverIDs");

} // namespace

FavoritesStore::FavoritesStore(Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    const auto text = m_settings.jsonText(kKey);
    if (!text)
        return;
    try {
        for (const auto &id : sharedJSONDecode<std::vector<QString>>(*text))
            m_ids.insert(id);
    } catch (const DecodeError &) {
        m_ids.clear();
    }
    // Older builds stored no server ids: their favourites are found by local id alone.
    const auto serverText = m_settings.jsonText(kServerIDsKey);
    if (!serverText)
        return;
    try {
        const auto stored = sharedJSONDecode<QMap<QString, qint64>>(*serverText);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            if (m_ids.contains(it.key()) && it.value() != 0) {
                m_serverIDs.insert(it.key(), it.value());
                m_favoriteServerIDs.insert(it.value());
            }
        }
    } catch (const DecodeError &) {
        // Matched by local id only, as before.
    }
}

void FavoritesStore::setIds(QSet<QString> ids)
{
    m_ids = std::move(ids);
    for (auto it = m_serverIDs.begin(); it != m_serverIDs.end();)
        it = m_ids.contains(it.key()) ? std::next(it) : m_serverIDs.erase(it);
    m_favoriteServerIDs.clear();
    for (const qint64 id : std::as_const(m_serverIDs))
        m_favoriteServerIDs.insert(id);
    Q_EMIT idsChanged();
}

bool FavoritesStore::contains(const QString &pageLocalID, qint64 pageServerID) const
{
    return m_ids.contains(pageLocalID) || (pageServerID != 0 && m_favoriteServerIDs.contains(pageServerID));
}

QSet<QString> FavoritesStore::entriesOf(const QString &pageLocalID, qint64 pageServerID) const
{
    QSet<QString> entries;
    if (m_ids.contains(pageLocalID))
        entries.insert(pageLocalID);
    if (pageServerID != 0 && m_favoriteServerIDs.contains(pageServerID)) {
        for (auto it = m_serverIDs.cbegin(); it != m_serverIDs.cend(); ++it) {
            if (it.value() == pageServerID)
                entries.insert(it.key());
        }
    }
    return entries;
}

void FavoritesStore::toggle(const QString &pageLocalID, qint64 pageServerID)
{
    if (contains(pageLocalID, pageServerID)) {
        remove(pageLocalID, pageServerID);
        return;
    }
    QSet<QString> ids = m_ids;
    ids.insert(pageLocalID);
    if (pageServerID != 0)
        m_serverIDs.insert(pageLocalID, pageServerID);
    setIds(std::move(ids));
    save();
}

void FavoritesStore::remove(const QString &pageLocalID, qint64 pageServerID)
{
    const QSet<QString> entries = entriesOf(pageLocalID, pageServerID);
    if (entries.isEmpty())
        return;
    setIds(m_ids - entries);
    save();
}

void FavoritesStore::rememberServerIDs(const LocalStore &store)
{
    bool changed = false;
    for (const QString &id : std::as_const(m_ids)) {
        const FNPage *page = store.page(id);
        if (!page || page->serverID == 0 || m_serverIDs.value(id) == page->serverID)
            continue;
        m_serverIDs.insert(id, page->serverID);
        m_favoriteServerIDs.insert(page->serverID);
        changed = true;
    }
    if (changed)
        save();
}

void FavoritesStore::save()
{
    // The set has no order; a sorted array keeps the stored text stable between saves.
    std::vector<QString> ids(m_ids.cbegin(), m_ids.cend());
    std::sort(ids.begin(), ids.end());
    m_settings.setJSONText(kKey, sharedJSONEncode(ids));
    if (m_serverIDs.isEmpty()) {
        m_settings.remove(kServerIDsKey);
    } else {
        QMap<QString, qint64> serverIDs;
        for (auto it = m_serverIDs.cbegin(); it != m_serverIDs.cend(); ++it)
            serverIDs.insert(it.key(), it.value());
        m_settings.setJSONText(kServerIDsKey, sharedJSONEncode(serverIDs));
    }
    m_settings.sync();
}
