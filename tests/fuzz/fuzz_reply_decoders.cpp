#include "api/api_error.h"
#include "api/wire/ai.h"
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "collab/error_message.h"
#include "json/json_coder.h"
#include "store/page_template.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

// Every reply decoder, through sharedJSONDecode as the client calls it: a reply is read or refused
// with DecodeError, and what is read writes back as text the same decoder reads.
namespace {

[[noreturn]] void finding(const char *type, const char *what, const QString &detail)
{
    std::fprintf(stderr, "finding: %s: %s: %s\n", type, what, qPrintable(detail));
    std::abort();
}

template <typename T>
void decode(const QByteArray &bytes, const char *type)
{
    std::optional<T> value;
    try {
        value = sharedJSONDecode<T>(bytes);
    } catch (const DecodeError &) {
        return;
    }
    QByteArray written;
    try {
        written = sharedJSONEncode(*value);
    } catch (const EncodeError &e) {
        finding(type, "read but cannot be written", e.message());
    }
    try {
        sharedJSONDecode<T>(written);
    } catch (const DecodeError &e) {
        finding(type, "written text does not read",
                e.message() + QStringLiteral(" in ") + QString::fromUtf8(written));
    }
}

} // namespace

#define DECODE(T) decode<T>(bytes, #T)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    DECODE(AuthResp);
    DECODE(WorkspacesResp);
    DECODE(LibraryPagesResp);
    DECODE(PagesResp);
    DECODE(PageStatusesResp);
    DECODE(SearchResp);
    DECODE(FolderResp);
    DECODE(FoldersResp);
    DECODE(PageResp);
    DECODE(BlocksResp);
    DECODE(BlocksUpsertResp);
    DECODE(BookmarkPreviewResp);
    DECODE(UploadResp);
    DECODE(SyncResp);
    DECODE(DBRowResp);
    DECODE(DatabaseResp);
    DECODE(DatabasesResp);
    DECODE(CommentCreateResp);
    DECODE(CommentsResp);
    DECODE(SuggestionsResp);
    DECODE(ShareListResp);
    DECODE(ShareInviteResp);
    DECODE(PublishResp);
    DECODE(VersionsResp);
    DECODE(AIResp);
    DECODE(std::vector<PageTemplate>);
    // Error bodies are read for their message alone.
    const QString body = QString::fromUtf8(bytes);
    serverMessage(body);
    errorMessage(body);
    return 0;
}
