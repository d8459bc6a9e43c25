#include "hub/HttpRequestParser.h"

namespace {

bool hasControlChar(QByteArrayView text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

} // namespace

HttpRequestParser::Status HttpRequestParser::fail(int status, QByteArray reason) {
    m_errorStatus = status;
    m_errorReason = std::move(reason);
    m_head.reset();
    m_stream.clear();
    return Status::Invalid;
}

HttpRequestParser::Status HttpRequestParser::next() {
    if (m_errorStatus != 0)
        return Status::Invalid;
    if (m_ready)
        return Status::Ready;
    if (!m_head) {
        switch (m_stream.findHead(kMaxHead)) {
        case http::StreamBuffer::Head::Incomplete:
            return Status::NeedMore;
        case http::StreamBuffer::Head::TooLarge:
            return fail(431, "request head over 16 KiB");
        case http::StreamBuffer::Head::Found:
            break;
        }
        if (!parseHead(m_stream.head()))
            return Status::Invalid;
        m_stream.consumeHead();
    }
    if (m_stream.available() < m_bodyLength)
        return Status::NeedMore;
    m_head->body = m_stream.take(m_bodyLength);
    m_ready = std::move(m_head);
    m_head.reset();
    m_expectContinue = false;
    return Status::Ready;
}

bool HttpRequestParser::parseHead(QByteArrayView head) {
    const auto failHead = [this](int status, QByteArray reason) {
        fail(status, std::move(reason));
        return false;
    };
    QByteArray reason;
    std::optional<http::SplitHead> split = http::splitHead(head, &reason);
    if (!split)
        return failHead(400, reason);

    QList<QByteArrayView> parts;
    for (QByteArrayView rest = split->startLine; !rest.isEmpty();) {
        const qsizetype space = rest.indexOf(' ');
        parts.append(space < 0 ? rest : rest.first(space));
        rest = space < 0 ? QByteArrayView() : rest.sliced(space + 1);
    }
    if (parts.size() != 3 || !http::isToken(parts[0]) || parts[1].isEmpty() ||
        hasControlChar(parts[1]))
        return failHead(400, "malformed request line");
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") {
        if (parts[2].startsWith("HTTP/"))
            return failHead(505, "only HTTP/1.0 and HTTP/1.1 are supported");
        return failHead(400, "malformed request line");
    }
    if (split->fields.list.size() > kMaxFields)
        return failHead(431, "more than 100 header fields");

    HttpRequest request;
    request.method = parts[0].toByteArray();
    request.target = parts[1].toByteArray();
    const bool http10 = parts[2] == "HTTP/1.0";
    std::optional<qint64> length;
    for (const auto& [name, value] : std::as_const(split->fields.list)) {
        if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || value.startsWith('+') || (length && *length != n))
                return failHead(400, "bad Content-Length");
            length = n;
        } else if (name == "transfer-encoding") {
            return failHead(400, "Transfer-Encoding is not supported; send a Content-Length");
        }
    }
    if (length && *length > kMaxBody)
        return failHead(400, "body over 1 MiB");
    if (!length && request.method == "POST")
        return failHead(400, "a POST needs a Content-Length");

    request.headers = std::move(split->fields);
    const QByteArray connection = request.header("connection").toLower();
    request.keepAlive = http10 ? connection.contains("keep-alive") : !connection.contains("close");
    m_expectContinue = request.header("expect").toLower() == "100-continue";
    m_bodyLength = length.value_or(0);
    m_head = std::move(request);
    return true;
}

HttpRequest HttpRequestParser::take() {
    HttpRequest request = std::move(*m_ready);
    m_ready.reset();
    return request;
}
