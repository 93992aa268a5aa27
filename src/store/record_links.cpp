#include "store/record_links.h"

#include "json/json_error.h"
#include "json/json_value.h"
#include "store/local_store.h"

#include <vector>

namespace recordLinks {

QString withLink(const QString &payload, const char *key, const QString &localID)
{
    try {
        JSONObject object = parseJSONObject(payload.toUtf8());
        object[QString::fromLatin1(key)] = localID;
        return QString::fromUtf8(serializeJSONObject(object));
    } catch (const DecodeError &) {
        return payload;
    } catch (const EncodeError &) {
        return payload;
    }
}

std::optional<QString> link(const QString &payload, const char *key)
{
    try {
        const JSONObject object = parseJSONObject(payload.toUtf8());
        const auto it = object.find(QString::fromLatin1(key));
        if (it == object.end() || !it->second.isString() || it->second.toString().isEmpty())
            return std::nullopt;
        return it->second.toString();
    } catch (const DecodeError &) {
        return std::nullopt;
    }
}

std::optional<qint64> linkedPageServerID(const LocalStore &store, const QString &payload, const char *key)
{
    const std::optional<QString> localID = link(payload, key);
    if (!localID)
        return std::nullopt;
    const FNPage *page = store.page(*localID);
    return page ? std::optional<qint64>(page->serverID) : std::nullopt;
}

std::optional<qint64> linkedFolderServerID(const LocalStore &store, const QString &payload, const char *key)
{
    const std::optional<QString> localID = link(payload, key);
    if (!localID)
        return std::nullopt;
    const FNFolder *folder = store.folder(*localID);
    return folder ? std::optional<qint64>(folder->serverID) : std::nullopt;
}

namespace {

// Each record of `records` linked to `parentLocalID` through `link` takes `serverID` as its `server`
// link (unless it has one) and drops the local link; `edit` stores one record's change.
template <typename T, typename Edit>
void relink(const std::vector<T> &records, std::optional<QString> T::*link, qint64 T::*server,
            const QString &parentLocalID, qint64 serverID, const Edit &edit)
{
    std::vector<QString> linked;
    for (const T &record : records) {
        if (record.*link == parentLocalID)
            linked.push_back(record.localID);
    }
    for (const QString &localID : linked) {
        edit(localID, [&](T &record) {
            if (record.*server == 0)
                record.*server = serverID;
            (record.*link).reset();
        });
    }
}

} // namespace

void pageGotServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID)
{
    relink(store.state().pages, &FNPage::parentPageLocalID, &FNPage::parentPageServerID, pageLocalID, serverID,
           [&](const QString &id, const auto &change) { store.editPage(id, change, LocalStore::Stamp::Keep); });
}

void folderGotServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID)
{
    relink(store.state().pages, &FNPage::folderLocalID, &FNPage::folderServerID, folderLocalID, serverID,
           [&](const QString &id, const auto &change) { store.editPage(id, change, LocalStore::Stamp::Keep); });
    relink(store.state().folders, &FNFolder::parentFolderLocalID, &FNFolder::parentFolderServerID, folderLocalID,
           serverID, [&](const QString &id, const auto &change) { store.editFolder(id, change); });
}

} // namespace recordLinks
