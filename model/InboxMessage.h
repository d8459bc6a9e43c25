#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// Builders of the small JSON objects the app posts to the relay's inbox topic. Each carries
// the list shown when it was sent, the action, and the send time in whole seconds.
namespace inbox {

struct OrderItem {
    QString id;
    QString cat;
};

QJsonObject toggle(const QString& list, const QString& id, const QString& action, qint64 ts);
QJsonObject edit(const QString& list, const QString& id, const QString& text, qint64 ts);
QJsonObject add(const QString& list, const QString& text, qint64 ts);
QJsonObject reorder(const QString& list, const QList<OrderItem>& order, qint64 ts);

// Compact UTF-8 JSON, the form the relay passes on unchanged.
QByteArray serialize(const QJsonObject& message);

} // namespace inbox
