#include "InboxMessage.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace inbox {

namespace {
QJsonObject base(const QString& list, const QString& action, qint64 ts) {
    return QJsonObject{{QStringLiteral("list"), list},
                       {QStringLiteral("action"), action},
                       {QStringLiteral("ts"), ts}};
}
} // namespace

QJsonObject toggle(const QString& list, const QString& id, const QString& action, qint64 ts) {
    QJsonObject message = base(list, action, ts);
    message.insert(QStringLiteral("id"), id);
    return message;
}

QJsonObject edit(const QString& list, const QString& id, const QString& text, qint64 ts) {
    QJsonObject message = base(list, QStringLiteral("edit"), ts);
    message.insert(QStringLiteral("id"), id);
    message.insert(QStringLiteral("text"), text);
    return message;
}

QJsonObject add(const QString& list, const QString& text, qint64 ts) {
    QJsonObject message = base(list, QStringLiteral("add"), ts);
    message.insert(QStringLiteral("text"), text);
    return message;
}

QJsonObject reorder(const QString& list, const QList<OrderItem>& order, qint64 ts) {
    QJsonArray array;
    for (const OrderItem& item : order)
        array.append(QJsonObject{{QStringLiteral("id"), item.id}, {QStringLiteral("cat"), item.cat}});
    QJsonObject message = base(list, QStringLiteral("reorder"), ts);
    message.insert(QStringLiteral("order"), array);
    return message;
}

QByteArray serialize(const QJsonObject& message) {
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

} // namespace inbox
