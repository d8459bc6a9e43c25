#pragma once

#include "Clock.h"
#include "ListRules.h"
#include "OverlayFloors.h"
#include "Payload.h"

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

// The chosen list: the last good feed plus the user's local overlay, and every view of it.
// No widgets and no network: the menu and the note panel only draw what this returns, and
// the refresh code hands it each decoded feed.
class ListState {
public:
    static inline const QString& kMine = rules::kMine;
    static inline const QString& kHers = rules::kHers;
    static inline const QString& kDefaultSection = rules::kDefaultSection;

    std::optional<Payload> payload;
    QString choice = kMine;
    QHash<QString, bool> localDone;
    QHash<QString, QString> localText;
    QHash<QString, QList<Row>> pendingAdd;
    QHash<QString, QList<OrderEntry>> orderOverride;
    QSet<QString> collapsedCats;
    // What the messages about each overlay entry have got back so far: when a feed may end it.
    OverlayFloors floors;

    // Where "today" comes from; tests and tools hand in a clock of their own.
    const Clock* clock = &Clock::system();

    QString todayStr() const;
    QString currentTitle() const;
    QList<Row> currentRows() const;
    bool effDone(const Row& row) const;
    QStringList sectionLabels() const;
    QList<OrderedItem> orderedItems() const;
    QList<Row> displayRows(bool honorCollapse) const;
    void toggleCollapse(const QString& label);

    // Appends a task the user added (under a pending id) to the chosen list's additions,
    // noting the tasks with the same text the list holds now (see OverlayFloors::added).
    void addPending(Row row);

    // Makes `feed`, the answer to fetch number `fetch`, the current feed and drops every
    // overlay entry it already reflects, once `floors` lets that fetch end it. A feed without
    // a number (0) ends only entries no message is recorded for.
    void applyFeed(Payload feed, quint64 fetch = 0);

    static bool isPendingId(const QString& id) { return rules::isPendingId(id); }
    static QString newPendingId();
    static Row headerRow(const QString& label);

private:
    void reconcileDoneAndText(quint64 fetch);
    void reconcilePendingAdds(quint64 fetch);
    void reconcileOrderOverride(quint64 fetch);
    bool feedShowsOrder(const QList<OrderEntry>& entries) const;
};
