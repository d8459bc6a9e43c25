#pragma once

#include "Clock.h"
#include "ListRules.h"
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

    // Makes `feed` the current feed and drops every overlay entry it already reflects.
    void applyFeed(Payload feed);

    static bool isPendingId(const QString& id) { return rules::isPendingId(id); }
    static QString newPendingId();
    static Row headerRow(const QString& label);

private:
    void reconcileDoneAndText();
    void reconcilePendingAdds();
    void reconcileOrderOverride();
};
