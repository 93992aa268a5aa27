#include "api/file_upload.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

// Tried in this order on the lower-cased last extension.
constexpr std::pair<const char *, const char *> kMimeTypes[] = {
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"mp3", "audio/mpeg"},
    {"m4a", "audio/mp4"},
    {"wav", "audio/wav"},
    {"aac", "audio/aac"},
    {"ogg", "audio/ogg"},
    {"pdf", "application/pdf"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"zip", "application/zip"},
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"json", "application/json"},
};

} // namespace

QString mimeTypeForFilename(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? filename.mid(dot + 1).toLower() : QString();
    for (const auto &[ext, mime] : kMimeTypes) {
        if (extension == QLatin1String(ext))
            return QString::fromLatin1(mime);
    }
    return QStringLiteral("application/octet-stream");
}

QCoro::Task<std::optional<PickedFile>> pickFile(FilePicker &picker, FilePicker::Filter filter,
                                                QWidget *parent)
{
    const std::optional<QString> path = co_await picker.chooseFile(filter, parent);
    if (!path || path->isEmpty())
        co_return std::nullopt;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        co_return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        co_return std::nullopt;
    const QString filename = QFileInfo(*path).fileName();
    co_return PickedFile{std::move(data), filename, mimeTypeForFilename(filename)};
}
