#include "store/page_links.h"

#include "json/json_error.h"
#include "json/json_value.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QSet>

#include <utility>
#include <vector>

namespace pageLinks {

namespace {

// The content with the link resolved to `serverID`; none when it does not link to `pageLocalID` by
// local id.
std::optional<QString> resolved(const QString &contentJSON, const QString &pageLocalID, qint64 serverID)
{
    JSONObject content;
    try {
        content = parseJSONObject(contentJSON.toUtf8());
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    const auto id = content.find(QString::fromLatin1(kPageIDKey));
    if (id != content.end() && id->second.isInt() && id->second.toInt() != 0)
        return std::nullopt;
    const auto local = content.find(QString::fromLatin1(kPageLocalIDKey));
    if (local == content.end() || !local->second.isString() || local->second.toString() != pageLocalID)
        return std::nullopt;
    content.erase(local);
    content[QString::fromLatin1(kPageIDKey)] = serverID;
    try {
        return QString::fromUtf8(serializeJSONObject(content));
    } catch (const EncodeError &) {
        return std::nullopt;
    }
}

} // namespace

bool resolveLink(const LocalStore &store, const QString &type, JSONObject &content)
{
    if (type != QLatin1String(kType))
        return false;
    const auto local = content.find(QString::fromLatin1(kPageLocalIDKey));
    if (local == content.end() || !local->second.isString())
        return false;
    const auto id = content.find(QString::fromLatin1(kPageIDKey));
    if (id != content.end() && id->second.isInt() && id->second.toInt() != 0)
        return false;
    const FNPage *page = store.page(local->second.toString());
    if (!page || page->serverID == 0)
        return false;
    const qint64 serverID = page->serverID;
    content.erase(local);
    content[QString::fromLatin1(kPageIDKey)] = serverID;
    return true;
}

void pageGotServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID)
{
    if (pageLocalID.isEmpty() || serverID == 0)
        return;
    // Once per page that reaches the service, never per keystroke; the type is compared first so
    // a long data set costs one pass of short compares.
    const QString type = QString::fromLatin1(kType);
    std::vector<std::pair<QString, QString>> links; // block local id, its new content
    for (const FNBlock &block : store.state().blocks) {
        if (block.deletedAt || block.type != type || !block.contentJSON.contains(pageLocalID))
            continue;
        if (auto content = resolved(block.contentJSON, pageLocalID, serverID))
            links.emplace_back(block.localID, std::move(*content));
    }
    if (links.empty())
        return;
    Outbox &outbox = Outbox::of(store);
    QSet<QString> pages;
    for (const auto &[blockLocalID, content] : links) {
        const FNBlock *block = store.block(blockLocalID);
        if (!block)
            continue;
        const QString page = block->pageLocalID;
        store.editBlock(blockLocalID, [&](FNBlock &b) { b.contentJSON = content; });
        outbox.blockEdited(page, blockLocalID, BlockFields::Content);
        pages.insert(page);
    }
    // A page not on the service yet sends its blocks, these with them, once it gets its id.
    for (const QString &page : std::as_const(pages))
        outbox.pageBlocksUpsert(page);
}

} // namespace pageLinks
