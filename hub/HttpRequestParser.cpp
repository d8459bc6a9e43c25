#include "HttpRequestParser.h"

namespace {

bool isTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

QByteArrayView chomp(QByteArrayView line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const {
    for (const auto& [key, value] : headers) {
        if (key == name)
            return value;
    }
    return {};
}

HttpRequestParser::Status HttpRequestParser::fail(int status, QByteArray reason) {
    m_errorStatus = status;
    m_errorReason = std::move(reason);
    m_head.reset();
    m_buffer.clear();
    return Status::Invalid;
}

HttpRequestParser::Status HttpRequestParser::feed(QByteArrayView data) {
    if (m_errorStatus != 0)
        return Status::Invalid;
    if (m_ready)
        return Status::Ready;
    m_buffer.append(data);
    if (!m_head) {
        // Tolerate the empty lines some clients send between requests.
        while (m_buffer.startsWith("\r\n") || m_buffer.startsWith('\n'))
            m_buffer.remove(0, m_buffer.startsWith('\n') ? 1 : 2);
        const qsizetype crlf = m_buffer.indexOf("\r\n\r\n");
        const qsizetype lf = m_buffer.indexOf("\n\n");
        qsizetype headEnd = crlf;
        qsizetype bodyStart = crlf + 4;
        if (lf >= 0 && (crlf < 0 || lf < crlf)) {
            headEnd = lf;
            bodyStart = lf + 2;
        }
        if (headEnd < 0) {
            if (m_buffer.size() > kMaxHead)
                return fail(431, "request head over 16 KiB");
            return Status::NeedMore;
        }
        if (headEnd > kMaxHead)
            return fail(431, "request head over 16 KiB");
        if (!parseHead(headEnd, bodyStart))
            return Status::Invalid;
    }
    if (m_buffer.size() < m_bodyLength)
        return Status::NeedMore;
    m_head->body = m_buffer.left(m_bodyLength);
    m_buffer.remove(0, m_bodyLength);
    m_ready = std::move(m_head);
    m_head.reset();
    m_expectContinue = false;
    return Status::Ready;
}

bool HttpRequestParser::parseHead(qsizetype headEnd, qsizetype bodyStart) {
    const QByteArray head = m_buffer.left(headEnd);
    m_buffer.remove(0, bodyStart);
    QList<QByteArrayView> lines;
    for (qsizetype pos = 0; pos <= head.size();) {
        qsizetype next = head.indexOf('\n', pos);
        if (next < 0)
            next = head.size();
        lines.append(chomp(QByteArrayView(head).sliced(pos, next - pos)));
        pos = next + 1;
    }

    QList<QByteArrayView> parts;
    for (QByteArrayView rest = lines.first(); !rest.isEmpty();) {
        const qsizetype space = rest.indexOf(' ');
        parts.append(space < 0 ? rest : rest.first(space));
        rest = space < 0 ? QByteArrayView() : rest.sliced(space + 1);
    }
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return failHead(400, "malformed request line");
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") {
        if (parts[2].startsWith("HTTP/"))
            return failHead(505, "only HTTP/1.0 and HTTP/1.1 are supported");
        return failHead(400, "malformed request line");
    }
    HttpRequest request;
    request.method = parts[0].toByteArray();
    request.target = parts[1].toByteArray();
    const bool http10 = parts[2] == "HTTP/1.0";

    std::optional<qint64> length;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.first(colon)))
            return failHead(400, "malformed header field");
        QByteArray name = line.first(colon).toByteArray().toLower();
        QByteArray value = line.sliced(colon + 1).trimmed().toByteArray();
        if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || value.startsWith('+') || (length && *length != n))
                return failHead(400, "bad Content-Length");
            length = n;
        } else if (name == "transfer-encoding") {
            return failHead(400, "Transfer-Encoding is not supported; send a Content-Length");
        }
        request.headers.append({std::move(name), std::move(value)});
    }
    if (request.headers.size() > 100)
        return failHead(431, "more than 100 header fields");
    if (length && *length > kMaxBody)
        return failHead(400, "body over 64 KiB");
    if (!length && request.method == "POST")
        return failHead(400, "a POST needs a Content-Length");

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
