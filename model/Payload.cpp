#include "Payload.h"

#include <simdjson.h>

// simdjson validates the whole text (UTF-8, string escapes, number grammar, nesting) before
// we look at a single member, which is what all-or-nothing decoding needs, and it does so
// several times faster than building a QJsonDocument.
namespace dom = simdjson::dom;

namespace {

QString fromUtf8(std::string_view v) {
    return QString::fromUtf8(v.data(), qsizetype(v.size()));
}

QString typeName(dom::element_type type) {
    switch (type) {
    case dom::element_type::ARRAY:
        return QStringLiteral("array");
    case dom::element_type::OBJECT:
        return QStringLiteral("object");
    case dom::element_type::INT64:
    case dom::element_type::UINT64:
    case dom::element_type::DOUBLE:
        return QStringLiteral("number");
    case dom::element_type::STRING:
        return QStringLiteral("string");
    case dom::element_type::BOOL:
        return QStringLiteral("boolean");
    case dom::element_type::NULL_VALUE:
        break;
    }
    return QStringLiteral("null");
}

// A member looked up by name; with duplicate names the last one in the text wins.
struct Member {
    dom::element value;
    bool present = false;
};

// Builds the "mine_rows[3]" style path only when an error is reported.
struct Path {
    const char* list = nullptr;
    qsizetype index = -1;
    const QString* custom = nullptr;

    QString member(const char* name) const {
        QString base = custom ? *custom : QString::fromLatin1(list);
        if (!custom && index >= 0)
            base += QStringLiteral("[%1]").arg(index);
        if (!name)
            return base;
        return base.isEmpty() ? QString::fromLatin1(name) : base + QLatin1Char('.') + QLatin1String(name);
    }
};

bool typeError(const Path& path, const char* member, const char* expected, dom::element got,
               QString* error) {
    *error = QStringLiteral("%1: expected %2, got %3")
                 .arg(path.member(member), QLatin1String(expected), typeName(got.type()));
    return false;
}

bool requiredString(const Member& m, const Path& path, const char* name, QString* out, QString* error) {
    if (!m.present) {
        *error = path.member(name) + QStringLiteral(": missing");
        return false;
    }
    std::string_view s;
    if (m.value.get_string().get(s) != simdjson::SUCCESS)
        return typeError(path, name, "string", m.value, error);
    *out = fromUtf8(s);
    return true;
}

// Absent and null both read as "not given"; any other non-string value fails the row.
bool optionalString(const Member& m, const Path& path, const char* name, std::optional<QString>* out,
                    QString* error) {
    if (!m.present || m.value.is_null())
        return true;
    std::string_view s;
    if (m.value.get_string().get(s) != simdjson::SUCCESS)
        return typeError(path, name, "string", m.value, error);
    *out = fromUtf8(s);
    return true;
}

bool decodeRowElement(dom::element element, const Path& path, Row* row, QString* error) {
    dom::object obj;
    if (element.get_object().get(obj) != simdjson::SUCCESS)
        return typeError(path, nullptr, "object", element, error);
    Member kind, text, id, done, doneAt, cat;
    for (const dom::key_value_pair field : obj) {
        const std::string_view key = field.key;
        Member* slot = key == "kind"     ? &kind
                       : key == "text"   ? &text
                       : key == "id"     ? &id
                       : key == "done"   ? &done
                       : key == "doneAt" ? &doneAt
                       : key == "cat"    ? &cat
                                         : nullptr;
        if (slot)
            *slot = {field.value, true};
    }
    if (!requiredString(kind, path, "kind", &row->kind, error) ||
        !requiredString(text, path, "text", &row->text, error) ||
        !optionalString(id, path, "id", &row->id, error) ||
        !optionalString(doneAt, path, "doneAt", &row->doneAt, error) ||
        !optionalString(cat, path, "cat", &row->cat, error))
        return false;
    if (done.present && !done.value.is_null()) {
        bool value = false;
        if (done.value.get_bool().get(value) != simdjson::SUCCESS)
            return typeError(path, "done", "boolean", done.value, error);
        row->done = value;
    }
    return true;
}

bool decodeRows(const Member& m, const char* name, QList<Row>* out, QString* error) {
    const Path path{name};
    if (!m.present) {
        *error = path.member(nullptr) + QStringLiteral(": missing");
        return false;
    }
    dom::array array;
    if (m.value.get_array().get(array) != simdjson::SUCCESS)
        return typeError(path, nullptr, "array", m.value, error);
    out->reserve(qsizetype(array.size()));
    qsizetype index = 0;
    for (const dom::element element : array) {
        Row row;
        if (!decodeRowElement(element, Path{name, index}, &row, error))
            return false;
        out->append(std::move(row));
        ++index;
    }
    return true;
}

// Parses one complete JSON text; the parser is reused so steady refreshes do not reallocate.
simdjson::error_code parse(QByteArrayView body, dom::element* root) {
    thread_local dom::parser parser;
    // A byte order mark is tolerated, as the JSON standard allows parsers to; some publishing
    // tools on other systems write one.
    if (body.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    // An empty QByteArray has no buffer at all; the parser copies from its pointer regardless.
    static const char kEmpty[1] = {};
    const char* data = body.isEmpty() ? kEmpty : body.data();
    return parser.parse(data, size_t(body.size()), true).get(*root);
}

QString syntaxError(simdjson::error_code code) {
    return QStringLiteral("body: ") + QString::fromUtf8(simdjson::error_message(code));
}

} // namespace

std::optional<Row> decodeRowText(QByteArrayView json, const QString& path, QString* error) {
    dom::element root;
    if (const auto code = parse(json, &root)) {
        *error = path + QStringLiteral(": ") + QString::fromUtf8(simdjson::error_message(code));
        return std::nullopt;
    }
    Row row;
    Path where;
    where.custom = &path;
    if (!decodeRowElement(root, where, &row, error))
        return std::nullopt;
    return row;
}

DecodeResult decodePayload(QByteArrayView body, QByteArrayView extra) {
    DecodeResult result;
    dom::element root;
    if (const auto code = parse(body, &root)) {
        result.error = syntaxError(code);
        return result;
    }
    dom::object top;
    if (root.get_object().get(top) != simdjson::SUCCESS) {
        result.error = QStringLiteral("body: expected object at top level, got ") + typeName(root.type());
        return result;
    }
    Member updated, mineTitle, mine, mineRows, hersTitle, hers, hersRows;
    for (const dom::key_value_pair field : top) {
        const std::string_view key = field.key;
        Member* slot = key == "updated"      ? &updated
                       : key == "mine_title" ? &mineTitle
                       : key == "mine"       ? &mine
                       : key == "mine_rows"  ? &mineRows
                       : key == "hers_title" ? &hersTitle
                       : key == "hers"       ? &hers
                       : key == "hers_rows"  ? &hersRows
                                             : nullptr;
        if (slot)
            *slot = {field.value, true};
        else if (!extra.isEmpty() && key == std::string_view(extra.data(), size_t(extra.size())))
            result.extra = QByteArray::fromStdString(simdjson::minify(field.value));
    }
    Payload p;
    const Path top_{""};
    QString& error = result.error;
    if (!requiredString(updated, top_, "updated", &p.updated, &error) ||
        !requiredString(mineTitle, top_, "mine_title", &p.mine_title, &error) ||
        !requiredString(mine, top_, "mine", &p.mine, &error) ||
        !decodeRows(mineRows, "mine_rows", &p.mine_rows, &error) ||
        !requiredString(hersTitle, top_, "hers_title", &p.hers_title, &error) ||
        !requiredString(hers, top_, "hers", &p.hers, &error) ||
        !decodeRows(hersRows, "hers_rows", &p.hers_rows, &error))
        return result;
    result.payload = std::move(p);
    return result;
}
