#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <functional>

// What the loopback server should do with one request: answer (possibly late) or hang up.
struct HttpResponse {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    int delayMs = 0;
    bool held = false;                            // kept until the server releases its held answers
    bool dropConnection = false;                  // abort the socket instead of answering
    bool refuseAfter = false;                     // then refuse connections until told otherwise
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers, after the standard ones
    // Sends the body in this many pieces, one every streamIntervalMs after the head and first piece,
    // like a slow link; 0 or 1 sends it whole.
    int streamPieces = 0;
    int streamIntervalMs = 0;
    // Sends the body with chunked transfer coding and no Content-Length, so its size shows only as
    // it arrives.
    bool chunked = false;
    // The request reaches the service only when its delay ends or it is released: handled then, and
    // this answers it.
    std::function<HttpResponse()> handleLate;

    static HttpResponse json(int status, const QByteArray &body);
    static HttpResponse dropped();
};
