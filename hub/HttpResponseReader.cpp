#include "hub/HttpResponseReader.h"

std::optional<HttpResponseReader::Response> HttpResponseReader::next(bool headOnly) {
    if (m_failed || (!m_head && !readHead(headOnly)))
        return std::nullopt;
    if (m_length < 0 && !m_closed)
        return std::nullopt;
    const qint64 length = m_length < 0 ? m_stream.available() : m_length;
    if (m_stream.available() < length)
        return std::nullopt;
    Response response = std::move(*m_head);
    m_head.reset();
    response.body = m_stream.take(length);
    return response;
}

bool HttpResponseReader::readHead(bool headOnly) {
    const auto head = m_stream.findHead(1024 * 1024);
    if (head != http::StreamBuffer::Head::Found) {
        m_failed = head == http::StreamBuffer::Head::TooLarge;
        return false;
    }
    QByteArray reason;
    const std::optional<http::SplitHead> split = http::splitHead(m_stream.head(), &reason);
    const QByteArrayView line = split ? split->startLine : QByteArrayView();
    bool ok = false;
    const int status =
        line.size() >= 12 && (line.startsWith("HTTP/1.1 ") || line.startsWith("HTTP/1.0 "))
            ? line.sliced(9, 3).toInt(&ok)
            : 0;
    if (!ok || status < 100) {
        m_failed = true;
        return false;
    }
    Response response;
    response.status = status;
    response.headers = split->fields;
    m_stream.consumeHead();
    const QByteArray length = response.headers.value("content-length");
    if (headOnly || status < 200 || status == 204 || status == 304)
        m_length = 0;
    else
        m_length = response.headers.contains("content-length") ? length.toLongLong(&ok) : -1;
    if (!ok || m_length < -1) {
        m_failed = true;
        return false;
    }
    m_head = std::move(response);
    return true;
}
