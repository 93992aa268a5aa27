#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// One request as it arrived on the wire, kept raw so tests can assert exactly what the client sent.
struct HttpRequest {
    QByteArray method;
    QByteArray target;                            // path plus "?query", byte for byte from the request line
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;                              // de-chunked when the client used chunked transfer coding

    QByteArray path() const;
    QByteArray query() const;
    // Decoded the way PHP fills $_GET: '+' is a space and the last duplicate wins.
    std::optional<QString> queryValue(const QString &name) const;
    std::optional<QByteArray> header(const QByteArray &name) const;
    QList<QByteArray> headerNames() const;
};
