#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>
#include <vector>

// Wire types of collaboration: comments, suggestions, sharing, publishing and saved versions.

// One comment on a page, optionally on a block and a stretch of its text (UTF-16 offsets).
struct CommentDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    std::optional<qint64> user_id;
    std::optional<QString> user_name;
    std::optional<QString> guest_name;
    QString body;
    std::optional<qint64> selection_start;
    std::optional<qint64> selection_length;
    std::optional<QString> selection_text;
    std::optional<QString> resolved_at;
    QString created_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &CommentDTO::id},
        json::Field{"page_id", &CommentDTO::page_id},
        json::Field{"block_id", &CommentDTO::block_id},
        json::Field{"user_id", &CommentDTO::user_id},
        json::Field{"user_name", &CommentDTO::user_name},
        json::Field{"guest_name", &CommentDTO::guest_name},
        json::Field{"body", &CommentDTO::body},
        json::Field{"selection_start", &CommentDTO::selection_start},
        json::Field{"selection_length", &CommentDTO::selection_length},
        json::Field{"selection_text", &CommentDTO::selection_text},
        json::Field{"resolved_at", &CommentDTO::resolved_at},
        json::Field{"created_at", &CommentDTO::created_at},
    };
};

// Body that adds one comment.
struct CommentCreateReq {
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    QString body;
    std::optional<qint64> selection_start;
    std::optional<qint64> selection_length;
    std::optional<QString> selection_text;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &CommentCreateReq::page_id},
        json::Field{"block_id", &CommentCreateReq::block_id},
        json::Field{"body", &CommentCreateReq::body},
        json::Field{"selection_start", &CommentCreateReq::selection_start},
        json::Field{"selection_length", &CommentCreateReq::selection_length},
        json::Field{"selection_text", &CommentCreateReq::selection_text},
    };
};

// Reply of adding a comment.
struct CommentCreateResp {
    CommentDTO comment;

    static constexpr std::tuple kFields{
        json::Field{"comment", &CommentCreateResp::comment},
    };
};

// Reply listing the comments of one page.
struct CommentsResp {
    std::vector<CommentDTO> comments;

    static constexpr std::tuple kFields{
        json::Field{"comments", &CommentsResp::comments},
    };
};

// One suggested edit, as the suggestions panel lists it.
struct SuggestionDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    qint64 user_id = 0;
    std::optional<QString> user_name;
    QString kind;
    std::optional<JSONObject> payload;
    QString status;
    QString created_at;
    std::optional<QString> decided_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &SuggestionDTO::id},
        json::Field{"page_id", &SuggestionDTO::page_id},
        json::Field{"block_id", &SuggestionDTO::block_id},
        json::Field{"user_id", &SuggestionDTO::user_id},
        json::Field{"user_name", &SuggestionDTO::user_name},
        json::Field{"kind", &SuggestionDTO::kind},
        json::Field{"payload", &SuggestionDTO::payload},
        json::Field{"status", &SuggestionDTO::status},
        json::Field{"created_at", &SuggestionDTO::created_at},
        json::Field{"decided_at", &SuggestionDTO::decided_at},
    };
};

// Reply listing a page's suggestions.
struct SuggestionsResp {
    std::vector<SuggestionDTO> suggestions;

    static constexpr std::tuple kFields{
        json::Field{"suggestions", &SuggestionsResp::suggestions},
    };
};

// Body of the suggestions panel's accept or reject; `status` is "accepted" or "rejected".
struct SuggestionDecideReq {
    qint64 suggestion_id = 0;
    QString status;

    static constexpr std::tuple kFields{
        json::Field{"suggestion_id", &SuggestionDecideReq::suggestion_id},
        json::Field{"status", &SuggestionDecideReq::status},
    };
};

// Body that shares a page with one person by e-mail.
struct ShareReq {
    qint64 page_id = 0;
    QString email;
    QString role;
    std::optional<std::vector<QString>> permissions;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &ShareReq::page_id},
        json::Field{"email", &ShareReq::email},
        json::Field{"role", &ShareReq::role},
        json::Field{"permissions", &ShareReq::permissions},
    };
};

// One person who has access to a page.
struct ShareItemDTO {
    qint64 id = 0;
    qint64 shared_with_user_id = 0;
    QString email;
    QString name;
    std::vector<QString> permissions;
    std::optional<QString> role;
    QString created_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &ShareItemDTO::id},
        json::Field{"shared_with_user_id", &ShareItemDTO::shared_with_user_id},
        json::Field{"email", &ShareItemDTO::email},
        json::Field{"name", &ShareItemDTO::name},
        json::Field{"permissions", &ShareItemDTO::permissions},
        json::Field{"role", &ShareItemDTO::role},
        json::Field{"created_at", &ShareItemDTO::created_at},
    };
};

// One pending invitation to an address without access yet.
struct ShareInviteDTO {
    qint64 id = 0;
    QString email;
    std::vector<QString> permissions;
    std::optional<QString> role;
    QString created_at;
    std::optional<QString> accepted_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &ShareInviteDTO::id},
        json::Field{"email", &ShareInviteDTO::email},
        json::Field{"permissions", &ShareInviteDTO::permissions},
        json::Field{"role", &ShareInviteDTO::role},
        json::Field{"created_at", &ShareInviteDTO::created_at},
        json::Field{"accepted_at", &ShareInviteDTO::accepted_at},
    };
};

// Reply listing who has access to a page.
struct ShareListResp {
    std::vector<ShareItemDTO> shares;
    std::vector<ShareInviteDTO> invites;

    static constexpr std::tuple kFields{
        json::Field{"shares", &ShareListResp::shares},
        json::Field{"invites", &ShareListResp::invites},
    };
};

// Reply of the share sheet's invite by e-mail.
struct ShareInviteResp {
    std::optional<bool> ok;
    std::optional<QString> kind;
    std::optional<QString> error;

    static constexpr std::tuple kFields{
        json::Field{"ok", &ShareInviteResp::ok},
        json::Field{"kind", &ShareInviteResp::kind},
        json::Field{"error", &ShareInviteResp::error},
    };
};

// Body that publishes a page or changes its settings; no `password` keeps the one set.
struct PublishReq {
    qint64 page_id = 0;
    std::optional<QString> password;
    bool allow_comments = false;
    bool include_subpages = false;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &PublishReq::page_id},
        json::Field{"password", &PublishReq::password},
        json::Field{"allow_comments", &PublishReq::allow_comments},
        json::Field{"include_subpages", &PublishReq::include_subpages},
    };
};

// The publication state of a page. The settings come back as integer flags, not booleans.
struct PublishResp {
    bool published = false;
    std::optional<QString> slug;
    std::optional<QString> url;
    std::optional<qint64> allow_comments;
    std::optional<qint64> include_subpages;
    std::optional<qint64> view_count;
    std::optional<bool> has_password;

    static constexpr std::tuple kFields{
        json::Field{"published", &PublishResp::published},
        json::Field{"slug", &PublishResp::slug},
        json::Field{"url", &PublishResp::url},
        json::Field{"allow_comments", &PublishResp::allow_comments},
        json::Field{"include_subpages", &PublishResp::include_subpages},
        json::Field{"view_count", &PublishResp::view_count},
        json::Field{"has_password", &PublishResp::has_password},
    };

    // Only the flag value 1 means on; absence means off, no views, no password.
    bool commentsAllowed() const { return allow_comments == 1; }
    bool subpagesIncluded() const { return include_subpages == 1; }
    qint64 views() const { return view_count.value_or(0); }
    bool passwordSet() const { return has_password.value_or(false); }
};

// One saved snapshot of a page.
struct VersionDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> user_id;
    std::optional<QString> user_name;
    QString created_at;
    std::optional<qint64> byte_size;

    static constexpr std::tuple kFields{
        json::Field{"id", &VersionDTO::id},
        json::Field{"page_id", &VersionDTO::page_id},
        json::Field{"user_id", &VersionDTO::user_id},
        json::Field{"user_name", &VersionDTO::user_name},
        json::Field{"created_at", &VersionDTO::created_at},
        json::Field{"byte_size", &VersionDTO::byte_size},
    };
};

// Reply listing the saved versions of a page.
struct VersionsResp {
    std::vector<VersionDTO> versions;

    static constexpr std::tuple kFields{
        json::Field{"versions", &VersionsResp::versions},
    };
};

// Body that restores a page to a saved version.
struct VersionRestoreReq {
    qint64 version_id = 0;
    bool restore = true;

    static constexpr std::tuple kFields{
        json::Field{"version_id", &VersionRestoreReq::version_id},
        json::Field{"restore", &VersionRestoreReq::restore},
    };
};

// Reply of the version history's restore; any object counts as done.
struct VersionRestoreOK {
    std::optional<bool> ok;

    static constexpr std::tuple kFields{
        json::Field{"ok", &VersionRestoreOK::ok},
    };
};
