#include "fake-service/fake_share_routes.h"

#include "fake-service/fake_input.h"

#include <memory>

namespace {

const QString SharePath = QStringLiteral("/api/share.php");

} // namespace

void FakeShareRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeShareRoutes> routes(new FakeShareRoutes(service));
    service.route("GET", SharePath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", SharePath, [routes](const FakeService::Call &c) { return routes->invite(c); });
    service.route("DELETE", SharePath, [routes](const FakeService::Call &c) { return routes->remove(c); });
}

QStringList FakeShareRoutes::permissionsOf(const QString &role)
{
    if (role == QLatin1String("full"))
        return {QStringLiteral("view"), QStringLiteral("comment"), QStringLiteral("edit"),
                QStringLiteral("delete"), QStringLiteral("share")};
    if (role == QLatin1String("edit"))
        return {QStringLiteral("view"), QStringLiteral("comment"), QStringLiteral("edit")};
    if (role == QLatin1String("edit-own"))
        return {QStringLiteral("view"), QStringLiteral("comment"), QStringLiteral("edit-own")};
    if (role == QLatin1String("suggest"))
        return {QStringLiteral("view"), QStringLiteral("comment"), QStringLiteral("suggest")};
    if (role == QLatin1String("comment"))
        return {QStringLiteral("view"), QStringLiteral("comment")};
    if (role == QLatin1String("view"))
        return {QStringLiteral("view")};
    return {};
}

FakeShareRoutes::FakeShareRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeShareRoutes::list(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    const qint64 pageId = check.page->id;

    const FakeServiceState &s = m_content.state();
    JSONArray shares;
    for (const auto &entry : s.shares) {
        const auto &share = entry.second;
        const auto user = s.users.find(share.userId);
        if (share.pageId != pageId || user == s.users.end())
            continue;
        shares.emplace_back(JSONObject{{QStringLiteral("id"), share.id},
                                       {QStringLiteral("shared_with_user_id"), share.userId},
                                       {QStringLiteral("email"), user->second.email},
                                       {QStringLiteral("name"), user->second.name},
                                       {QStringLiteral("permissions"), words(share.role)},
                                       {QStringLiteral("role"), share.role},
                                       {QStringLiteral("created_at"), FakeContent::stamp(share.createdAt)}});
    }
    JSONArray invites;
    for (const auto &entry : s.invites) {
        const auto &invite = entry.second;
        if (invite.pageId != pageId)
            continue;
        invites.emplace_back(
            JSONObject{{QStringLiteral("id"), invite.id},
                       {QStringLiteral("email"), invite.email},
                       {QStringLiteral("permissions"), words(invite.role)},
                       {QStringLiteral("role"), invite.role},
                       {QStringLiteral("created_at"), FakeContent::stamp(invite.createdAt)},
                       {QStringLiteral("accepted_at"), FakeContent::stamp(invite.acceptedAt)}});
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("shares"), std::move(shares)},
                                              {QStringLiteral("invites"), std::move(invites)}});
}

HttpResponse FakeShareRoutes::invite(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const QString email = in.string(QStringLiteral("email")).trimmed();
    const QString role = in.string(QStringLiteral("role"));
    in.optArray(QStringLiteral("permissions"));
    if (!in.failed() && !FakeService::looksLikeEmail(email))
        in.fail(QStringLiteral("Please enter a valid e-mail address."));
    if (!in.failed() && permissionsOf(role).isEmpty())
        in.fail(QStringLiteral("Unknown role"));
    if (in.failed())
        return in.failure();

    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Share);
    if (!check.page)
        return check.refusal;

    FakeServiceState &s = m_content.state();
    const QString wanted = email.toCaseFolded();
    const auto sent = [](const char *kind) {
        return FakeService::reply(200,
                                  JSONObject{{QStringLiteral("ok"), true}, {QStringLiteral("kind"), kind}});
    };
    for (const auto &entry : s.users) {
        const auto &user = entry.second;
        if (user.email.toCaseFolded() != wanted)
            continue;
        if (user.id == call.userId)
            return FakeService::error(400, QStringLiteral("You can't share a page with yourself."));
        // Sharing again with someone who has access changes their role.
        for (auto &share : s.shares) {
            if (share.second.pageId == pageId && share.second.userId == user.id) {
                share.second.role = role;
                return sent("shared");
            }
        }
        const qint64 id = s.nextShareId++;
        s.shares[id] = FakeServiceState::Share{id, pageId, user.id, role, FakeContent::now()};
        return sent("shared");
    }

    for (auto &entry : s.invites) {
        if (entry.second.pageId == pageId && entry.second.email.toCaseFolded() == wanted) {
            entry.second.role = role;
            return sent("invite_sent");
        }
    }
    const qint64 id = s.nextInviteId++;
    s.invites[id] = FakeServiceState::Invite{id, pageId, email, role, FakeContent::now(), QDateTime()};
    return sent("invite_sent");
}

HttpResponse FakeShareRoutes::remove(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.queryId(QStringLiteral("page_id"));
    const std::optional<qint64> shareId = in.optQueryId(QStringLiteral("share_id"));
    const std::optional<qint64> inviteId = in.optQueryId(QStringLiteral("invite_id"));
    if (!in.failed() && !shareId && !inviteId)
        in.fail(QStringLiteral("share_id or invite_id is required"));
    if (in.failed())
        return in.failure();
    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Share);
    if (!check.page)
        return check.refusal;

    FakeServiceState &s = m_content.state();
    const auto share = shareId ? s.shares.find(*shareId) : s.shares.end();
    const auto invite = inviteId ? s.invites.find(*inviteId) : s.invites.end();
    if (shareId && (share == s.shares.end() || share->second.pageId != pageId))
        return FakeService::error(404, QStringLiteral("Share not found"));
    if (inviteId && (invite == s.invites.end() || invite->second.pageId != pageId))
        return FakeService::error(404, QStringLiteral("Invitation not found"));
    if (shareId)
        s.shares.erase(share);
    if (inviteId)
        s.invites.erase(invite);
    return FakeContent::ok();
}

JSONArray FakeShareRoutes::words(const QString &role)
{
    JSONArray out;
    for (const QString &w : permissionsOf(role))
        out.emplace_back(w);
    return out;
}
