#pragma once

#include "HubMessage.h"
#include "Payload.h"

#include <QDateTime>

// What applying a message needs from outside, so tests can pin the clock and the new id.
struct ApplyContext {
    QDateTime now; // local time at which the change is applied
    QString newId; // id for an added task; never starts with "pending-"
};

// The app shows an item while it is not done, or done with `doneAt` equal to today.
bool isVisibleItem(const Row& row, const QString& today);

// The rows of `list` after a reorder: the visible items carry the sent ids and cats in the
// sent order (see docs/HUB.md for where headers and hidden items go).
QList<Row> reorderRows(const QList<Row>& rows, const QList<inbox::OrderItem>& order,
                       const QString& today);

// Applies one message to the feed. Returns whether any row changed; only then does
// `updated` move to ctx.now. A message naming an unknown id changes nothing.
bool applyMessage(Payload& feed, const HubMessage& message, const ApplyContext& ctx);
