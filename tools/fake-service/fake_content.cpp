#include "fake-service/fake_content.h"

#include "fake-service/fake_input.h"

#include <QSet>

#include <algorithm>

namespace {

int rank(FakeContent::Need need)
{
    return int(need);
}

// The most a share role lets its holder do.
FakeContent::Need shareCeiling(const QString &role)
{
    if (role == QLatin1String("full"))
        return FakeContent::Need::Share;
    if (role == QLatin1String("edit") || role == QLatin1String("edit-own"))
        return FakeContent::Need::Edit;
    if (role == QLatin1String("suggest") || role == QLatin1String("comment"))
        return FakeContent::Need::Comment;
    return FakeContent::Need::View;
}

QString refusalText(FakeContent::Need need)
{
    switch (need) {
    case FakeContent::Need::View:
        return QStringLiteral("You don't have access to this page.");
    case FakeContent::Need::Comment:
        return QStringLiteral("You can't comment on this page.");
    case FakeContent::Need::Edit:
        return QStringLiteral("You can't edit this page.");
    case FakeContent::Need::Delete:
        return QStringLiteral("You can't delete this page.");
    case FakeContent::Need::Share:
        return QStringLiteral("You can't share or publish this page.");
    }
    return QString();
}

} // namespace

FakeContent::FakeContent(FakeService &service)
    : m_service(service)
{
}

QString FakeContent::memberRole(qint64 userId, qint64 workspaceId) const
{
    for (const auto &m : m_service.state().memberships) {
        if (m.userId == userId && m.workspaceId == workspaceId)
            return m.role;
    }
    return QString();
}

std::optional<HttpResponse> FakeContent::refuseWorkspace(qint64 userId, qint64 workspaceId, bool change) const
{
    if (m_service.state().workspaces.count(workspaceId) == 0)
        return FakeService::error(404, QStringLiteral("Workspace not found"));
    const QString role = memberRole(userId, workspaceId);
    if (role.isEmpty())
        return FakeService::error(403, QStringLiteral("You are not a member of this workspace."));
    if (change && role == QLatin1String("viewer"))
        return FakeService::error(403, QStringLiteral("Viewers can't change this workspace."));
    return std::nullopt;
}

bool FakeContent::can(qint64 userId, const Page &page, Need need) const
{
    const QString role = memberRole(userId, page.workspaceId);
    if (!role.isEmpty())
        return role != QLatin1String("viewer") || rank(need) <= rank(Need::Comment);
    for (const auto &entry : m_service.state().shares) {
        const auto &share = entry.second;
        if (share.pageId == page.id && share.userId == userId)
            return rank(need) <= rank(shareCeiling(share.role));
    }
    return false;
}

bool FakeContent::editsOwnOnly(qint64 userId, const Page &page) const
{
    if (!memberRole(userId, page.workspaceId).isEmpty())
        return false;
    for (const auto &entry : m_service.state().shares) {
        const auto &share = entry.second;
        if (share.pageId == page.id && share.userId == userId)
            return share.role == QLatin1String("edit-own");
    }
    return false;
}

std::optional<HttpResponse> FakeContent::ownBlocksOnly(qint64 userId, const Page &page,
                                                       const std::vector<BlockInput> &items) const
{
    if (!editsOwnOnly(userId, page))
        return std::nullopt;
    // An item that names another person's block must leave it exactly as it is.
    for (const BlockInput &item : items) {
        for (const auto &entry : m_service.state().blocks) {
            const Block &b = entry.second;
            if (b.pageId != page.id || b.authorId == userId)
                continue;
            const bool names =
                item.id == b.id || (item.id == 0 && !item.clientId.isEmpty() && item.clientId == b.clientId);
            if (names && (item.type != b.type || item.content != b.content || item.position != b.position ||
                          item.parentBlockId != b.parentBlockId))
                return FakeService::error(403, QStringLiteral("You can only edit blocks you created."));
        }
    }
    return std::nullopt;
}

FakeContent::PageCheck FakeContent::checkPage(qint64 userId, qint64 pageId, Need need, Where where)
{
    PageCheck check;
    const auto it = state().pages.find(pageId);
    if (it == state().pages.end()) {
        check.refusal = FakeService::error(404, QStringLiteral("Page not found"));
        return check;
    }
    Page &page = it->second;
    // Strangers learn nothing about the page, not even whether it is in the trash.
    if (!can(userId, page, Need::View)) {
        check.refusal = FakeService::error(403, refusalText(Need::View));
        return check;
    }
    if (where == Where::Live && page.inTrash()) {
        check.refusal = FakeService::error(404, QStringLiteral("Page not found"));
        return check;
    }
    if (where == Where::Trash && !page.inTrash()) {
        check.refusal = FakeService::error(404, QStringLiteral("Page is not in the trash"));
        return check;
    }
    if (!can(userId, page, need)) {
        check.refusal = FakeService::error(403, refusalText(need));
        return check;
    }
    check.page = &page;
    return check;
}

FakeContent::PageCheck FakeContent::checkQueryPage(const FakeService::Call &call, Need need)
{
    FakeInput in(call);
    const qint64 pageId = in.queryId(QStringLiteral("page_id"));
    if (in.failed())
        return PageCheck{nullptr, in.failure()};
    return checkPage(call.userId, pageId, need);
}

bool FakeContent::folderIn(qint64 folderId, qint64 workspaceId) const
{
    const auto it = state().folders.find(folderId);
    return it != state().folders.end() && it->second.workspaceId == workspaceId;
}

void FakeContent::logPage(const Page &page, const QString &op)
{
    FakeServiceState &s = state();
    s.lastServerTs = std::max(s.lastServerTs + 1, QDateTime::currentMSecsSinceEpoch());
    JSONObject payload =
        op == QLatin1String("delete")
            ? JSONObject{{QStringLiteral("id"), page.id}, {QStringLiteral("workspace_id"), page.workspaceId}}
            : pageJson(page);
    s.syncLog.push_back({s.lastServerTs, page.workspaceId, QStringLiteral("page"), page.id, op, payload});
}

void FakeContent::logBlock(const Block &block, qint64 workspaceId, const QString &op)
{
    FakeServiceState &s = state();
    s.lastServerTs = std::max(s.lastServerTs + 1, QDateTime::currentMSecsSinceEpoch());
    JSONObject payload = op == QLatin1String("delete") ? JSONObject{{QStringLiteral("id"), block.id},
                                                                    {QStringLiteral("page_id"), block.pageId}}
                                                       : blockJson(block);
    // The service echoes the sender's id, so the sender can tie the entry to its own block.
    if (op != QLatin1String("delete"))
        payload[QStringLiteral("client_id")] =
            block.clientId.isEmpty() ? JSONValue() : JSONValue(block.clientId);
    s.syncLog.push_back({s.lastServerTs, workspaceId, QStringLiteral("block"), block.id, op, payload});
}

std::vector<qint64> FakeContent::replaceBlocks(const Page &page, const std::vector<BlockInput> &items,
                                               qint64 authorId)
{
    return storeBlocks(page, items, authorId, Rest::Delete);
}

std::vector<qint64> FakeContent::upsertBlocks(const Page &page, const std::vector<BlockInput> &items,
                                              qint64 authorId)
{
    return storeBlocks(page, items, authorId, Rest::Keep);
}

std::vector<qint64> FakeContent::storeBlocks(const Page &page, const std::vector<BlockInput> &items,
                                             qint64 authorId, Rest rest)
{
    FakeServiceState &s = state();
    QSet<qint64> unclaimed;
    for (const Block *b : blocksOf(page.id))
        unclaimed.insert(b->id);

    // First settle every item's id, so parents can point at blocks made in the same batch.
    std::vector<qint64> ids;
    std::vector<bool> fresh;
    QHash<qint64, qint64> renamed; // an id the sender knew -> the id it has now
    for (const BlockInput &item : items) {
        qint64 id = 0;
        if (item.id != 0 && unclaimed.contains(item.id)) {
            id = item.id;
        } else if (!item.clientId.isEmpty()) {
            for (const qint64 candidate : std::as_const(unclaimed)) {
                if (s.blocks.at(candidate).clientId == item.clientId) {
                    id = candidate;
                    break;
                }
            }
        }
        fresh.push_back(id == 0);
        if (id == 0)
            id = s.nextBlockId++;
        unclaimed.remove(id);
        if (item.id != 0)
            renamed.insert(item.id, id);
        ids.push_back(id);
    }

    QSet<qint64> kept(ids.begin(), ids.end());
    for (const Block *other : blocksOf(page.id)) {
        if (!unclaimed.contains(other->id))
            continue;
        if (rest == Rest::Keep) {
            kept.insert(other->id);
            continue;
        }
        const Block copy = *other;
        s.blocks.erase(copy.id);
        logBlock(copy, page.workspaceId, QStringLiteral("delete"));
    }

    const QDateTime t = now();
    for (size_t i = 0; i < items.size(); ++i) {
        const BlockInput &item = items[i];
        qint64 parent = renamed.value(item.parentBlockId, item.parentBlockId);
        // A parent outside the page's blocks would dangle; the block moves to the top level.
        if (!kept.contains(parent) || parent == ids[i])
            parent = 0;
        Block next = fresh[i] ? Block{} : s.blocks.at(ids[i]);
        const Block before = next;
        next.id = ids[i];
        next.pageId = page.id;
        next.parentBlockId = parent;
        next.type = item.type;
        next.content = item.content;
        next.position = item.position;
        if (!item.clientId.isEmpty())
            next.clientId = item.clientId;
        if (fresh[i]) {
            next.createdAt = t;
            next.authorId = authorId;
        }
        const bool changed = fresh[i] || before.type != next.type || before.content != next.content ||
                             before.position != next.position || before.parentBlockId != next.parentBlockId;
        if (changed)
            next.updatedAt = t;
        s.blocks[next.id] = next;
        if (changed)
            logBlock(next, page.workspaceId, fresh[i] ? QStringLiteral("create") : QStringLiteral("update"));
    }
    return ids;
}

void FakeContent::deleteBlock(qint64 blockId)
{
    FakeServiceState &s = state();
    const auto it = s.blocks.find(blockId);
    if (it == s.blocks.end())
        return;
    const Block block = it->second;
    s.blocks.erase(it);
    const auto page = s.pages.find(block.pageId);
    logBlock(block, page == s.pages.end() ? 0 : page->second.workspaceId, QStringLiteral("delete"));
    // Erased before its children, so even a parent loop ends.
    std::vector<qint64> children;
    for (const auto &entry : s.blocks) {
        if (entry.second.parentBlockId == blockId)
            children.push_back(entry.first);
    }
    for (const qint64 child : children)
        deleteBlock(child);
}

void FakeContent::recordVersion(const Page &page, qint64 userId)
{
    FakeServiceState &s = state();
    const JSONObject snap = snapshot(page);
    for (auto it = s.versions.rbegin(); it != s.versions.rend(); ++it) {
        if (it->second.pageId == page.id) {
            if (it->second.snapshot == snap)
                return;
            break;
        }
    }
    const qint64 id = s.nextVersionId++;
    s.versions[id] = FakeServiceState::Version{id, page.id, userId, now(), snap};
}

void FakeContent::purgePage(qint64 pageId)
{
    FakeServiceState &s = state();
    const auto it = s.pages.find(pageId);
    if (it == s.pages.end())
        return;
    const Page page = it->second;
    s.pages.erase(it);

    const auto eraseIf = [](auto &map, auto pred) {
        for (auto i = map.begin(); i != map.end();) {
            if (pred(i->second))
                i = map.erase(i);
            else
                ++i;
        }
    };
    const auto onPage = [pageId](const auto &record) { return record.pageId == pageId; };
    eraseIf(s.blocks, onPage);
    eraseIf(s.comments, onPage);
    eraseIf(s.shares, onPage);
    eraseIf(s.invites, onPage);
    eraseIf(s.suggestions, onPage);
    eraseIf(s.versions, onPage);
    QSet<qint64> databases;
    for (const auto &entry : s.databases) {
        if (entry.second.pageId == pageId)
            databases.insert(entry.first);
    }
    eraseIf(s.databases, onPage);
    eraseIf(s.databaseRows, [&](const auto &row) { return databases.contains(row.databaseId); });
    s.publications.erase(pageId);
    logPage(page, QStringLiteral("delete"));

    // Subpages stay, one level up; every device needs to hear that they moved.
    for (auto &entry : s.pages) {
        Page &child = entry.second;
        if (child.parentPageId == pageId) {
            child.parentPageId = 0;
            child.updatedAt = now();
            logPage(child, QStringLiteral("update"));
        }
    }
}

std::vector<const FakeContent::Block *> FakeContent::blocksOf(qint64 pageId) const
{
    std::vector<const Block *> found;
    for (const auto &entry : m_service.state().blocks) {
        if (entry.second.pageId == pageId)
            found.push_back(&entry.second);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Block *a, const Block *b) { return a->position < b->position; });
    return found;
}

QString FakeContent::pageText(const Page &page) const
{
    QStringList lines{page.title};
    for (const Block *b : blocksOf(page.id)) {
        const QString text = blockText(*b);
        if (!text.isEmpty())
            lines.append(text);
    }
    return lines.join(QLatin1Char('\n'));
}

QString FakeContent::blockText(const Block &block)
{
    const auto it = block.content.find(QStringLiteral("text"));
    return it != block.content.end() && it->second.isString() ? it->second.toString() : QString();
}

JSONObject FakeContent::pageJson(const Page &page)
{
    // Written as the service writes a table row: every column, null where it is empty, so a device
    // pulling it learns that a cover or a folder went away.
    JSONObject o;
    o[QStringLiteral("id")] = page.id;
    o[QStringLiteral("workspace_id")] = page.workspaceId;
    o[QStringLiteral("parent_page_id")] = idOrNull(page.parentPageId);
    o[QStringLiteral("folder_id")] = idOrNull(page.folderId);
    o[QStringLiteral("title")] = page.title;
    o[QStringLiteral("icon")] = page.icon;
    o[QStringLiteral("position")] = page.position;
    o[QStringLiteral("cover_url")] = page.coverUrl.isEmpty() ? JSONValue() : JSONValue(page.coverUrl);
    o[QStringLiteral("cover_offset_x")] = orNull(page.coverOffsetX);
    o[QStringLiteral("cover_offset_y")] = orNull(page.coverOffsetY);
    o[QStringLiteral("created_by_user_id")] = idOrNull(page.createdByUserId);
    o[QStringLiteral("created_at")] = stamp(page.createdAt);
    o[QStringLiteral("updated_at")] = stamp(page.updatedAt);
    return o;
}

JSONObject FakeContent::blockJson(const Block &block)
{
    JSONObject o;
    o[QStringLiteral("id")] = block.id;
    o[QStringLiteral("page_id")] = block.pageId;
    // The sender's own id for the block, so its device can tie the record to its local copy.
    if (!block.clientId.isEmpty())
        o[QStringLiteral("client_id")] = block.clientId;
    o[QStringLiteral("parent_block_id")] = idOrNull(block.parentBlockId);
    o[QStringLiteral("type")] = block.type;
    o[QStringLiteral("content")] = block.content;
    o[QStringLiteral("position")] = block.position;
    o[QStringLiteral("created_at")] = stamp(block.createdAt);
    o[QStringLiteral("updated_at")] = stamp(block.updatedAt);
    return o;
}

JSONObject FakeContent::folderJson(const Folder &folder)
{
    JSONObject o;
    o[QStringLiteral("id")] = folder.id;
    o[QStringLiteral("workspace_id")] = folder.workspaceId;
    o[QStringLiteral("parent_folder_id")] = idOrNull(folder.parentFolderId);
    o[QStringLiteral("name")] = folder.name;
    o[QStringLiteral("icon")] = folder.icon;
    o[QStringLiteral("position")] = folder.position;
    o[QStringLiteral("created_at")] = stamp(folder.createdAt);
    o[QStringLiteral("updated_at")] = stamp(folder.updatedAt);
    return o;
}

JSONValue FakeContent::stamp(const QDateTime &when)
{
    return when.isValid() ? JSONValue(FakeService::timestamp(when)) : JSONValue();
}

JSONValue FakeContent::idOrNull(qint64 id)
{
    return id != 0 ? JSONValue(id) : JSONValue();
}

JSONValue FakeContent::userName(qint64 userId) const
{
    const auto &users = state().users;
    const auto user = users.find(userId);
    return user != users.end() ? JSONValue(user->second.name) : JSONValue();
}

QDateTime FakeContent::now()
{
    return FakeService::now();
}

HttpResponse FakeContent::ok()
{
    return FakeService::reply(200, JSONObject{{QStringLiteral("ok"), true}});
}

JSONObject FakeContent::snapshot(const Page &page) const
{
    JSONArray blocks;
    for (const Block *b : blocksOf(page.id)) {
        JSONObject o = blockJson(*b);
        o.erase(QStringLiteral("created_at"));
        o.erase(QStringLiteral("updated_at"));
        blocks.emplace_back(std::move(o));
    }
    return JSONObject{{QStringLiteral("title"), page.title},
                      {QStringLiteral("icon"), page.icon},
                      {QStringLiteral("blocks"), std::move(blocks)}};
}
