#include "blocks/block_upload.h"

#include "api/api_error.h"
#include "api/file_upload.h"
#include "api/service_client.h"
#include "platform/diag.h"

namespace BlockUpload {

QCoro::Task<std::optional<UploadedFile>> pickAndSend(BlockServices services, FilePicker::Filter filter,
                                                     std::optional<QString> kind, QString failurePrefix)
{
    const std::shared_ptr<FilePicker> picker = services.filePicker;
    // The row may go while the picker is open; the client outlives it.
    const QPointer<ServiceClient> client = services.client;
    if (!picker || !client)
        co_return std::nullopt;
    const std::optional<PickedFile> file = co_await pickFile(*picker, filter, services.dialogParent.data());
    if (!file)
        co_return std::nullopt;
    try {
        const QUrl url = co_await client->upload(file->data, file->filename, file->mime, kind);
        co_return UploadedFile{url.toString(QUrl::FullyEncoded), file->filename, qint64(file->data.size())};
    } catch (const std::exception &e) {
        diag(failurePrefix + APIError::messageOf(e));
    }
    co_return std::nullopt;
}

} // namespace BlockUpload
