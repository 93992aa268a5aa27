#pragma once

#include <QString>

#include <optional>

class LocalStore;

// A record made under a parent that is not on the service yet links to it by local id, in the
// record and in the payloads of its queued operations; the parent's server id is read when an
// operation is sent, and written into the records once the parent has one.

namespace recordLinks {

// Payload keys naming a parent by local id; the service never sees them.
inline constexpr const char *kParentPageKey = "parent_page_local_id";
inline constexpr const char *kFolderKey = "folder_local_id";
inline constexpr const char *kParentFolderKey = "parent_folder_local_id";

// `payload` (a JSON object) with `key` naming `localID`; `payload` itself when it is no object.
QString withLink(const QString &payload, const char *key, const QString &localID);
// The local id the payload names under `key`; none when it names none.
std::optional<QString> link(const QString &payload, const char *key);

// The server id of the page or folder the payload names under `key`: none when it names none, 0
// while that record is not on the service, and none when the record is gone (nothing to wait for).
std::optional<qint64> linkedPageServerID(const LocalStore &store, const QString &payload, const char *key);
std::optional<qint64> linkedFolderServerID(const LocalStore &store, const QString &payload, const char *key);

// The parent got its server id: the records linked to it by local id take it as their link.
void pageGotServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID);
void folderGotServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID);

} // namespace recordLinks
