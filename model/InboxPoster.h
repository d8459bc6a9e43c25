#pragma once

#include "model/InboxMessage.h"

#include <QList>
#include <QString>

// What the write path asks of the network side: send the message a change calls for, and fetch
// the feed again soon after. The feed client (sync/FeedSync) implements it, so the model needs
// no network.
class InboxPoster {
public:
    virtual ~InboxPoster() = default;

    virtual void postInbox(const QString& id, inbox::Action action) = 0; // Done or Undone
    virtual void postInboxEdit(const QString& id, const QString& text) = 0;
    // `pendingId`: the added row waiting in the overlay for the feed to carry the task.
    virtual void postInboxAdd(const QString& text, const QString& pendingId = {}) = 0;
    virtual void postInboxReorder(const QList<inbox::OrderItem>& order) = 0;
    // A few more refreshes soon, so that the change shows in the feed without waiting for the
    // next regular one.
    virtual void scheduleQuickRefresh() = 0;
};
