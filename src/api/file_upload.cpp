#include "api/file_upload.h"

#include "api/api_client.h"
#include "api/wire/blocks.h"
#include "json/json_coder.h"
#include "platform/app_events.h"
#include "platform/utf8.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUuid>

#include <utility>

namespace {

constexpr auto kBoundaryPrefix = "----FolioNestBoundary-";
constexpr auto kDefaultKind = "image";
constexpr auto kUploadPath = "/api/upload.php?kind=";

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

// A quote, CR or LF would end the quoted name or start a header of its own; they are written the way
// browsers write them. Every other name goes out byte for byte.
QByteArray escapedFilename(const QString &filename)
{
    QByteArray out = filename.toUtf8();
    out.replace('"', "%22");
    out.replace('\r', "%0D");
    out.replace('\n', "%0A");
    return out;
}

QByteArray multipartBody(const QByteArray &data, const QString &filename, const QString &mime,
                         const QByteArray &boundary)
{
    QByteArray body;
    body.reserve(data.size() + 256 + filename.size() * 3);
    body += "--" + boundary + "\r\n";
    body +=
        "Content-Disposition: form-data; name=\"file\"; filename=\"" + escapedFilename(filename) + "\"\r\n";
    body += "Content-Type: " + mime.toUtf8() + "\r\n\r\n";
    body += data;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

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

QCoro::Task<QUrl> upload(QByteArray data, QString filename, QString mime, QString token,
                         std::optional<QString> kind, QPointer<CancelToken> cancel)
{
    const QByteArray boundary =
        kBoundaryPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();

    const QString address = APIClient::baseURLText() + QLatin1String(kUploadPath) +
                            kind.value_or(QString::fromLatin1(kDefaultKind));
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        throw APIError::other(QStringLiteral("Invalid upload URL"));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("User-Agent", APIClient::kUserAgent);

    APIClient &client = APIClient::shared();
    const QByteArray body = multipartBody(data, filename, mime, boundary);
    // The body holds its own copy; one file-sized buffer is enough while the transfer runs.
    data = QByteArray();
    QNetworkReply *raw = client.session().post(request, body);
    const auto reply = co_await client.send(raw, std::move(cancel), client.uploadLimits());

    const int error = reply->error();
    // Qt reports 4xx/5xx as errors too; only its transport errors (below 200) are failures of the exchange.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if ((error > 0 && error < 200) || !status.isValid())
        throw APIClient::failureOf(reply.get());

    const int code = status.toInt();
    const QByteArray bytes = reply->readAll();
    if (unsigned(code - 200) < 100u) {
        const UploadResp resp = sharedJSONDecode<UploadResp>(bytes);
        const QUrl stored(resp.url, QUrl::StrictMode);
        if (resp.url.isEmpty() || !stored.isValid())
            throw APIError::other(QStringLiteral("Bad URL from server"));
        co_return stored;
    }
    if (code == 401)
        AppEvents::shared().postAuthExpired(token);
    throw APIError::http(code, decodeUtf8Strict(bytes));
}
