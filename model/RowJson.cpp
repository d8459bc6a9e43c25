#include "RowJson.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray jsonString(const QString& text) {
    // Qt's writer does the escaping; a one-element array is the cheapest way to reach it for a
    // lone string.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray rowJson(const Row& row) {
    QByteArray out = "{\"kind\": " + jsonString(row.kind) + ", \"text\": " + jsonString(row.text);
    if (row.id)
        out += ", \"id\": " + jsonString(*row.id);
    if (row.done)
        out += *row.done ? ", \"done\": true" : ", \"done\": false";
    if (row.doneAt)
        out += ", \"doneAt\": " + jsonString(*row.doneAt);
    if (row.cat)
        out += ", \"cat\": " + jsonString(*row.cat);
    return out + '}';
}
