#pragma once

#include "model/Clock.h"
#include "model/InboxMessage.h"
#include "model/ListRules.h"
#include "model/OverlayFloors.h"
#include "model/Payload.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QStringList>

// A visible task together with the label of the section it is shown in.
struct OrderedItem {
    Row row;
    QString sec;

    bool operator==(const OrderedItem&) const = default;
};

// What the views draw of the chosen list, made once per change: the menu and the note panel
// read the same one.
struct ListSnapshot {
    QString title;
    QStringList sectionLabels;
    QList<OrderedItem> items;
    // Headers and tasks section by section: every task (the menu), and with the tasks of
    // collapsed sections left out (the panel).
    QList<Row> rows;
    QList<Row> foldedRows;
};

// The one owner of the chosen list: the last good feed, the user's local overlay (ticks,
// texts, additions, orders, collapsed sections) and which list is shown. Its state changes only
// through the user's actions and the network's inputs below; everyone else reads. No widgets
// and no network.
class ListStore {
public:
    static inline const QString& kMine = rules::kMine;
    static inline const QString& kHers = rules::kHers;
    static inline const QString& kDefaultSection = rules::kDefaultSection;

    // `clock` says what "today" is; tests and tools hand in one of their own.
    explicit ListStore(const Clock& clock = Clock::system());

    const std::optional<Payload>& payload() const { return m_payload; }
    const QString& choice() const { return m_choice; }
    const QHash<QString, bool>& localDone() const { return m_localDone; }
    const QHash<QString, QString>& localText() const { return m_localText; }
    const QHash<QString, QList<Row>>& pendingAdd() const { return m_pendingAdd; }
    const QHash<QString, QList<OrderEntry>>& orderOverride() const { return m_orderOverride; }
    const QSet<QString>& collapsedCats() const { return m_collapsedCats; }
    // What the messages about each overlay entry have got back so far: when a feed may end it.
    const OverlayFloors& floors() const { return m_floors; }

    // The views, from the snapshot of the current state (made again after a change, and when
    // the day has changed, since tasks done on an earlier day are not shown).
    const ListSnapshot& snapshot() const;
    // Moves on whenever the snapshot changes (a change, a fold, a new day), so a view that drew
    // revision N shows the state as it is while the revision is still N.
    quint64 revision() const {
        snapshot();
        return m_revision;
    }
    const QString& currentTitle() const { return snapshot().title; }
    const QStringList& sectionLabels() const { return snapshot().sectionLabels; }
    const QList<OrderedItem>& orderedItems() const { return snapshot().items; }
    const QList<Row>& displayRows(bool honorCollapse) const {
        return honorCollapse ? snapshot().foldedRows : snapshot().rows;
    }
    QList<Row> currentRows() const;
    bool effDone(const Row& row) const;
    QString todayStr() const;

    // The user's actions.
    void setDone(const QString& id, bool done);
    void setText(const QString& id, const QString& text);
    // Appends a task the user added (under a pending id) to the chosen list's additions,
    // noting the tasks with the same text the list holds now (see OverlayFloors::added).
    void addPending(Row row);
    // The chosen list's order, replacing any earlier one.
    void setOrder(QList<OrderEntry> order);
    // Shows "mine" or "hers" (anything else is "hers").
    void choose(const QString& list);
    void toggleCollapse(const QString& label);

    // A message made before the last quit and still waiting to be delivered: its change goes
    // back into the overlay of its list (an add as the row `pendingId`, with the keys of the
    // tasks that had its text then), so the user sees it as before.
    // `shownText`: an add's row shows it instead (edited after the add may have gone out).
    void restore(const inbox::Message& message, const QString& pendingId,
                 const QSet<QString>& beside, const QString& shownText = {});
    // The waiting add of the row `pendingId` now carries the text the user gave the row: the row
    // takes it as its own (no local text any more), beside the tasks that have it now.
    void pendingTextSent(const QString& pendingId);
    // The change will never reach the feed (the relay refused its message): its overlay entry
    // goes, and what the feed says shows again.
    void withdraw(const OverlayFloors::Entry& entry);

    // The network's inputs. `feed`, the answer to fetch number `fetch`, becomes the current
    // feed, and every overlay entry it already reflects is dropped once the floors let that
    // fetch end it. A feed without a number (0) ends only entries no message is recorded for.
    void applyFeed(Payload feed, quint64 fetch = 0);
    // A message about `entry` went out; its answer came (or the post failed).
    void postSent(const OverlayFloors::Entry& entry);
    void postAnswered(const OverlayFloors::Entry& entry, quint64 nextFetch);

    static bool isPendingId(const QString& id) { return rules::isPendingId(id); }
    static QString newPendingId();
    static Row headerRow(const QString& label);

private:
    void changed() { m_snapshot.reset(); }
    ListSnapshot makeSnapshot(const QString& today) const;
    QList<OrderedItem> makeOrderedItems(const QString& today) const;
    QStringList makeSectionLabels() const;
    QList<Row> makeDisplayRows(const ListSnapshot& snap, bool honorCollapse) const;
    void reconcileDoneAndText(quint64 fetch);
    void reconcilePendingAdds(quint64 fetch);
    void reconcileOrderOverride(quint64 fetch);
    qsizetype overlayEntries() const;
    bool feedShowsOrder(const QList<OrderEntry>& entries) const;

    const Clock* m_clock;
    std::optional<Payload> m_payload;
    QString m_choice = kMine;
    QHash<QString, bool> m_localDone;
    QHash<QString, QString> m_localText;
    QHash<QString, QList<Row>> m_pendingAdd;
    QHash<QString, QList<OrderEntry>> m_orderOverride;
    QSet<QString> m_collapsedCats;
    OverlayFloors m_floors;
    // The snapshot of the state as it is, and the day it was made on.
    mutable std::optional<ListSnapshot> m_snapshot;
    mutable QString m_snapshotDay;
    mutable quint64 m_revision = 0;
};
