#include "fake-service/fake_upload_routes.h"

#include <QUrl>

namespace {

const QString UploadPath = QStringLiteral("/api/upload.php");
const QString FilesPrefix = QStringLiteral("/uploads/");
const QStringList Kinds = {QStringLiteral("image"), QStringLiteral("any"), QStringLiteral("audio")};

// A parameter of a header value such as `form-data; name="file"; filename="a.png"`. Quoted values end
// at the next quote, as PHP's parser reads them, so an unescaped quote in a name cuts it short.
std::optional<QByteArray> headerParameter(const QByteArray &value, const QByteArray &name)
{
    qsizetype at = 0;
    while ((at = value.indexOf(';', at)) >= 0) {
        ++at;
        while (at < value.size() && value.at(at) == ' ')
            ++at;
        const qsizetype eq = value.indexOf('=', at);
        if (eq < 0)
            return std::nullopt;
        if (value.mid(at, eq - at).trimmed().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (value.mid(eq + 1, 1) == "\"") {
            const qsizetype close = value.indexOf('"', eq + 2);
            return close < 0 ? std::nullopt : std::optional(value.mid(eq + 2, close - eq - 2));
        }
        const qsizetype end = value.indexOf(';', eq + 1);
        return value.mid(eq + 1, end < 0 ? -1 : end - eq - 1).trimmed();
    }
    return std::nullopt;
}

std::optional<QByteArray> partHeader(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace

FakeUploadRoutes::FakeUploadRoutes(FakeService &service)
    : QObject(&service)
    , m_service(service)
{
    service.routeRaw("POST", UploadPath, [this](const FakeService::Call &call) { return upload(call); });
    service.routeRaw(
        "GET", FilesPrefix, [this](const FakeService::Call &call) { return serve(call); },
        FakeService::Access::Public);
}

FakeUploadRoutes &FakeUploadRoutes::of(FakeService &service)
{
    return *service.findChild<FakeUploadRoutes *>(QString(), Qt::FindDirectChildrenOnly);
}

std::optional<FakeUploadRoutes::File> FakeUploadRoutes::parseFilePart(const QByteArray &contentType,
                                                                      const QByteArray &body)
{
    if (!contentType.trimmed().startsWith("multipart/form-data"))
        return std::nullopt;
    const auto boundary = headerParameter(contentType, "boundary");
    if (!boundary || boundary->isEmpty())
        return std::nullopt;
    const QByteArray delimiter = "--" + *boundary;

    qsizetype at = body.startsWith(delimiter) ? 0 : body.indexOf("\r\n" + delimiter);
    if (at < 0)
        return std::nullopt;
    at = body.startsWith(delimiter) ? delimiter.size() : at + 2 + delimiter.size();
    while (body.mid(at, 2) == "\r\n") {
        const qsizetype headersEnd = body.indexOf("\r\n\r\n", at + 2);
        if (headersEnd < 0)
            return std::nullopt;
        const QList<QByteArray> lines = body.mid(at + 2, headersEnd - at - 2).split('\n');
        const qsizetype dataStart = headersEnd + 4;
        const qsizetype dataEnd = body.indexOf("\r\n" + delimiter, dataStart);
        if (dataEnd < 0)
            return std::nullopt;

        QList<QByteArray> trimmed;
        for (const QByteArray &line : lines)
            trimmed.append(line.endsWith('\r') ? line.chopped(1) : line);
        const QByteArray disposition = partHeader(trimmed, "Content-Disposition").value_or(QByteArray());
        if (disposition.startsWith("form-data") && headerParameter(disposition, "name") == "file") {
            const auto filename = headerParameter(disposition, "filename");
            if (!filename)
                return std::nullopt;
            return File{QString(), QString::fromUtf8(*filename),
                        partHeader(trimmed, "Content-Type").value_or("application/octet-stream"),
                        body.mid(dataStart, dataEnd - dataStart)};
        }
        at = dataEnd + 2 + delimiter.size();
    }
    return std::nullopt;
}

HttpResponse FakeUploadRoutes::upload(const FakeService::Call &call)
{
    const QString kind = call.request.queryValue(QStringLiteral("kind")).value_or(QStringLiteral("image"));
    if (!Kinds.contains(kind))
        return FakeService::error(400, QStringLiteral("Unknown upload kind."));
    if (call.request.body.size() > m_maxBytes)
        return FakeService::error(413, QStringLiteral("File too large."));
    auto file = parseFilePart(call.request.header("Content-Type").value_or(QByteArray()), call.request.body);
    if (!file || file->name.isEmpty())
        return FakeService::error(400, QStringLiteral("No file uploaded."));
    file->kind = kind;

    const qint64 size = file->data.size();
    const QString mime = QString::fromUtf8(file->mime);
    const QString url = store(std::move(*file));
    JSONObject reply;
    reply[QStringLiteral("url")] = url;
    reply[QStringLiteral("path")] = url.mid(m_service.origin().size());
    reply[QStringLiteral("size")] = size;
    reply[QStringLiteral("mime")] = mime;
    return FakeService::reply(200, reply);
}

QString FakeUploadRoutes::store(File file)
{
    const qint64 id = m_nextId++;
    const QString path = FilesPrefix + QString::number(id) + QLatin1Char('/') +
                         QString::fromLatin1(QUrl::toPercentEncoding(file.name));
    m_files.emplace(id, std::move(file));
    return m_service.origin() + path;
}

HttpResponse FakeUploadRoutes::serve(const FakeService::Call &call) const
{
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(call.request.path()));
    const QString rest = path.mid(FilesPrefix.size());
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    bool ok = false;
    const qint64 id = rest.left(slash).toLongLong(&ok);
    const auto it = ok && slash > 0 ? m_files.find(id) : m_files.end();
    if (it == m_files.end() || it->second.name != rest.mid(slash + 1))
        return FakeService::error(404, QStringLiteral("Not found"));
    HttpResponse r;
    r.body = it->second.data;
    r.contentType = it->second.mime;
    return r;
}
