#pragma once

#include "hub/HttpMessage.h"

#include <QByteArray>
#include <optional>

// Reads HTTP/1.1 responses from a byte stream with the same framing the hub's request parser
// uses: what its tests and benchmark use to read the hub's answers, pipelined ones included.
class HttpResponseReader {
public:
    struct Response {
        int status = 0;
        http::Fields headers;
        QByteArray body;
    };

    void append(QByteArrayView data) { m_stream.append(data); }
    // The peer closed: a response without Content-Length ends here.
    void closed() { m_closed = true; }

    // The next complete response (an interim 100 Continue counts as one), or nothing while it
    // is incomplete. `headOnly`: the answer to a HEAD request, which has no body.
    std::optional<Response> next(bool headOnly = false);
    // True once the bytes cannot be read as a response; nothing more will be returned.
    bool failed() const { return m_failed; }
    qsizetype buffered() const { return m_stream.available(); }

private:
    bool readHead(bool headOnly);

    http::StreamBuffer m_stream;
    std::optional<Response> m_head;
    qint64 m_length = 0; // -1: up to the close
    bool m_closed = false;
    bool m_failed = false;
};
