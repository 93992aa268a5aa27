#include "store/outbox.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "platform/utf8.h"
#include "store/local_store.h"

namespace {

const QString kPage = QStringLiteral("page");
const QString kBlock = QStringLiteral("block");
const QString kFolder = QStringLiteral("folder");
const QString kEmptyObject = QStringLiteral("{}");

std::optional<QString> encodeBytes(const auto &encode)
{
    try {
        return decodeUtf8Strict(encode());
    } catch (const EncodeError &) {
        return std::nullopt;
    }
}

template <typename T>
std::optional<QString> encode(const T &value)
{
    return encodeBytes([&] { return sharedJSONEncode(value); });
}

} // namespace

Outbox::Outbox(LocalStore &store)
    : QObject(&store)
    , m_store(store)
{
}

Outbox &Outbox::of(LocalStore &store)
{
    if (auto *existing = store.findChild<Outbox *>(QString(), Qt::FindDirectChildrenOnly))
        return *existing;
    return *new Outbox(store);
}

FNSyncOp Outbox::append(const QString &entity, const QString &op, const QString &refLocalID,
                        const QString &payload, const QDateTime &createdAt)
{
    FNSyncOp operation;
    operation.entity = entity;
    operation.op = op;
    operation.refLocalID = refLocalID;
    operation.payloadJSON = payload;
    operation.createdAt = createdAt;
    m_store.changeOutsideRecords([&](StoreState &s) { s.outbox.push_back(operation); });
    m_store.scheduleSave();
    Q_EMIT queued(operation);
    return operation;
}

std::optional<FNSyncOp> Outbox::pageCreate(const QString &pageLocalID, const PageCreateReq &req)
{
    return append(kPage, QStringLiteral("create"), pageLocalID, encode(req).value_or(kEmptyObject));
}

std::optional<FNSyncOp> Outbox::pageUpdate(const QString &pageLocalID, const PagePatchReq &req,
                                           Unencodable ifUnencodable, const QDateTime &createdAt)
{
    auto payload = encode(req);
    if (!payload && ifUnencodable == Unencodable::QueueNothing)
        return std::nullopt;
    return append(kPage, QStringLiteral("update"), pageLocalID, payload.value_or(kEmptyObject), createdAt);
}

std::optional<FNSyncOp> Outbox::pageDelete(const QString &pageLocalID, qint64 pageServerID)
{
    JsonWriter w;
    w.startObject();
    w.field("page_id", pageServerID);
    w.endObject();
    return append(kPage, QStringLiteral("delete"), pageLocalID, QString::fromUtf8(w.bytes()));
}

std::optional<FNSyncOp> Outbox::pageMove(const QString &pageLocalID, const FolderMovePageReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kPage, QStringLiteral("move"), pageLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::blocksUpsert(const QString &pageLocalID, const BlocksUpsertReq &req,
                                             const QDateTime &createdAt)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kBlock, QStringLiteral("upsert"), pageLocalID, *payload, createdAt);
}

std::optional<FNSyncOp> Outbox::blockDelete(const QString &blockLocalID, qint64 blockServerID)
{
    const JSONObject body{{QStringLiteral("block_id"), blockServerID}};
    const auto payload = encodeBytes([&] { return serializeJSONObject(body); });
    return append(kBlock, QStringLiteral("delete"), blockLocalID, payload.value_or(kEmptyObject));
}

std::optional<FNSyncOp> Outbox::folderCreate(const QString &folderLocalID, const FolderCreateReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kFolder, QStringLiteral("create"), folderLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::folderUpdate(const QString &folderLocalID, const FolderPatchReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kFolder, QStringLiteral("update"), folderLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::folderCreate(const FNFolder &folder)
{
    return folderCreate(folder.localID, folderCreateReq(folder));
}

std::optional<FNSyncOp> Outbox::folderUpdate(const FNFolder &folder, FolderPatchReq patch)
{
    patch.folder_id = folder.serverID;
    return folderUpdate(folder.localID, patch);
}

std::optional<FNSyncOp> Outbox::pageMove(const FNPage &page, qint64 folderServerID)
{
    FolderMovePageReq req;
    req.page_id = page.serverID;
    if (folderServerID != 0)
        req.folder_id = folderServerID;
    return pageMove(page.localID, req);
}
