#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

struct HttpRequest {
    QByteArray method;
    QByteArray target;                                // as sent: path, possibly with a query
    QList<std::pair<QByteArray, QByteArray>> headers; // names lower-cased
    QByteArray body;
    bool keepAlive = true;

    QByteArray header(QByteArrayView name) const;
};

// Reads HTTP/1.1 requests from a byte stream, one after another (keep-alive, pipelining).
// Only Content-Length bodies: the app and every common client send those for small JSON.
class HttpRequestParser {
public:
    static constexpr qsizetype kMaxHead = 16 * 1024;
    static constexpr qsizetype kMaxBody = 64 * 1024;

    enum class Status { NeedMore, Ready, Invalid };

    // Adds bytes and tries to complete the next request.
    Status feed(QByteArrayView data);
    // After Ready: hands the request over and starts on the next one (call feed({}) to
    // parse what is already buffered).
    HttpRequest take();

    // After Invalid: the status to answer with (400, 431, 505) and a one-line reason. The
    // connection cannot be read further, since where the next request starts is unknown.
    int errorStatus() const { return m_errorStatus; }
    const QByteArray& errorReason() const { return m_errorReason; }

    // True once a head asking "Expect: 100-continue" is read and its body is still missing.
    bool wantsContinue() const { return m_head && m_expectContinue; }
    void continueSent() { m_expectContinue = false; }

private:
    Status fail(int status, QByteArray reason);
    bool failHead(int status, QByteArray reason) {
        fail(status, std::move(reason));
        return false;
    }
    // Reads the head out of the buffer; false (after fail) when it is malformed.
    bool parseHead(qsizetype headEnd, qsizetype bodyStart);

    QByteArray m_buffer;
    std::optional<HttpRequest> m_head;
    qsizetype m_bodyLength = 0;
    bool m_expectContinue = false;
    int m_errorStatus = 0;
    QByteArray m_errorReason;
    std::optional<HttpRequest> m_ready;
};
