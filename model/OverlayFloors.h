#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <array>

// Which fetched feeds may end an overlay entry. A feed that agrees with an entry can still be
// older than a message about the same thing: tick, untick, tick quickly, and the feed that
// carries only the first message agrees with the third state while the second is on its way;
// ending the entry there would show the untick once the second message reaches the feed.
// So an entry ends only when no message about it is waiting for the relay's answer and the
// feed comes from a fetch started after the last answer (the feed's publisher applies a
// message before it answers, so that feed carries every message about the entry). Entries no
// message was recorded for (none sent, as for pending ids) are ended by any agreeing feed.
class OverlayFloors {
public:
    // One kind per overlay map; the key is the task id (Done, Text), the pending id of the
    // added row (Add) or the list key (Order).
    enum class Kind { Done, Text, Add, Order };

    struct Entry {
        Kind kind;
        QString key;
    };

    // A message about the entry has gone out.
    void sent(const Entry& entry);
    // Its answer came, or the post failed or timed out (the message may still have arrived);
    // `nextFetch` is the number the next fetch will carry.
    void answered(const Entry& entry, quint64 nextFetch);
    // An added task, before its message goes out: the keys of the tasks with the same text
    // the user could see then. A task with that text and another key is the addition landed
    // (nothing but an addition makes one), so it ends the added row whatever the answers; one
    // of these does not, since it was there before.
    void added(const QString& pendingId, const QSet<QString>& sameText);
    // Whether the feed of fetch number `fetch` may end the entry, if it agrees with it.
    bool settles(Kind kind, const QString& key, quint64 fetch) const;
    // Whether the task keyed `key` was not among those the user saw beside the added row.
    bool isNewBeside(const QString& pendingId, const QString& key) const;
    // The keys added() noted for the row, so they outlive a restart with its message.
    QSet<QString> sameTextBeside(const QString& pendingId) const;
    // The entry has ended: its record goes too.
    void forget(Kind kind, const QString& key);
    bool isEmpty() const;

private:
    struct Floor {
        int unanswered = 0;
        quint64 firstFetch = 0; // the first fetch started after the last answer
        QSet<QString> sameText; // Add only: see added()
    };
    QHash<QString, Floor>& of(Kind kind) { return m_floors[std::size_t(kind)]; }
    const QHash<QString, Floor>& of(Kind kind) const { return m_floors[std::size_t(kind)]; }

    std::array<QHash<QString, Floor>, 4> m_floors;
};
