#pragma once

#include "blocks/block_host.h"
#include "platform/file_picker.h"

#include <QCoroTask>
#include <QString>

#include <optional>

// A picked file, now held by the service.
struct UploadedFile {
    QString url; // as a block stores it
    QString filename;
    qint64 size = 0;
};

namespace BlockUpload {

// Asks the row's picker for a file and sends it as `kind` (the service's "image" when none). None
// without a picker or a client, when the user cancelled, or when the upload failed; a failure is only
// printed, after `failurePrefix`.
QCoro::Task<std::optional<UploadedFile>> pickAndSend(BlockServices services, FilePicker::Filter filter,
                                                     std::optional<QString> kind, QString failurePrefix);

} // namespace BlockUpload
