#pragma once

#include "api/cancel_token.h"
#include "api/picked_file.h"
#include "platform/file_picker.h"

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QWidget;

// The MIME type of an upload, from the file name's last extension (any case) in the app's own
// table; "application/octet-stream" for anything else.
QString mimeTypeForFilename(const QString &filename);

// Asks the picker for one file and reads it whole. Nothing when cancelled or unreadable.
QCoro::Task<std::optional<PickedFile>> pickFile(FilePicker &picker, FilePicker::Filter filter,
                                                QWidget *parent = nullptr);

// Sends the bytes as a one-part multipart form to "/api/upload.php?kind=" (kind "image" when absent)
// and returns the URL the service stores them under. Throws APIError; a reply that does not decode
// throws the decoder's DecodeError. A 401 posts AppEvents::authExpired first. A cancelled `cancel`
// aborts the transfer (a network error).
QCoro::Task<QUrl> upload(QByteArray data, QString filename, QString mime, QString token,
                         std::optional<QString> kind = std::nullopt, QPointer<CancelToken> cancel = {});
