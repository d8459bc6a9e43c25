#pragma once

#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The inbox message: one small JSON object the app posts to the relay's topic and the other
// party (the hub) reads. Its form is written here once: action names, the members of each
// kind, and the checks a reader applies.
namespace inbox {

enum class Action { Done, Undone, Edit, Add, Reorder };

QString actionName(Action action);
std::optional<Action> actionNamed(QStringView name);

struct OrderItem {
    QString id;
    QString cat;

    bool operator==(const OrderItem&) const = default;
};

// One message after every member has been checked. Which fields are used depends on the action:
// id for done, undone and edit; text for edit and add; order for reorder.
struct Message {
    QString list; // "mine" or "hers"
    Action action = Action::Done;
    qint64 ts = 0;
    QString id;
    QString text;
    QList<OrderItem> order;

    bool operator==(const Message&) const = default;
};

// The JSON object of a message: list, action and ts, plus the members its action carries.
QJsonObject toJson(const Message& message);

// Builders of the messages the app sends. `ts` is the send time in whole seconds.
QJsonObject toggle(const QString& list, const QString& id, bool done, qint64 ts);
QJsonObject edit(const QString& list, const QString& id, const QString& text, qint64 ts);
QJsonObject add(const QString& list, const QString& text, qint64 ts);
QJsonObject reorder(const QString& list, const QList<OrderItem>& order, qint64 ts);

// Compact UTF-8 JSON, the form the relay passes on unchanged.
QByteArray serialize(const QJsonObject& message);
// The same bytes as serialize(toJson(message)), written directly: a reorder of 10,000 tasks
// would otherwise be 10,000 JSON objects made, written out and dropped.
QByteArray serialize(const Message& message);

struct Parse {
    std::optional<Message> message;
    // One line saying what is wrong, e.g. "ts: expected an integer number". Empty on success.
    QString error;
};

// Checks one message body: `list` "mine" or "hers", a known action, `ts` an integral number
// that fits 64 bits, `id` and `text` strings where the action needs them (`text` not empty),
// `order` an array of objects with string `id` and `cat`, every string valid Unicode. Members
// the action does not use, and unknown members, are ignored so a newer sender is not refused.
Parse parse(QByteArrayView body);
// The same checks on an object read already (a record that holds a message as a member).
Parse fromJson(const QJsonObject& object);

} // namespace inbox
