#pragma once

#include "InboxMessage.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// One inbox message as the hub understands it, after every member has been checked.
struct HubMessage {
    enum class Action { Done, Undone, Edit, Add, Reorder };

    QString list; // "mine" or "hers"
    Action action = Action::Done;
    qint64 ts = 0;
    QString id;                    // done, undone, edit
    QString text;                  // edit, add
    QList<inbox::OrderItem> order; // reorder
};

struct MessageParse {
    std::optional<HubMessage> message;
    // One line saying what is wrong, e.g. "ts: expected an integer number". Empty on success.
    QString error;
};

// Checks one request body. Members the action does not use, and unknown members, are
// ignored so that a newer app can add members without being refused.
MessageParse parseMessage(QByteArrayView body);
