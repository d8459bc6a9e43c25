#pragma once

#include "model/InboxMessage.h"
#include "model/Payload.h"

#include <QDateTime>

// What applying a message needs from outside, so tests can pin the clock and the new id.
struct ApplyContext {
    QDateTime now; // local time at which the change is applied
    QString newId; // id for an added task; never starts with "pending-"
};

// The rows of `list` after a reorder: the visible items carry the sent ids and cats in the
// sent order (see docs/HUB.md for where headers and hidden items go).
QList<Row> reorderRows(const QList<Row>& rows, const QList<inbox::OrderItem>& order,
                       const QString& today);

// Applies one message to the feed. Returns whether any row changed; only then does
// `updated` move to ctx.now. A message naming an unknown id changes nothing.
bool applyMessage(Payload& feed, const inbox::Message& message, const ApplyContext& ctx);
