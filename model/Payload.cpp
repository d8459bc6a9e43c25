#include "model/Payload.h"

#include "model/JsonReader.h"

#include <QSet>

// The feed's rules over one front-to-back read of the text (JsonReader): the members we read
// are converted and type-checked, every other value is only checked to be JSON. A type error
// is not reported at once: duplicate member names are allowed and the last one wins, and a
// text that is not JSON at all is reported as such, so members and rows are judged only once
// the whole text has been read.
namespace {

using Type = JsonReader::Type;
using Value = JsonReader::Value;

// One member we read, with duplicate names the last one in the text.
struct Member {
    bool present = false;
    Type type = Type::null;
    QString text;      // when type is string
    bool flag = false; // when type is boolean
};

struct RowsMember {
    bool present = false;
    Type type = Type::null;
    QList<Row> rows;
    QString rowError; // the first row that does not decode, as "mine_rows[3].done: ..."
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
        return base.isEmpty() ? QString::fromLatin1(name)
                              : base + QLatin1Char('.') + QLatin1String(name);
    }
};

QString typeError(const Path& path, const char* member, const char* expected, Type got) {
    return QStringLiteral("%1: expected %2, got %3")
        .arg(path.member(member), QLatin1String(expected), JsonReader::typeName(got));
}

bool requiredString(const Member& m, const Path& path, const char* name, QString* out,
                    QString* error) {
    if (!m.present) {
        *error = path.member(name) + QStringLiteral(": missing");
        return false;
    }
    if (m.type != Type::string) {
        *error = typeError(path, name, "string", m.type);
        return false;
    }
    *out = m.text;
    return true;
}

// Absent and null both read as "not given"; any other non-string value fails the row.
bool optionalString(const Member& m, const Path& path, const char* name,
                    std::optional<QString>* out, QString* error) {
    if (!m.present || m.type == Type::null)
        return true;
    if (m.type != Type::string) {
        *error = typeError(path, name, "string", m.type);
        return false;
    }
    *out = m.text;
    return true;
}

// Each read function returns false only when the text is not JSON (the reason is then in the
// reader's `fault()`).
bool readString(JsonReader& json, Value& value, int depth, Member* member) {
    *member = Member();
    member->present = true;
    if (!json.type(value, &member->type))
        return false;
    return member->type == Type::string ? json.string(value, &member->text)
                                        : json.skip(value, depth);
}

bool readBool(JsonReader& json, Value& value, int depth, Member* member) {
    *member = Member();
    member->present = true;
    if (!json.type(value, &member->type))
        return false;
    return member->type == Type::boolean ? json.boolean(value, &member->flag)
                                         : json.skip(value, depth);
}

// Reads one row object; a row that does not decode sets `rowError` unless it is set already
// (then the row only has to be JSON).
bool readRowObject(JsonReader& json, JsonReader::Object& object, int depth, const Path& path,
                   Row* row, QString* rowError) {
    Member kind, text, id, done, doneAt, cat;
    const bool valid = json.forEachMember(object, [&](std::string_view key, Value& value) {
        const int inner = depth + 1;
        return key == "done"     ? readBool(json, value, inner, &done)
               : key == "kind"   ? readString(json, value, inner, &kind)
               : key == "text"   ? readString(json, value, inner, &text)
               : key == "id"     ? readString(json, value, inner, &id)
               : key == "doneAt" ? readString(json, value, inner, &doneAt)
               : key == "cat"    ? readString(json, value, inner, &cat)
                                 : json.skip(value, inner);
    });
    if (!valid || !rowError->isEmpty())
        return valid;
    if (!requiredString(kind, path, "kind", &row->kind, rowError) ||
        !requiredString(text, path, "text", &row->text, rowError) ||
        !optionalString(id, path, "id", &row->id, rowError) ||
        !optionalString(doneAt, path, "doneAt", &row->doneAt, rowError) ||
        !optionalString(cat, path, "cat", &row->cat, rowError))
        return true;
    if (done.present && done.type != Type::null) {
        if (done.type != Type::boolean)
            *rowError = typeError(path, "done", "boolean", done.type);
        else
            row->done = done.flag;
    }
    return true;
}

// The rows are kept as long as the feed is shown: without the room the list grew into (up to
// half of it, a MB at 10,000 tasks) for one copy made once per decoded feed.
bool squeezed(QList<Row>* rows) {
    rows->squeeze();
    return true;
}

bool readRows(JsonReader& json, Value& value, int depth, const char* name, RowsMember* rows) {
    *rows = RowsMember();
    rows->present = true;
    JsonReader::Array array;
    if (!json.type(value, &rows->type))
        return false;
    if (rows->type != Type::array)
        return json.skip(value, depth);
    if (!json.array(value, depth, &array))
        return false;
    qsizetype index = 0;
    // Kinds, sections and days repeat from row to row: each distinct text is held once, which
    // at 10,000 tasks is a MB less for as long as the feed is shown.
    QSet<QString> seen;
    const auto shared = [&seen](QString& text) {
        const auto known = seen.constFind(text);
        if (known != seen.constEnd())
            text = *known;
        else
            seen.insert(text);
    };
    return json.forEachElement(array, [&](Value& element) {
        const Path path{name, index++};
        Type type;
        JsonReader::Object object;
        if (!json.type(element, &type))
            return false;
        if (type != Type::object) {
            if (rows->rowError.isEmpty())
                rows->rowError = typeError(path, nullptr, "object", type);
            return json.skip(element, depth + 1);
        }
        Row row;
        if (!json.object(element, depth + 1, &object) ||
            !readRowObject(json, object, depth + 1, path, &row, &rows->rowError))
            return false;
        if (!rows->rowError.isEmpty())
            return true;
        shared(row.kind);
        if (row.cat)
            shared(*row.cat);
        if (row.doneAt)
            shared(*row.doneAt);
        rows->rows.append(std::move(row));
        return true;
    }) && squeezed(&rows->rows);
}

bool rowsOf(RowsMember& m, const char* name, QList<Row>* out, QString* error) {
    if (!m.present)
        *error = QLatin1String(name) + QStringLiteral(": missing");
    else if (m.type != Type::array)
        *error = typeError(Path{name}, nullptr, "array", m.type);
    else if (!m.rowError.isEmpty())
        *error = m.rowError;
    else
        *out = std::move(m.rows);
    return error->isEmpty();
}

// An extra member's raw token (a scalar's whole text, or just the opening bracket of an array
// or object), still walked through so its syntax is checked like every other value's.
bool readExtra(JsonReader& json, Value& value, QByteArray* out) {
    const std::string_view token = value.raw_json_token();
    *out = QByteArray(token.data(), qsizetype(token.size())).trimmed();
    return json.skip(value, 2);
}

bool readPayload(JsonReader& json, JsonReader::Object& top, QByteArrayView extraName, Payload* payload,
                 QByteArray* extra, QString* error) {
    Member updated, mineTitle, mine, hersTitle, hers;
    RowsMember mineRows, hersRows;
    const std::string_view extraKey(extraName.data(), size_t(extraName.size()));
    const bool valid = json.forEachMember(top, [&](std::string_view key, Value& value) {
        if (!extraKey.empty() && key == extraKey)
            return readExtra(json, value, extra);
        return key == "mine_rows"    ? readRows(json, value, 2, "mine_rows", &mineRows)
               : key == "hers_rows"  ? readRows(json, value, 2, "hers_rows", &hersRows)
               : key == "updated"    ? readString(json, value, 2, &updated)
               : key == "mine_title" ? readString(json, value, 2, &mineTitle)
               : key == "mine"       ? readString(json, value, 2, &mine)
               : key == "hers_title" ? readString(json, value, 2, &hersTitle)
               : key == "hers"       ? readString(json, value, 2, &hers)
                                     : json.skip(value, 2);
    });
    if (!valid)
        return false;
    // In the members' documented order, so the reason names the first one that fails.
    const Path topLevel{""};
    if (requiredString(updated, topLevel, "updated", &payload->updated, error) &&
        requiredString(mineTitle, topLevel, "mine_title", &payload->mine_title, error) &&
        requiredString(mine, topLevel, "mine", &payload->mine, error) &&
        rowsOf(mineRows, "mine_rows", &payload->mine_rows, error) &&
        requiredString(hersTitle, topLevel, "hers_title", &payload->hers_title, error) &&
        requiredString(hers, topLevel, "hers", &payload->hers, error))
        rowsOf(hersRows, "hers_rows", &payload->hers_rows, error);
    return true;
}

} // namespace

std::optional<Row> decodeRowText(QByteArrayView json, const QString& path, QString* error) {
    JsonReader reader(json);
    Row row;
    QString rowError;
    Path where;
    where.custom = &path;
    if (!reader.readTopObject([&](JsonReader::Object& object) {
            return readRowObject(reader, object, 1, where, &row, &rowError);
        })) {
        *error = path + QStringLiteral(": ") + reader.fault();
        return std::nullopt;
    }
    if (!rowError.isEmpty()) {
        *error = rowError;
        return std::nullopt;
    }
    return row;
}

DecodeResult decodePayload(QByteArrayView body, QByteArrayView extra) {
    DecodeResult result;
    JsonReader reader(body);
    Payload payload;
    if (!reader.readTopObject([&](JsonReader::Object& top) {
            return readPayload(reader, top, extra, &payload, &result.extra, &result.error);
        }))
        result.error = QStringLiteral("body: ") + reader.fault();
    else if (result.error.isEmpty())
        result.payload = std::move(payload);
    return result;
}
