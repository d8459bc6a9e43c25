#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <simdjson.h>

#include <string_view>

// One JSON text, read once from front to back with simdjson's On-Demand parser, for decoders
// that take some members and must skip the others without judging their values.
//
// The parser's first pass checks the whole text's UTF-8, finds every string's extent and
// refuses raw control characters in strings; values are then handed out one at a time and
// converted only when asked. So a member nobody reads may hold an integer beyond 64 bits, 1e400
// or a lone surrogate escape: all valid JSON that a parser converting every value up front
// refuses. What On-Demand does not do is look at values nobody asks for, so `skip` walks them:
// numbers and string escapes are checked against the JSON grammar here, literals and structure
// by the parser, nesting is counted here. Every call returns false at the first fault and
// leaves the reason in `fault()`; the text is then not JSON and nothing of it may be used.
//
// Internal to the model library (it needs simdjson's header); include only from its sources.
class JsonReader {
public:
    using Value = simdjson::ondemand::value;
    using Object = simdjson::ondemand::object;
    using Array = simdjson::ondemand::array;
    using Type = simdjson::ondemand::json_type;

    // The deepest nesting of objects and arrays accepted, the top-level object being level 1:
    // what simdjson's DOM parser, which the decoder used before, accepted by default.
    static constexpr int kMaxDepth = 1024;

    // Parses `body`; a leading UTF-8 byte order mark is skipped, as the JSON standard allows.
    // Reuses one parser and one padded copy of the text per thread; after a text of a mebibyte
    // or more they are let go, so a large feed does not keep megabytes between refreshes.
    explicit JsonReader(QByteArrayView body);
    ~JsonReader();
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;

    // Hands the top-level object to `read`, then checks that nothing but white space follows
    // it. Returns false with `fault()` set when the text is not one JSON object, or when `read`
    // returned false.
    template <typename Read> bool readTopObject(Read&& read);

    // Why the text was refused: the first syntax fault found, or what the top level is.
    const QString& fault() const { return m_fault; }

    static QString typeName(Type type);

    bool type(Value& value, Type* type);
    // Checks a value down to its last byte without keeping anything of it. `depth` is the
    // level the value would have if it were an object or array.
    bool skip(Value& value, int depth);
    // A string value with its escapes resolved (just checked when `out` is null). Half of a
    // surrogate pair without its other half reads as U+FFFD; a leading U+FEFF is kept.
    bool string(Value& value, QString* out);
    bool boolean(Value& value, bool* out);
    bool object(Value& value, int depth, Object* out);
    bool array(Value& value, int depth, Array* out);

    // Calls `member(name, value)` for each member in text order; `name` has its escapes
    // resolved. Stops at the first fault or when `member` returns false.
    template <typename Member> bool forEachMember(Object& object, Member&& member);
    // Calls `element(value)` for each element in order.
    template <typename Element> bool forEachElement(Array& array, Element&& element);

private:
    bool fail(simdjson::error_code code);
    bool fail(const char* what, const char* at);
    // The text of a string between its quotes, given the byte after the opening quote.
    bool stringText(const char* start, std::string_view* text);
    bool unescape(std::string_view text, QString* out);
    // Writes `text` with its escapes resolved at `*w` and moves `*w` past it (only checks the
    // escapes when `*w` is null); `escape` is the first backslash.
    bool resolveEscapes(std::string_view text, const char* escape, QChar** w);
    // `scratch` holds the name when it had escapes to resolve.
    bool memberName(const char* start, QByteArray* scratch, std::string_view* name);
    bool isAtEnd();

    const char* m_begin = nullptr;
    const char* m_end = nullptr;
    // Bytes before `m_begin` in the caller's body (a skipped byte order mark).
    qsizetype m_offset = 0;
    simdjson::error_code m_parsed = simdjson::SUCCESS;
    QString m_fault;
    simdjson::ondemand::document m_document;
    // QString::fromUtf8 drops a byte order mark at the start of what it decodes; this decoder
    // keeps it, for the strings that need that.
    QStringDecoder m_utf8{QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                      QStringConverter::Flag::ConvertInitialBom};
};

template <typename Read> bool JsonReader::readTopObject(Read&& read) {
    Type top = Type::null;
    Object object;
    auto code = m_parsed;
    if (!code)
        code = m_document.type().get(top);
    if (!code && top != Type::object) {
        m_fault = QStringLiteral("expected object at top level, got ") + typeName(top);
        return false;
    }
    if (!code)
        code = m_document.get_object().get(object);
    if (code)
        return fail(code);
    return read(object) && isAtEnd();
}

template <typename Member> bool JsonReader::forEachMember(Object& object, Member&& member) {
    QByteArray scratch;
    for (auto item : object) {
        simdjson::ondemand::field field;
        std::string_view name;
        if (const auto code = std::move(item).get(field))
            return fail(code);
        if (!memberName(field.key().raw(), &scratch, &name) || !member(name, field.value()))
            return false;
    }
    return true;
}

template <typename Element> bool JsonReader::forEachElement(Array& array, Element&& element) {
    for (auto item : array) {
        Value value;
        if (const auto code = std::move(item).get(value))
            return fail(code);
        if (!element(value))
            return false;
    }
    return true;
}
