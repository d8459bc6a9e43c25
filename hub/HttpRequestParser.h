#pragma once

#include "hub/HttpMessage.h"

#include <QByteArray>
#include <optional>

struct HttpRequest {
    QByteArray method;
    QByteArray target; // as sent: path, possibly with a query
    http::Fields headers;
    QByteArray body;
    bool keepAlive = true;

    QByteArray header(QByteArrayView lowerCaseName) const { return headers.value(lowerCaseName); }
};

// Reads HTTP/1.1 requests from a byte stream, one after another (keep-alive, pipelining), in
// time linear in the bytes received. Only Content-Length bodies: the app and every common
// client send those for small JSON, and refusing Transfer-Encoding leaves no second way to
// frame a body that a proxy in front could read differently.
class HttpRequestParser {
public:
    static constexpr qsizetype kMaxHead = 16 * 1024;
    // Room for the largest message the app sends: a reorder names every task shown, about
    // 40 bytes each, so a list of 10,000 tasks makes about 400 KB.
    static constexpr qsizetype kMaxBody = 1024 * 1024;
    static constexpr qsizetype kMaxFields = 100;

    enum class Status { NeedMore, Ready, Invalid };

    // Adds received bytes; nothing is parsed until next().
    void append(QByteArrayView data) { m_stream.append(data); }
    // Tries to complete the next request from the bytes received so far.
    Status next();
    Status feed(QByteArrayView data) {
        append(data);
        return next();
    }
    // After Ready: hands the request over.
    HttpRequest take();

    // After Invalid: the status to answer with (400, 431, 505) and a one-line reason. The
    // connection cannot be read further, since where the next request starts is unknown.
    int errorStatus() const { return m_errorStatus; }
    const QByteArray& errorReason() const { return m_errorReason; }

    // True once a head asking "Expect: 100-continue" is read and its body is still missing.
    bool wantsContinue() const { return m_head && m_expectContinue; }
    void continueSent() { m_expectContinue = false; }

    // True while some bytes of a request have arrived but not the whole request.
    bool midRequest() const { return !m_ready && (m_head || m_stream.started()); }
    // Bytes received and not yet handed over in a request.
    qsizetype buffered() const { return m_stream.available(); }

private:
    Status fail(int status, QByteArray reason);
    // Reads the head; false (after fail) when it is malformed.
    bool parseHead(QByteArrayView head);

    http::StreamBuffer m_stream;
    std::optional<HttpRequest> m_head;
    qsizetype m_bodyLength = 0;
    bool m_expectContinue = false;
    int m_errorStatus = 0;
    QByteArray m_errorReason;
    std::optional<HttpRequest> m_ready;
};
