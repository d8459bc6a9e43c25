#include "model/RowJson.h"

namespace {

constexpr char kHex[] = "0123456789abcdef";

char* writeUnicodeEscape(char* out, char16_t unit) {
    *out++ = '\\';
    *out++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4)
        *out++ = kHex[(unit >> shift) & 0xf];
    return out;
}

// One UTF-16 unit below 0x80, escaped where JSON requires it (the quote, the backslash and
// control characters), else as it is.
char* writeAscii(char* out, char16_t unit) {
    const char* escape = nullptr;
    switch (unit) {
    case '"':
        escape = "\\\"";
        break;
    case '\\':
        escape = "\\\\";
        break;
    case '\b':
        escape = "\\b";
        break;
    case '\f':
        escape = "\\f";
        break;
    case '\n':
        escape = "\\n";
        break;
    case '\r':
        escape = "\\r";
        break;
    case '\t':
        escape = "\\t";
        break;
    default:
        if (unit < 0x20)
            return writeUnicodeEscape(out, unit);
        *out++ = char(unit);
        return out;
    }
    *out++ = escape[0];
    *out++ = escape[1];
    return out;
}

} // namespace

// Writes exactly what Qt's JSON writer writes for a string (UTF-8, only what JSON requires
// escaped, a lone surrogate as a \u escape), straight into the buffer: the hub serializes feeds
// of tens of thousands of rows, and a QJsonDocument per string made that several times slower.
void appendJsonString(QByteArray& out, const QString& text) {
    const qsizetype start = out.size();
    // At most 6 bytes per UTF-16 unit (a \u escape; UTF-8 takes at most 3), and the quotes.
    out.resize(start + 6 * text.size() + 2);
    char* p = out.data() + start;
    *p++ = '"';
    const auto* unit = reinterpret_cast<const char16_t*>(text.utf16());
    const char16_t* const end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            p = writeAscii(p, u);
        } else if (u < 0x800) {
            *p++ = char(0xc0 | (u >> 6));
            *p++ = char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && unit != end && QChar::isLowSurrogate(*unit)) {
            const char32_t c = QChar::surrogateToUcs4(u, *unit++);
            *p++ = char(0xf0 | (c >> 18));
            *p++ = char(0x80 | ((c >> 12) & 0x3f));
            *p++ = char(0x80 | ((c >> 6) & 0x3f));
            *p++ = char(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(u)) {
            p = writeUnicodeEscape(p, u); // a lone surrogate has no UTF-8 form
        } else {
            *p++ = char(0xe0 | (u >> 12));
            *p++ = char(0x80 | ((u >> 6) & 0x3f));
            *p++ = char(0x80 | (u & 0x3f));
        }
    }
    *p++ = '"';
    out.resize(p - out.constData());
}

QByteArray jsonString(const QString& text) {
    QByteArray out;
    appendJsonString(out, text);
    return out;
}

void appendRowJson(QByteArray& out, const Row& row) {
    out += "{\"kind\": ";
    appendJsonString(out, row.kind);
    out += ", \"text\": ";
    appendJsonString(out, row.text);
    if (row.id) {
        out += ", \"id\": ";
        appendJsonString(out, *row.id);
    }
    if (row.done)
        out += *row.done ? ", \"done\": true" : ", \"done\": false";
    if (row.doneAt) {
        out += ", \"doneAt\": ";
        appendJsonString(out, *row.doneAt);
    }
    if (row.cat) {
        out += ", \"cat\": ";
        appendJsonString(out, *row.cat);
    }
    out += '}';
}

QByteArray rowJson(const Row& row) {
    QByteArray out;
    appendRowJson(out, row);
    return out;
}
