#include "hub/HttpMessage.h"

namespace http {

namespace {

bool isTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool hasControlChar(QByteArrayView value) {
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return true;
    }
    return false;
}

QByteArrayView chomp(QByteArrayView line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// Only spaces and tabs surround a value; any other white space is part of it (and refused).
QByteArrayView trimBlanks(QByteArrayView value) {
    while (!value.isEmpty() && (value.front() == ' ' || value.front() == '\t'))
        value = value.sliced(1);
    while (!value.isEmpty() && (value.back() == ' ' || value.back() == '\t'))
        value.chop(1);
    return value;
}

} // namespace

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

QByteArray Fields::value(QByteArrayView name) const {
    for (const auto& [key, value] : list) {
        if (key == name)
            return value;
    }
    return {};
}

bool Fields::contains(QByteArrayView name) const {
    for (const auto& field : list) {
        if (field.first == name)
            return true;
    }
    return false;
}

void StreamBuffer::append(QByteArrayView data) {
    m_data.append(data);
}

StreamBuffer::Head StreamBuffer::findHead(qsizetype maxHead) {
    QByteArrayView view(m_data.constData() + m_pos, available());
    while (m_scanned < view.size()) {
        const qsizetype lf = view.indexOf('\n', m_scanned);
        if (lf < 0) {
            m_scanned = view.size();
            break;
        }
        m_scanned = lf + 1;
        const QByteArrayView line = view.sliced(m_lineStart, lf - m_lineStart);
        if (!line.isEmpty() && line != "\r") {
            m_lineStart = lf + 1;
            continue;
        }
        if (m_lineStart == 0) { // an empty line before the head: skip it
            m_pos += lf + 1;
            view = view.sliced(lf + 1);
            m_scanned = 0;
            continue;
        }
        if (m_lineStart > maxHead)
            return Head::TooLarge;
        m_headEnd = m_lineStart;
        m_after = lf + 1;
        return Head::Found;
    }
    return view.size() > maxHead ? Head::TooLarge : Head::Incomplete;
}

QByteArrayView StreamBuffer::head() const {
    return QByteArrayView(m_data).sliced(m_pos, m_headEnd);
}

void StreamBuffer::consumeHead() {
    m_pos += m_after;
    m_scanned = m_lineStart = 0;
    m_headEnd = m_after = -1;
    compact();
}

QByteArray StreamBuffer::take(qsizetype n) {
    const QByteArray out = m_data.mid(m_pos, n);
    m_pos += out.size();
    m_scanned = m_lineStart = 0;
    compact();
    return out;
}

bool StreamBuffer::started() const {
    const qsizetype n = available();
    return n > 1 || (n == 1 && m_data.at(m_pos) != '\r');
}

void StreamBuffer::clear() {
    m_data.clear();
    m_pos = m_scanned = m_lineStart = 0;
    m_headEnd = m_after = -1;
}

void StreamBuffer::compact() {
    if (m_pos == m_data.size()) {
        m_data.resize(0); // keeps the allocation for the next message
        m_pos = 0;
    } else if (m_pos >= 64 * 1024 && 2 * m_pos >= m_data.size()) {
        m_data.remove(0, m_pos);
        m_pos = 0;
    }
}

std::optional<SplitHead> splitHead(QByteArrayView head, QByteArray* reason) {
    SplitHead out;
    qsizetype pos = head.indexOf('\n');
    out.startLine = chomp(pos < 0 ? head : head.first(pos));
    while (pos >= 0 && pos + 1 < head.size()) {
        const qsizetype start = pos + 1;
        pos = head.indexOf('\n', start);
        const QByteArrayView line =
            chomp(head.sliced(start, (pos < 0 ? head.size() : pos) - start));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.first(colon))) {
            *reason = "malformed header field";
            return std::nullopt;
        }
        const QByteArrayView value = trimBlanks(line.sliced(colon + 1));
        if (hasControlChar(value)) {
            *reason = "a header value holds a control character (CR, NUL or similar)";
            return std::nullopt;
        }
        out.fields.list.append({line.first(colon).toByteArray().toLower(), value.toByteArray()});
    }
    return out;
}

} // namespace http
