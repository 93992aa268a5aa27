#pragma once

#include "api/picked_file.h"
#include "platform/file_picker.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

class QWidget;

// The MIME type of an upload, from the file name's last extension (any case) in the app's own
// table; "application/octet-stream" for anything else.
QString mimeTypeForFilename(const QString &filename);

// Asks the picker for one file and reads it whole. Nothing when cancelled or unreadable.
QCoro::Task<std::optional<PickedFile>> pickFile(FilePicker &picker, FilePicker::Filter filter,
                                                QWidget *parent = nullptr);
