// The sync simulation's checks: what the user sees against what they last did.
#include "tests/support/SyncSim.h"

// The shown tasks with an id, by id, and (into `order`) in order with their sections.
QHash<QString, SimShown> SyncSim::shownRows(QList<OrderEntry>* order) const {
    QHash<QString, SimShown> out;
    QString label;
    for (const Row& row : state().displayRows(false)) {
        if (rules::isHeader(row)) {
            label = row.text;
        } else if (row.id) {
            out.insert(*row.id, {*row.id, row.text, state().effDone(row)});
            if (order)
                order->append({*row.id, label});
        }
    }
    return out;
}

// Compares what is shown with what the user last did; a check after a feed notes where
// the feed agrees.
void SyncSim::check(const SimMoment& at) {
    QList<OrderEntry> shownOrder;
    const QHash<QString, SimShown> shown = shownRows(&shownOrder);
    // A feed reconciles the overlay of both lists, so agreement is noted for every task,
    // shown or not; only what is shown can look reverted.
    QHash<QString, Row> feedItems;
    if (at.fromFeed) {
        const Payload& feed = *state().payload();
        for (const QList<Row>* rows : {&feed.mine_rows, &feed.hers_rows})
            for (const Row& row : *rows)
                if (rules::isItem(row) && row.id && !feedItems.contains(*row.id))
                    feedItems.insert(*row.id, row);
    }
    for (auto it = m_intent.done.cbegin(); it != m_intent.done.cend(); ++it) {
        const bool visible = shown.contains(it.key());
        const auto row = feedItems.constFind(it.key());
        if (visible || row != feedItems.cend())
            judge(at, "done:" + it.key(), visible, visible && shown[it.key()].done == *it,
                  row != feedItems.cend() && row->done.value_or(false) == *it);
    }
    for (auto it = m_intent.text.cbegin(); it != m_intent.text.cend(); ++it) {
        const bool visible = shown.contains(it.key());
        const auto row = feedItems.constFind(it.key());
        if (visible || row != feedItems.cend())
            judge(at, "text:" + it.key(), visible, visible && shown[it.key()].text == *it,
                  row != feedItems.cend() && row->text == *it);
    }
    checkAdditions(at, shown);
    const QList<OrderEntry> order = m_intent.order.value(state().choice());
    if (!order.isEmpty()) {
        QList<OrderEntry> wanted, now;
        QSet<QString> named;
        for (const OrderEntry& e : order) {
            if (shown.contains(e.id))
                wanted.append(e);
            named.insert(e.id);
        }
        for (const OrderEntry& e : std::as_const(shownOrder))
            if (named.contains(e.id))
                now.append(e);
        judge(at, "order:" + state().choice(), true, now == wanted,
              !state().orderOverride().contains(state().choice()));
    }
}

// Every added text is unique, so a text shown twice is an added row still shown beside
// the task the feed made of it.
void SyncSim::checkAdditions(const SimMoment& at, const QHash<QString, SimShown>& shown) {
    QSet<QString> texts, feedTexts;
    QHash<QString, int> copies;
    for (const SimShown& s : shown) {
        texts.insert(s.text);
        ++copies[s.text];
    }
    for (const Row& row : state().pendingAdd().value(state().choice()))
        texts.insert(row.text);
    for (const Row& row : rules::rowsOf(*state().payload(), state().choice()))
        feedTexts.insert(row.text);
    for (const QString& text : m_intent.added.value(state().choice())) {
        judge(at, "add:" + state().choice() + ':' + text, true, texts.contains(text),
              feedTexts.contains(text));
        if (copies.value(text) > 1) {
            ++m_f.doubled;
            m_f.problems << QStringLiteral("%1: %2 shown twice").arg(at.when, text);
        }
    }
}

void SyncSim::judge(const SimMoment& at, const QString& key, bool visible, bool agrees,
                    bool feedAgrees) {
    SimIntent& in = m_intent;
    const bool inTransit = in.onTheWay.value(key) > 0 || in.atHub.value(key) > in.shown;
    if (at.fromFeed && feedAgrees) {
        in.confirmed.insert(key);
        if (inTransit)
            in.exposed.insert(key);
        else
            in.exposed.remove(key);
    }
    if (!visible)
        return;
    if (at.atEnd && !agrees) {
        ++m_f.divergent;
        if (!in.lost.contains(key))
            m_f.problems << "shown against the user's last change at the end: " + key;
        return;
    }
    if (agrees) {
        in.reverted.remove(key);
        return;
    }
    if (in.reverted.contains(key))
        return; // the same revert, still shown
    in.reverted.insert(key);
    trace("  REVERTED " + key);
    // Overtaken: a feed that agreed with the last change while another message about the
    // same thing was still on its way took the overlay entry with it (tick, untick, tick:
    // the feed after the first message agrees), and the message after it then shows as a
    // revert. A flicker too, counted apart to tell the causes apart.
    if (inTransit || in.exposed.contains(key))
        ++m_f.overtaken;
    else
        (in.confirmed.contains(key) ? m_f.flicker : m_f.reverts)++;
    m_f.problems << QStringLiteral("%1: %2 reverted").arg(at.when, key);
}
