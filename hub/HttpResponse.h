#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <memory>

// One answer and how it is written on the wire. The body is either bytes in memory or a
// device (an open file) that the connection reads in chunks as the client takes them, so a
// large file never sits in memory whole.
struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    std::shared_ptr<QIODevice> stream; // when set, the body: `streamLength` bytes from it
    qint64 streamLength = 0;

    // Every refusal is one line of plain text saying why.
    static HttpResponse text(int status, const QByteArray& line);

    qint64 contentLength() const { return stream ? streamLength : body.size(); }
    // Status line and header fields, with Content-Length, Cache-Control: no-store and the
    // Connection field, up to and including the empty line.
    QByteArray head(bool keepAlive) const;
    // The whole answer; only for a body in memory.
    QByteArray serialize(bool headOnly, bool keepAlive) const;

    // The interim answer to "Expect: 100-continue".
    static QByteArray continueLine() { return "HTTP/1.1 100 Continue\r\n\r\n"; }
    static QByteArray reasonPhrase(int status);
};
