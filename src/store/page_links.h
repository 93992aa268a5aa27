#pragma once

#include "json/json_value.h"

#include <QString>

class LocalStore;

// A page link ("mention" block) to a page not on the service yet names it by local id, which means
// nothing to the service or to another device; it takes the page's server id once the page has one.
namespace pageLinks {

// The block type and content keys the page link keeps its target under.
inline constexpr char kType[] = "mention";
inline constexpr char kPageIDKey[] = "page_id";
inline constexpr char kPageLocalIDKey[] = "page_local_id";

// A link of a block of `type` naming its page by local id names it by the page's server id instead,
// once the page has one; one look-up. False when the content is left as it is.
bool resolveLink(const LocalStore &store, const QString &type, JSONObject &content);

// The page got its server id: every page link naming it by local id takes that id, and the edit is
// queued to the service like any other of its page's.
void pageGotServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID);

} // namespace pageLinks
