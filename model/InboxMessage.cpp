#include "model/InboxMessage.h"

#include "model/ListRules.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace inbox {

namespace {

const QString kList = QStringLiteral("list");
const QString kAction = QStringLiteral("action");
const QString kTs = QStringLiteral("ts");
const QString kId = QStringLiteral("id");
const QString kText = QStringLiteral("text");
const QString kOrder = QStringLiteral("order");
const QString kCat = QStringLiteral("cat");

constexpr std::pair<Action, const char16_t*> kNames[] = {{Action::Done, u"done"},
                                                         {Action::Undone, u"undone"},
                                                         {Action::Edit, u"edit"},
                                                         {Action::Add, u"add"},
                                                         {Action::Reorder, u"reorder"}};

bool namesTask(Action action) {
    return action == Action::Done || action == Action::Undone || action == Action::Edit;
}

bool carriesText(Action action) {
    return action == Action::Edit || action == Action::Add;
}

QString typeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("boolean");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("array");
    case QJsonValue::Object:
        return QStringLiteral("object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

bool stringMember(const QJsonObject& object, const QString& name, const QString& path, QString* out,
                  QString* error) {
    const auto it = object.constFind(name);
    if (it == object.constEnd()) {
        *error = path + QStringLiteral(": missing");
        return false;
    }
    if (!it->isString()) {
        *error = path + QStringLiteral(": expected string, got ") + typeName(*it);
        return false;
    }
    *out = it->toString();
    // Qt reads a "\ud800" escape into a lone surrogate, which no UTF-8 writer can carry on:
    // a feed holding it would fail the app's strict decoder.
    if (!QStringView(*out).isValidUtf16()) {
        *error = path + QStringLiteral(": not valid Unicode (a lone surrogate)");
        return false;
    }
    return true;
}

// JSON has one number type, so 12, 12.0 and 1.2e1 are the same integer. Qt stores every
// integral value that fits 64 bits as an integer, exactly (no rounding through a double), and
// going through CBOR exposes that; fractions and larger values are refused.
bool integerMember(const QJsonObject& object, const QString& name, qint64* out, QString* error) {
    const auto it = object.constFind(name);
    if (it == object.constEnd()) {
        *error = name + QStringLiteral(": missing");
        return false;
    }
    const QCborValue cbor = QCborValue::fromJsonValue(*it);
    if (!cbor.isInteger()) {
        *error = name + QStringLiteral(": expected an integer number, got ") +
                 (it->isDouble() ? QStringLiteral("a fraction or a value beyond 64 bits")
                                 : typeName(*it));
        return false;
    }
    *out = cbor.toInteger();
    return true;
}

bool orderMember(const QJsonObject& object, QList<OrderItem>* out, QString* error) {
    const auto it = object.constFind(kOrder);
    if (it == object.constEnd()) {
        *error = QStringLiteral("order: missing");
        return false;
    }
    if (!it->isArray()) {
        *error = QStringLiteral("order: expected array, got ") + typeName(*it);
        return false;
    }
    const QJsonArray array = it->toArray();
    out->reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString path = QStringLiteral("order[%1]").arg(i);
        const QJsonValue element = array.at(i);
        if (!element.isObject()) {
            *error = path + QStringLiteral(": expected object, got ") + typeName(element);
            return false;
        }
        const QJsonObject entry = element.toObject();
        OrderItem item;
        if (!stringMember(entry, kId, path + QStringLiteral(".id"), &item.id, error) ||
            !stringMember(entry, kCat, path + QStringLiteral(".cat"), &item.cat, error))
            return false;
        out->append(std::move(item));
    }
    return true;
}

bool fill(const QJsonObject& object, Message* message, QString* error) {
    QString action;
    if (!stringMember(object, kAction, kAction, &action, error))
        return false;
    const auto known = actionNamed(action);
    if (!known) {
        *error =
            QStringLiteral("action: unknown action (expected done, undone, edit, add or reorder)");
        return false;
    }
    message->action = *known;
    if (!stringMember(object, kList, kList, &message->list, error))
        return false;
    if (message->list != rules::kMine && message->list != rules::kHers) {
        *error = QStringLiteral("list: expected \"mine\" or \"hers\"");
        return false;
    }
    if (!integerMember(object, kTs, &message->ts, error))
        return false;
    if (namesTask(*known) && !stringMember(object, kId, kId, &message->id, error))
        return false;
    if (carriesText(*known)) {
        if (!stringMember(object, kText, kText, &message->text, error))
            return false;
        if (message->text.isEmpty()) {
            *error = QStringLiteral("text: must not be empty");
            return false;
        }
    }
    if (*known == Action::Reorder)
        return orderMember(object, &message->order, error);
    return true;
}

} // namespace

QString actionName(Action action) {
    for (const auto& [value, name] : kNames) {
        if (value == action)
            return QString::fromUtf16(name);
    }
    return {};
}

std::optional<Action> actionNamed(QStringView name) {
    for (const auto& [value, text] : kNames) {
        if (name == QStringView(text))
            return value;
    }
    return std::nullopt;
}

QJsonObject toJson(const Message& message) {
    QJsonObject object{{kList, message.list}, {kAction, actionName(message.action)}, {kTs, message.ts}};
    if (namesTask(message.action))
        object.insert(kId, message.id);
    if (carriesText(message.action))
        object.insert(kText, message.text);
    if (message.action == Action::Reorder) {
        QJsonArray array;
        for (const OrderItem& item : message.order)
            array.append(QJsonObject{{kId, item.id}, {kCat, item.cat}});
        object.insert(kOrder, array);
    }
    return object;
}

QJsonObject toggle(const QString& list, const QString& id, bool done, qint64 ts) {
    return toJson(Message{list, done ? Action::Done : Action::Undone, ts, id, {}, {}});
}

QJsonObject edit(const QString& list, const QString& id, const QString& text, qint64 ts) {
    return toJson(Message{list, Action::Edit, ts, id, text, {}});
}

QJsonObject add(const QString& list, const QString& text, qint64 ts) {
    return toJson(Message{list, Action::Add, ts, {}, text, {}});
}

QJsonObject reorder(const QString& list, const QList<OrderItem>& order, qint64 ts) {
    return toJson(Message{list, Action::Reorder, ts, {}, {}, order});
}

QByteArray serialize(const QJsonObject& message) {
    QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    // Qt's reader (the hub's, and ours) drops a raw U+FEFF at the start of a string, so a text
    // that begins with one would lose it on the way. Escaped, it is the same JSON string and
    // survives; outside strings compact JSON has no such bytes.
    if (body.contains("\xEF\xBB\xBF"))
        body.replace("\xEF\xBB\xBF", "\\ufeff");
    return body;
}

namespace {

// A JSON string as Qt's compact writer spells it: `"` and `\` escaped, control characters as
// \b \f \n \r \t or \u00xx, everything else UTF-8 (half a surrogate pair as \uxxxx), and
// U+FEFF escaped as serialize() does.
void putUtf8(QByteArray& out, char32_t c) {
    if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
    }
    out.append(char(0x80 | (c & 0x3F)));
}

void putString(QByteArray& out, const QString& text) {
    constexpr char kHex[] = "0123456789abcdef";
    const auto escape = [&](char16_t u) {
        out.append("\\u");
        for (int shift = 12; shift >= 0; shift -= 4)
            out.append(kHex[(u >> shift) & 0xf]);
    };
    out.append('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x20 && u < 0x80 && u != u'"' && u != u'\\') {
            out.append(char(u));
        } else if (u < 0x80) {
            const char* named = u == u'"' ? "\\\"" : u == u'\\' ? "\\\\" : u == u'\b' ? "\\b"
                              : u == u'\f' ? "\\f" : u == u'\n' ? "\\n" : u == u'\r' ? "\\r"
                              : u == u'\t' ? "\\t" : nullptr;
            if (named)
                out.append(named);
            else
                escape(u);
        } else if (u == 0xFEFF || (QChar::isSurrogate(u) && !(QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                                                             text[i + 1].isLowSurrogate()))) {
            escape(u);
        } else {
            putUtf8(out, QChar::isHighSurrogate(u) ? QChar::surrogateToUcs4(u, text[++i].unicode()) : u);
        }
    }
    out.append('"');
}

void putMember(QByteArray& out, const char* name, const QString& value) {
    out.append('"').append(name).append("\":");
    putString(out, value);
    out.append(',');
}

} // namespace

QByteArray serialize(const Message& message) {
    // Qt keeps an object's members sorted by name; so does this.
    QByteArray out("{");
    out.reserve(128 + message.text.size() * 3 + message.order.size() * 48);
    putMember(out, "action", actionName(message.action));
    if (namesTask(message.action))
        putMember(out, "id", message.id);
    putMember(out, "list", message.list);
    if (message.action == Action::Reorder) {
        out.append("\"order\":[");
        for (const OrderItem& item : message.order) {
            out.append("{\"cat\":");
            putString(out, item.cat);
            out.append(",\"id\":");
            putString(out, item.id);
            out.append("},");
        }
        if (!message.order.isEmpty())
            out.chop(1);
        out.append("],");
    }
    if (carriesText(message.action))
        putMember(out, "text", message.text);
    out.append("\"ts\":").append(QByteArray::number(message.ts)).append('}');
    return out;
}

Parse parse(QByteArrayView body) {
    Parse result;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        // Qt reads only objects and arrays at the top, so a bare "done" lands here too.
        result.error = QStringLiteral("body is not a JSON object: %1 at offset %2")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return result;
    }
    if (!document.isObject()) {
        result.error = QStringLiteral("body is not a JSON object");
        return result;
    }
    return fromJson(document.object());
}

Parse fromJson(const QJsonObject& object) {
    Parse result;
    Message message;
    if (fill(object, &message, &result.error))
        result.message = std::move(message);
    return result;
}

} // namespace inbox
