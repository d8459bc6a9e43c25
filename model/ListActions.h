#pragma once

#include "model/InboxPoster.h"
#include "model/ListStore.h"

#include <QObject>
#include <optional>

// The one write path for user changes, shared by the tray menu and the note panel. Each
// operation writes the local overlay (so the change shows at once), emits changed() for
// every view to follow, posts the one inbox message the change calls for (never about a
// task with a pending id) and, for edits, additions and reorders, asks for quick refreshes.
class ListActions : public QObject {
    Q_OBJECT

public:
    ListActions(ListStore& store, InboxPoster& poster, QObject* parent = nullptr);

    // The arguments are taken by value: the views that call these are rebuilt by changed(),
    // and with them the strings a reference would point into.

    // Flips a task from the state it was shown in. Nothing for an empty id.
    void toggle(QString id, bool wasDone);
    // Sets a task's text to `text` trimmed. An empty, unchanged or id-less edit changes
    // nothing and returns false.
    bool edit(QString id, const QString& oldText, const QString& text);
    // Adds a task with `text` trimmed to the chosen list under a new pending id, which it
    // returns; nothing for a text of white space only.
    std::optional<QString> add(const QString& text);
    // Makes `order` the chosen list's order (tasks with pending or empty ids are left out)
    // and sends it; nothing when no task with a real id is left.
    void reorder(const QList<OrderEntry>& order);
    // Shows "mine" or "hers". No request: every feed carries both lists.
    void chooseList(const QString& list);
    // Collapses or expands a section of the note panel (the menu always shows all).
    void toggleCollapse(const QString& label);

signals:
    // The state the views draw from has changed; each view decides what to redraw.
    void changed();

private:
    ListStore& m_store;
    InboxPoster& m_poster;
};
