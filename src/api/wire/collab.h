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
        wire::Field{"id", &CommentDTO::id},
        wire::Field{"page_id", &CommentDTO::page_id},
        wire::Field{"block_id", &CommentDTO::block_id},
        wire::Field{"user_id", &CommentDTO::user_id},
        wire::Field{"user_name", &CommentDTO::user_name},
        wire::Field{"guest_name", &CommentDTO::guest_name},
        wire::Field{"body", &CommentDTO::body},
        wire::Field{"selection_start", &CommentDTO::selection_start},
        wire::Field{"selection_length", &CommentDTO::selection_length},
        wire::Field{"selection_text", &CommentDTO::selection_text},
        wire::Field{"resolved_at", &CommentDTO::resolved_at},
        wire::Field{"created_at", &CommentDTO::created_at},
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
        wire::Field{"page_id", &CommentCreateReq::page_id},
        wire::Field{"block_id", &CommentCreateReq::block_id},
        wire::Field{"body", &CommentCreateReq::body},
        wire::Field{"selection_start", &CommentCreateReq::selection_start},
        wire::Field{"selection_length", &CommentCreateReq::selection_length},
        wire::Field{"selection_text", &CommentCreateReq::selection_text},
    };
};

// Reply of adding a comment.
struct CommentCreateResp {
    CommentDTO comment;

    static constexpr std::tuple kFields{
        wire::Field{"comment", &CommentCreateResp::comment},
    };
};

// Reply listing the comments of one page.
struct CommentsResp {
    std::vector<CommentDTO> comments;

    static constexpr std::tuple kFields{
        wire::Field{"comments", &CommentsResp::comments},
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
        wire::Field{"id", &SuggestionDTO::id},
        wire::Field{"page_id", &SuggestionDTO::page_id},
        wire::Field{"block_id", &SuggestionDTO::block_id},
        wire::Field{"user_id", &SuggestionDTO::user_id},
        wire::Field{"user_name", &SuggestionDTO::user_name},
        wire::Field{"kind", &SuggestionDTO::kind},
        wire::Field{"payload", &SuggestionDTO::payload},
        wire::Field{"status", &SuggestionDTO::status},
        wire::Field{"created_at", &SuggestionDTO::created_at},
        wire::Field{"decided_at", &SuggestionDTO::decided_at},
    };
};

// Reply listing a page's suggestions.
struct SuggestionsResp {
    std::vector<SuggestionDTO> suggestions;

    static constexpr std::tuple kFields{
        wire::Field{"suggestions", &SuggestionsResp::suggestions},
    };
};

// Body of the suggestions panel's accept or reject; `status` is "accepted" or "rejected".
struct SuggestionDecideReq {
    qint64 suggestion_id = 0;
    QString status;

    static constexpr std::tuple kFields{
        wire::Field{"suggestion_id", &SuggestionDecideReq::suggestion_id},
        wire::Field{"status", &SuggestionDecideReq::status},
    };
};

// Body that shares a page with one person by e-mail.
struct ShareReq {
    qint64 page_id = 0;
    QString email;
    QString role;
    std::optional<std::vector<QString>> permissions;

    static constexpr std::tuple kFields{
        wire::Field{"page_id", &ShareReq::page_id},
        wire::Field{"email", &ShareReq::email},
        wire::Field{"role", &ShareReq::role},
        wire::Field{"permissions", &ShareReq::permissions},
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
        wire::Field{"id", &ShareItemDTO::id},
        wire::Field{"shared_with_user_id", &ShareItemDTO::shared_with_user_id},
        wire::Field{"email", &ShareItemDTO::email},
        wire::Field{"name", &ShareItemDTO::name},
        wire::Field{"permissions", &ShareItemDTO::permissions},
        wire::Field{"role", &ShareItemDTO::role},
        wire::Field{"created_at", &ShareItemDTO::created_at},
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
        wire::Field{"id", &ShareInviteDTO::id},
        wire::Field{"email", &ShareInviteDTO::email},
        wire::Field{"permissions", &ShareInviteDTO::permissions},
        wire::Field{"role", &ShareInviteDTO::role},
        wire::Field{"created_at", &ShareInviteDTO::created_at},
        wire::Field{"accepted_at", &ShareInviteDTO::accepted_at},
    };
};

// Reply listing who has access to a page.
struct ShareListResp {
    std::vector<ShareItemDTO> shares;
    std::vector<ShareInviteDTO> invites;

    static constexpr std::tuple kFields{
        wire::Field{"shares", &ShareListResp::shares},
        wire::Field{"invites", &ShareListResp::invites},
    };
};

// Reply of the share sheet's invite by e-mail.
struct ShareInviteResp {
    std::optional<bool> ok;
    std::optional<QString> kind;
    std::optional<QString> error;

    static constexpr std::tuple kFields{
        wire::Field{"ok", &ShareInviteResp::ok},
        wire::Field{"kind", &ShareInviteResp::kind},
        wire::Field{"error", &ShareInviteResp::error},
    };
};

// Body that publishes a page or changes its settings; no `password` keeps the one set.
struct PublishReq {
    qint64 page_id = 0;
    std::optional<QString> password;
    bool allow_comments = false;
    bool include_subpages = false;

    static constexpr std::tuple kFields{
        wire::Field{"page_id", &PublishReq::page_id},
        wire::Field{"password", &PublishReq::password},
        wire::Field{"allow_comments", &PublishReq::allow_comments},
        wire::Field{"include_subpages", &PublishReq::include_subpages},
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
        wire::Field{"published", &PublishResp::published},
        wire::Field{"slug", &PublishResp::slug},
        wire::Field{"url", &PublishResp::url},
        wire::Field{"allow_comments", &PublishResp::allow_comments},
        wire::Field{"include_subpages", &PublishResp::include_subpages},
        wire::Field{"view_count", &PublishResp::view_count},
        wire::Field{"has_password", &PublishResp::has_password},
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
        wire::Field{"id", &VersionDTO::id},
        wire::Field{"page_id", &VersionDTO::page_id},
        wire::Field{"user_id", &VersionDTO::user_id},
        wire::Field{"user_name", &VersionDTO::user_name},
        wire::Field{"created_at", &VersionDTO::created_at},
        wire::Field{"byte_size", &VersionDTO::byte_size},
    };
};

// Reply listing the saved versions of a page.
struct VersionsResp {
    std::vector<VersionDTO> versions;

    static constexpr std::tuple kFields{
        wire::Field{"versions", &VersionsResp::versions},
    };
};

// Body that restores a page to a saved version.
struct VersionRestoreReq {
    qint64 version_id = 0;
    bool restore = true;

    static constexpr std::tuple kFields{
        wire::Field{"version_id", &VersionRestoreReq::version_id},
        wire::Field{"restore", &VersionRestoreReq::restore},
    };
};

// Reply of the version history's restore; any object counts as done.
struct VersionRestoreOK {
    std::optional<bool> ok;

    static constexpr std::tuple kFields{
        wire::Field{"ok", &VersionRestoreOK::ok},
    };
};
