#pragma once

#include "api/cancel_token.h"

#include <QPointer>

#include "api/wire/ai.h"
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/common.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"

#include <QCoroTask>
#include <QString>

// Every call the client makes to the service, one typed function each, so no caller builds a path.
// Each goes through APIClient's request function and fails with its APIError; callers pass the token
// they read just before the call (sign-in and sign-up take none).
class ServiceEndpoints
{
public:
    // A free-text query value: everything but A-Z a-z 0-9 - . _ ~ is percent-encoded as UTF-8,
    // so '&', '=', '+' and '#' arrive as typed instead of splitting or ending the query.
    static QString encodeQueryValue(const QString &text);

    // Accounts
    static QCoro::Task<AuthResp> login(AuthLoginReq body);
    static QCoro::Task<AuthResp> signup(AuthSignupReq body);
    static QCoro::Task<EmptyReply> logout(QString token);

    // Pages, blocks and sync
    static QCoro::Task<PageResp> createPage(QString token, PageCreateReq body, QPointer<CancelToken> cancel = {});
    static QCoro::Task<PageResp> patchPage(QString token, PagePatchReq body, QPointer<CancelToken> cancel = {});
    static QCoro::Task<EmptyReply> deletePage(QString token, qint64 pageId, QPointer<CancelToken> cancel = {});
    static QCoro::Task<BlocksUpsertResp> upsertBlocks(QString token, BlocksUpsertReq body, QPointer<CancelToken> cancel = {});
    static QCoro::Task<EmptyReply> deleteBlock(QString token, qint64 blockId, QPointer<CancelToken> cancel = {});
    static QCoro::Task<SyncResp> sync(QString token, SyncReq body, QPointer<CancelToken> cancel = {});
    static QCoro::Task<BlocksResp> fetchBlocks(QString token, qint64 pageId);
    static QCoro::Task<BookmarkPreviewResp> fetchBookmark(QString token, QString url);

    // Comments
    static QCoro::Task<CommentCreateResp> createComment(QString token, CommentCreateReq body);
    static QCoro::Task<CommentsResp> listComments(QString token, qint64 pageId);

    // Library and trash
    static QCoro::Task<WorkspacesResp> listWorkspaces(QString token);
    static QCoro::Task<FoldersResp> listFolders(QString token, qint64 workspaceId,
                                                QPointer<CancelToken> cancel = {});
    static QCoro::Task<LibraryPagesResp> listPages(QString token, qint64 workspaceId,
                                                   QPointer<CancelToken> cancel = {});
    static QCoro::Task<PageStatusesResp> pageStatuses(QString token, qint64 workspaceId);
    static QCoro::Task<SearchResp> search(QString token, qint64 workspaceId, QString text);
    static QCoro::Task<FolderResp> createFolder(QString token, FolderCreateReq body,
                                                QPointer<CancelToken> cancel = {});
    // Rename, re-icon or re-parent (drop onto another folder).
    static QCoro::Task<EmptyReply> patchFolder(QString token, FolderPatchReq body,
                                               QPointer<CancelToken> cancel = {});
    static QCoro::Task<EmptyReply> movePage(QString token, FolderMovePageReq body,
                                            QPointer<CancelToken> cancel = {});
    static QCoro::Task<EmptyReply> deleteFolder(QString token, qint64 folderId);
    static QCoro::Task<PagesResp> listTrash(QString token, qint64 workspaceId);
    static QCoro::Task<EmptyReply> purgePage(QString token, qint64 pageId);
    // Takes a page out of the trash. Any 2xx reply counts as done; its body is not read.
    static QCoro::Task<void> restorePage(QString token, qint64 pageId);

    // Inline databases
    static QCoro::Task<DatabasesResp> listDatabases(QString token, qint64 pageId);
    static QCoro::Task<DatabaseResp> createDatabase(QString token, DBCreateReq body);
    static QCoro::Task<DBRowResp> createRow(QString token, DBRowCreateReq body);
    static QCoro::Task<EmptyReply> patchRow(QString token, DBRowPatchReq body);

    // Sharing and publishing
    static QCoro::Task<ShareListResp> listShares(QString token, qint64 pageId);
    static QCoro::Task<ShareInviteResp> share(QString token, ShareReq body);
    static QCoro::Task<EmptyReply> removeShare(QString token, qint64 pageId, qint64 shareId);
    static QCoro::Task<EmptyReply> removeInvite(QString token, qint64 pageId, qint64 inviteId);
    static QCoro::Task<PublishResp> getPublish(QString token, qint64 pageId);
    static QCoro::Task<PublishResp> publish(QString token, PublishReq body);
    static QCoro::Task<EmptyReply> unpublish(QString token, qint64 pageId);

    // Suggestions, versions and AI
    static QCoro::Task<SuggestionsResp> listSuggestions(QString token, qint64 pageId);
    static QCoro::Task<EmptyReply> decideSuggestion(QString token, SuggestionDecideReq body);
    static QCoro::Task<VersionsResp> listVersions(QString token, qint64 pageId);
    static QCoro::Task<VersionRestoreOK> restoreVersion(QString token, VersionRestoreReq body);
    static QCoro::Task<AIResp> runAI(QString token, AIReq body);
};
