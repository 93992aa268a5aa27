#include "fake-service/http_request.h"

namespace {

QString decodeQueryComponent(QByteArray raw)
{
    raw.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw));
}

} // namespace

QByteArray HttpRequest::path() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? target : target.left(mark);
}

QByteArray HttpRequest::query() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? QByteArray() : target.mid(mark + 1);
}

std::optional<QString> HttpRequest::queryValue(const QString &name) const
{
    std::optional<QString> found;
    const QList<QByteArray> pairs = query().split('&');
    for (const QByteArray &pair : pairs) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        const QByteArray rawName = eq < 0 ? pair : pair.left(eq);
        if (decodeQueryComponent(rawName) == name)
            found = eq < 0 ? QString() : decodeQueryComponent(pair.mid(eq + 1));
    }
    return found;
}

std::optional<QByteArray> HttpRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return std::nullopt;
}

QList<QByteArray> HttpRequest::headerNames() const
{
    QList<QByteArray> names;
    names.reserve(headers.size());
    for (const auto &h : headers)
        names.append(h.first);
    return names;
}
