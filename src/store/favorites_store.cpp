#include "store/favorites_store.h"

#include "json/json_coder.h"
#include "platform/settings.h"

#include <algorithm>

namespace {

const QString kKey = QStringLiteral("pn.favorites");

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
}

void FavoritesStore::setIds(QSet<QString> ids)
{
    m_ids = std::move(ids);
    Q_EMIT idsChanged();
}

void FavoritesStore::toggle(const QString &pageLocalID)
{
    if (!m_ids.remove(pageLocalID))
        m_ids.insert(pageLocalID);
    Q_EMIT idsChanged();
    save();
}

void FavoritesStore::save()
{
    // The set has no order; a sorted array keeps the stored text stable between saves.
    std::vector<QString> ids(m_ids.cbegin(), m_ids.cend());
    std::sort(ids.begin(), ids.end());
    m_settings.setJSONText(kKey, sharedJSONEncode(ids));
    m_settings.sync();
}
