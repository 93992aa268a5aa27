#pragma once

#include "json/json_value.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// Everything the fake service remembers, as plain data so tests can seed it or read it directly.
struct FakeServiceState {
    struct User {
        qint64 id = 0;
        QString email; // as registered; compared case-insensitively
        QString password;
        QString name;
        QDateTime createdAt;
    };

    struct Workspace {
        qint64 id = 0;
        QString name;
        qint64 ownerUserId = 0;
        QDateTime createdAt;
    };

    struct Membership {
        qint64 workspaceId = 0;
        qint64 userId = 0;
        QString role; // "owner", "editor", "viewer"
        QDateTime joinedAt;
    };

    struct Session {
        qint64 userId = 0;
        QString deviceLabel;
        QDateTime createdAt;
    };

    struct Folder {
        qint64 id = 0;
        qint64 workspaceId = 0;
        qint64 parentFolderId = 0; // 0 at the top level
        QString name;
        QString icon;
        qint64 position = 0;
        QDateTime createdAt;
        QDateTime updatedAt;
    };

    struct Page {
        qint64 id = 0;
        qint64 workspaceId = 0;
        qint64 parentPageId = 0; // 0 when it sits under no page
        qint64 folderId = 0;     // 0 when in no folder
        QString title;
        QString icon;
        qint64 position = 0;
        QString coverUrl; // empty when it has no cover
        std::optional<qint64> coverOffsetX;
        std::optional<qint64> coverOffsetY;
        qint64 createdByUserId = 0;
        QDateTime createdAt;
        QDateTime updatedAt; // the time it went to the trash while it is there
        QDateTime deletedAt; // valid while the page is in the trash

        bool inTrash() const { return deletedAt.isValid(); }
    };

    struct Block {
        qint64 id = 0;
        qint64 pageId = 0;
        qint64 parentBlockId = 0; // 0 at the top level of its page
        QString type;
        JSONObject content;
        qint64 position = 0;
        QString clientId;    // the id the pushing device gave it, so a repeated push finds it again
        qint64 authorId = 0; // who created it: an "edit-own" share edits only its own blocks
        QDateTime createdAt;
        QDateTime updatedAt;
    };

    // One change to a page or a block, as devices pull it.
    struct SyncEntry {
        qint64 serverTs = 0;
        qint64 workspaceId = 0;
        QString entityType; // "page" or "block"
        qint64 entityId = 0;
        QString op; // "create", "update" or "delete"
        JSONObject payload;
    };

    struct Comment {
        qint64 id = 0;
        qint64 pageId = 0;
        qint64 blockId = 0; // 0 for a comment on the whole page
        qint64 userId = 0;  // 0 for a visitor's comment on a published page
        std::optional<QString> guestName;
        QString body;
        std::optional<qint64> selectionStart;
        std::optional<qint64> selectionLength;
        std::optional<QString> selectionText;
        QDateTime resolvedAt;
        QDateTime createdAt;
    };

    struct Share {
        qint64 id = 0;
        qint64 pageId = 0;
        qint64 userId = 0;
        QString role; // "full", "edit", "edit-own", "suggest", "comment" or "view"
        QDateTime createdAt;
    };

    struct Invite {
        qint64 id = 0;
        qint64 pageId = 0;
        QString email;
        QString role;
        QDateTime createdAt;
        QDateTime acceptedAt;
    };

    struct Suggestion {
        qint64 id = 0;
        qint64 pageId = 0;
        qint64 blockId = 0;
        qint64 userId = 0;
        QString kind;     // "block_create", "block_update", "block_delete" or "title_change"
        QString clientId; // of a proposed new block, as the suggester's device named it
        std::optional<JSONObject> payload;
        QString status = QStringLiteral("pending");
        QDateTime createdAt;
        QDateTime decidedAt;
    };

    struct Publication {
        bool published = false;
        QString slug;
        bool allowComments = false;
        bool includeSubpages = false;
        QString password; // empty when none is set
        qint64 viewCount = 0;
    };

    struct Version {
        qint64 id = 0;
        qint64 pageId = 0;
        qint64 userId = 0;
        QDateTime createdAt;
        JSONObject snapshot; // "title", "icon" and "blocks" as they stood
    };

    struct Database {
        qint64 id = 0;
        qint64 pageId = 0;
        QString name;
        JSONArray columns; // column objects as the client sent them
        QDateTime createdAt;
    };

    struct DatabaseRow {
        qint64 id = 0;
        qint64 databaseId = 0;
        qint64 position = 0;
        JSONObject data;
        qint64 linkedPageId = 0;
        QDateTime createdAt;
        QDateTime updatedAt;
    };

    std::map<qint64, User> users;
    std::map<qint64, Workspace> workspaces;
    std::vector<Membership> memberships; // in joining order
    QHash<QString, Session> sessions;    // by bearer token; one user may hold several
    qint64 nextUserId = 1;
    qint64 nextWorkspaceId = 1;

    std::map<qint64, Folder> folders;
    std::map<qint64, Page> pages;
    std::map<qint64, Block> blocks;
    std::vector<SyncEntry> syncLog; // in server_ts order
    qint64 lastServerTs = 0;
    int syncPageSize = 500; // entries in one pull before the reply is capped
    std::map<qint64, Comment> comments;
    std::map<qint64, Share> shares;
    std::map<qint64, Invite> invites;
    std::map<qint64, Suggestion> suggestions;
    std::map<qint64, Publication> publications; // by page id
    std::map<qint64, Version> versions;
    std::map<qint64, Database> databases;
    std::map<qint64, DatabaseRow> databaseRows;
    QHash<QString, JSONObject> bookmarkPreviews; // by URL; any other URL gets one made from its parts
    QHash<qint64, int> aiRequestsUsed;           // by user
    int aiDailyLimit = 50;
    qint64 nextFolderId = 1;
    qint64 nextPageId = 1;
    qint64 nextBlockId = 1;
    qint64 nextCommentId = 1;
    qint64 nextShareId = 1;
    qint64 nextInviteId = 1;
    qint64 nextSuggestionId = 1;
    qint64 nextVersionId = 1;
    qint64 nextDatabaseId = 1;
    qint64 nextDatabaseRowId = 1;
};
