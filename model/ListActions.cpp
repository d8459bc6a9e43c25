#include "ListActions.h"

#include "FeedSync.h"

ListActions::ListActions(ListState& state, FeedSync& sync, QObject* parent)
    : QObject(parent), state(state), sync(sync) {}

void ListActions::toggle(QString id, bool wasDone) {
    if (id.isEmpty())
        return;
    state.localDone[id] = !wasDone;
    emit changed();
    sync.postInbox(id, wasDone ? inbox::Action::Undone : inbox::Action::Done);
}

bool ListActions::edit(QString id, const QString& oldText, const QString& text) {
    const QString newText = text.trimmed();
    if (newText.isEmpty() || newText == oldText || id.isEmpty())
        return false;
    state.localText[id] = newText;
    emit changed();
    sync.postInboxEdit(id, newText);
    sync.scheduleQuickRefresh();
    return true;
}

std::optional<QString> ListActions::add(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString id = ListState::newPendingId();
    state.addPending(Row{rules::kItem, trimmed, id, false, std::nullopt, std::nullopt});
    emit changed();
    sync.postInboxAdd(trimmed, id);
    sync.scheduleQuickRefresh();
    return id;
}

void ListActions::reorder(const QList<OrderEntry>& order) {
    QList<OrderEntry> named;
    QList<inbox::OrderItem> message;
    for (const OrderEntry& entry : order) {
        if (entry.id.isEmpty() || rules::isPendingId(entry.id))
            continue;
        named.append(entry);
        message.append({entry.id, entry.sec});
    }
    if (named.isEmpty())
        return; // nothing the feed could carry: no override, no message
    state.orderOverride[state.choice] = named;
    emit changed();
    sync.postInboxReorder(message);
    sync.scheduleQuickRefresh();
}

void ListActions::chooseList(const QString& list) {
    state.choice = list == rules::kMine ? rules::kMine : rules::kHers;
    emit changed();
}

void ListActions::toggleCollapse(const QString& label) {
    state.toggleCollapse(label);
    emit changed();
}
