#include "HubMessage.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

using Action = HubMessage::Action;

std::optional<Action> actionNamed(const QString& name) {
    static const QList<std::pair<QString, Action>> names = {
        {QStringLiteral("done"), Action::Done},
        {QStringLiteral("undone"), Action::Undone},
        {QStringLiteral("edit"), Action::Edit},
        {QStringLiteral("add"), Action::Add},
        {QStringLiteral("reorder"), Action::Reorder}};
    for (const auto& [key, action] : names) {
        if (key == name)
            return action;
    }
    return std::nullopt;
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
    // Qt reads a "\ud800" escape into a lone surrogate, which no UTF-8 writer can carry into
    // the feed: the published file would then fail the app's strict decoder.
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

bool orderMember(const QJsonObject& object, QList<inbox::OrderItem>* out, QString* error) {
    const auto it = object.constFind(QStringLiteral("order"));
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
        inbox::OrderItem item;
        if (!stringMember(entry, QStringLiteral("id"), path + QStringLiteral(".id"), &item.id,
                          error) ||
            !stringMember(entry, QStringLiteral("cat"), path + QStringLiteral(".cat"), &item.cat,
                          error))
            return false;
        out->append(std::move(item));
    }
    return true;
}

bool fill(const QJsonObject& object, HubMessage* message, QString* error) {
    QString action;
    if (!stringMember(object, QStringLiteral("action"), QStringLiteral("action"), &action, error))
        return false;
    const auto known = actionNamed(action);
    if (!known) {
        *error =
            QStringLiteral("action: unknown action (expected done, undone, edit, add or reorder)");
        return false;
    }
    message->action = *known;
    if (!stringMember(object, QStringLiteral("list"), QStringLiteral("list"), &message->list,
                      error))
        return false;
    if (message->list != QLatin1String("mine") && message->list != QLatin1String("hers")) {
        *error = QStringLiteral("list: expected \"mine\" or \"hers\"");
        return false;
    }
    if (!integerMember(object, QStringLiteral("ts"), &message->ts, error))
        return false;

    const bool needsId =
        *known == Action::Done || *known == Action::Undone || *known == Action::Edit;
    if (needsId &&
        !stringMember(object, QStringLiteral("id"), QStringLiteral("id"), &message->id, error))
        return false;
    if (*known == Action::Edit || *known == Action::Add) {
        if (!stringMember(object, QStringLiteral("text"), QStringLiteral("text"), &message->text,
                          error))
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

MessageParse parseMessage(QByteArrayView body) {
    MessageParse result;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        // Qt reads only objects and arrays at the top, so "done" lands here too.
        result.error = QStringLiteral("body is not a JSON object: %1 at offset %2")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return result;
    }
    if (!document.isObject()) {
        result.error = QStringLiteral("body is not a JSON object");
        return result;
    }
    HubMessage message;
    if (fill(document.object(), &message, &result.error))
        result.message = std::move(message);
    return result;
}
