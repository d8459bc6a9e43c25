#include "model/JsonReader.h"

#include <cstring>
#include <memory>

namespace {

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// `-? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?` and nothing else; the parser hands
// out a number with the white space that follows it.
bool isJsonNumber(std::string_view token) {
    while (!token.empty() && isJsonSpace(token.back()))
        token.remove_suffix(1);
    size_t i = 0;
    const size_t n = token.size();
    const auto digits = [&] {
        const size_t from = i;
        while (i < n && isDigit(token[i]))
            ++i;
        return i > from;
    };
    if (i < n && token[i] == '-')
        ++i;
    if (i < n && token[i] == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < n && token[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < n && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < n && (token[i] == '+' || token[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == n;
}

bool hex4(const char* p, const char* end, char16_t* unit) {
    if (end - p < 4)
        return false;
    char16_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = p[i];
        const int digit = isDigit(c)               ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
        if (digit < 0)
            return false;
        value = char16_t(value * 16 + digit);
    }
    *unit = value;
    return true;
}

// What a one-letter escape (`\n` and the like) stands for; 0 when `kind` names none.
char16_t shortEscape(char kind) {
    switch (kind) {
    case '"':
    case '\\':
    case '/':
        return char16_t(kind);
    case 'b':
        return u'\b';
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    default:
        return 0;
    }
}

// The four hex digits of a `\u` escape at `p`, taken together with a `\u` escape of a low
// surrogate right after a high one, handed to `put`. Returns where the text goes on, or null
// when the digits are not four hex digits.
template <typename Put> const char* unicodeEscape(const char* p, const char* stop, Put&& put) {
    char16_t unit = 0;
    char16_t low = 0;
    if (!hex4(p, stop, &unit))
        return nullptr;
    p += 4;
    if (QChar::isHighSurrogate(unit) && stop - p >= 6 && p[0] == '\\' && p[1] == 'u' &&
        hex4(p + 2, stop, &low) && QChar::isLowSurrogate(low)) {
        put(unit);
        put(low);
        return p + 6;
    }
    // Half a surrogate pair names no character; it reads as the replacement character rather
    // than failing a whole feed over one symbol.
    put(QChar::isSurrogate(unit) ? char16_t(QChar::ReplacementCharacter) : unit);
    return p;
}

// What a read needs besides the text: kept on each thread from one read to the next, so a small
// feed read every 30 s allocates nothing.
struct ReaderBuffers {
    std::unique_ptr<char[]> text; // the padded copy of the text
    size_t capacity = 0;
    simdjson::ondemand::parser parser;
};

ReaderBuffers& readerBuffers() {
    thread_local ReaderBuffers buffers;
    return buffers;
}

// Larger buffers (the copy and the parser's indexes, several times the text) are made for the
// read and freed after it: at 10,000 tasks they were 9 MB held between refreshes, for about a
// millisecond saved per read.
constexpr size_t kKeptBelow = size_t(1) << 20;

} // namespace

JsonReader::~JsonReader() {
    ReaderBuffers& buffers = readerBuffers();
    if (buffers.capacity < kKeptBelow)
        return;
    buffers.text.reset();
    buffers.capacity = 0;
    buffers.parser = simdjson::ondemand::parser();
}

JsonReader::JsonReader(QByteArrayView body) {
    if (body.startsWith("\xEF\xBB\xBF")) {
        body = body.sliced(3);
        m_offset = 3;
    }
    // On-Demand may read up to SIMDJSON_PADDING bytes past the text.
    ReaderBuffers& buffers = readerBuffers();
    std::unique_ptr<char[]>& buffer = buffers.text;
    size_t& capacity = buffers.capacity;
    const size_t size = size_t(body.size());
    if (capacity < size + simdjson::SIMDJSON_PADDING) {
        capacity = size + size / 4 + simdjson::SIMDJSON_PADDING;
        buffer = std::make_unique<char[]>(capacity);
    }
    if (size > 0) // an empty QByteArrayView may have no buffer at all
        std::memcpy(buffer.get(), body.data(), size);
    std::memset(buffer.get() + size, 0, simdjson::SIMDJSON_PADDING);
    m_begin = buffer.get();
    m_end = m_begin + size;
    // The parser's own depth bound only arms its debug checks; `kMaxDepth` is enforced here.
    simdjson::ondemand::parser& parser = buffers.parser;
    if (parser.max_depth() <= size_t(kMaxDepth))
        m_parsed = parser.allocate(size, size_t(kMaxDepth) + 1);
    if (!m_parsed)
        m_parsed = parser.iterate(m_begin, size, capacity).get(m_document);
}

QString JsonReader::typeName(Type type) {
    switch (type) {
    case Type::array:
        return QStringLiteral("array");
    case Type::object:
        return QStringLiteral("object");
    case Type::number:
        return QStringLiteral("number");
    case Type::string:
        return QStringLiteral("string");
    case Type::boolean:
        return QStringLiteral("boolean");
    case Type::null:
        break;
    }
    return QStringLiteral("null");
}

bool JsonReader::fail(simdjson::error_code code) {
    m_fault = QString::fromUtf8(simdjson::error_message(code));
    return false;
}

bool JsonReader::fail(const char* what, const char* at) {
    m_fault = QStringLiteral("%1 at byte %2").arg(QLatin1String(what)).arg(at - m_begin + m_offset);
    return false;
}

bool JsonReader::isAtEnd() {
    // After the top-level object the parser has no token left unless text follows it.
    return m_document.current_location().error() == simdjson::OUT_OF_BOUNDS ||
           fail(simdjson::TRAILING_CONTENT);
}

bool JsonReader::type(Value& value, Type* type) {
    const auto code = value.type().get(*type);
    return !code || fail(code);
}

bool JsonReader::object(Value& value, int depth, Object* out) {
    if (depth > kMaxDepth)
        return fail(simdjson::DEPTH_ERROR);
    const auto code = value.get_object().get(*out);
    return !code || fail(code);
}

bool JsonReader::array(Value& value, int depth, Array* out) {
    if (depth > kMaxDepth)
        return fail(simdjson::DEPTH_ERROR);
    const auto code = value.get_array().get(*out);
    return !code || fail(code);
}

bool JsonReader::boolean(Value& value, bool* out) {
    // The parser words a misspelt literal as a type mismatch; it is a fault of the text.
    const char* at = value.raw_json_token().data();
    return !value.get_bool().get(*out) || fail("invalid literal", at);
}

bool JsonReader::skip(Value& value, int depth) {
    Type kind;
    if (!type(value, &kind))
        return false;
    switch (kind) {
    case Type::object: {
        Object members;
        return object(value, depth, &members) &&
               forEachMember(members, [&](std::string_view, Value& member) {
                   return skip(member, depth + 1);
               });
    }
    case Type::array: {
        Array elements;
        return array(value, depth, &elements) &&
               forEachElement(elements, [&](Value& element) { return skip(element, depth + 1); });
    }
    case Type::number: {
        const std::string_view token = value.raw_json_token();
        return isJsonNumber(token) || fail("invalid number", token.data());
    }
    case Type::string:
        return string(value, nullptr);
    case Type::boolean: {
        bool flag = false;
        return boolean(value, &flag);
    }
    case Type::null: {
        const char* at = value.raw_json_token().data();
        bool isNull = false;
        return !value.is_null().get(isNull) || fail("invalid literal", at);
    }
    }
    return fail(simdjson::TAPE_ERROR);
}

bool JsonReader::stringText(const char* start, std::string_view* text) {
    // The parser's first pass has matched every quote, so the closing one is there: the first
    // quote not preceded by an odd number of backslashes.
    for (const char* p = start;;) {
        const auto* quote = static_cast<const char*>(std::memchr(p, '"', size_t(m_end - p)));
        if (!quote)
            return fail(simdjson::UNCLOSED_STRING);
        const char* back = quote;
        while (back > start && back[-1] == '\\')
            --back;
        if ((quote - back) % 2 == 0) {
            *text = std::string_view(start, size_t(quote - start));
            return true;
        }
        p = quote + 1;
    }
}

bool JsonReader::unescape(std::string_view text, QString* out) {
    const auto* escape = static_cast<const char*>(std::memchr(text.data(), '\\', text.size()));
    if (!escape) {
        // The usual case. QString::fromUtf8 is the fast decoder, but it would drop a leading
        // U+FEFF; the bytes are valid UTF-8 already (the parser checked them).
        if (out && text.starts_with("\xEF\xBB\xBF"))
            *out = m_utf8.decode(QByteArrayView(text.data(), qsizetype(text.size())));
        else if (out)
            *out = QString::fromUtf8(text.data(), qsizetype(text.size()));
        return true;
    }
    QChar* w = nullptr;
    if (out) {
        // UTF-16 never needs more units than UTF-8 has bytes, nor an escape more than its bytes.
        *out = QString(qsizetype(text.size()), Qt::Uninitialized);
        w = out->data();
    }
    if (!resolveEscapes(text, escape, &w))
        return false;
    if (out)
        out->truncate(w - out->constData());
    return true;
}

bool JsonReader::resolveEscapes(std::string_view text, const char* escape, QChar** w) {
    const char* p = text.data();
    const char* const stop = p + text.size();
    const auto put = [w](char16_t unit) {
        if (*w)
            *(*w)++ = QChar(unit);
    };
    for (;;) {
        if (*w)
            *w = m_utf8.appendToBuffer(*w, QByteArrayView(p, (escape ? escape : stop) - p));
        if (!escape)
            return true;
        const char kind = escape + 1 < stop ? escape[1] : '\0';
        p = escape + 2;
        if (const char16_t unit = shortEscape(kind)) {
            put(unit);
        } else if (kind == 'u') {
            p = unicodeEscape(p, stop, put);
            if (!p)
                return fail("invalid \\u escape", escape);
        } else {
            return fail("invalid escape in string", escape);
        }
        escape = static_cast<const char*>(std::memchr(p, '\\', size_t(stop - p)));
    }
}

bool JsonReader::string(Value& value, QString* out) {
    simdjson::ondemand::raw_json_string raw;
    std::string_view text;
    if (const auto code = value.get_raw_json_string().get(raw))
        return fail(code);
    return stringText(raw.raw(), &text) && unescape(text, out);
}

bool JsonReader::memberName(const char* start, QByteArray* scratch, std::string_view* name) {
    if (!stringText(start, name))
        return false;
    if (name->find('\\') == std::string_view::npos)
        return true;
    QString decoded;
    if (!unescape(*name, &decoded))
        return false;
    *scratch = decoded.toUtf8();
    *name = std::string_view(scratch->constData(), size_t(scratch->size()));
    return true;
}
