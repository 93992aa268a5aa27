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

void pageGotServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID)
{
    std::vector<QString> children;
    for (const FNPage &p : store.state().pages) {
        if (p.parentPageLocalID == pageLocalID)
            children.push_back(p.localID);
    }
    for (const QString &child : children) {
        store.editPage(
            child,
            [&](FNPage &p) {
                if (p.parentPageServerID == 0)
                    p.parentPageServerID = serverID;
                p.parentPageLocalID.reset();
            },
            LocalStore::Stamp::Keep);
    }
}

void folderGotServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID)
{
    std::vector<QString> pages;
    for (const FNPage &p : store.state().pages) {
        if (p.folderLocalID == folderLocalID)
            pages.push_back(p.localID);
    }
    for (const QString &page : pages) {
        store.editPage(
            page,
            [&](FNPage &p) {
                if (p.folderServerID == 0)
                    p.folderServerID = serverID;
                p.folderLocalID.reset();
            },
            LocalStore::Stamp::Keep);
    }
    std::vector<QString> folders;
    for (const FNFolder &f : store.state().folders) {
        if (f.parentFolderLocalID == folderLocalID)
            folders.push_back(f.localID);
    }
    for (const QString &folder : folders) {
        store.editFolder(folder, [&](FNFolder &f) {
            if (f.parentFolderServerID == 0)
                f.parentFolderServerID = serverID;
            f.parentFolderLocalID.reset();
        });
    }
}

} // namespace recordLinks
