#include "model/ListActions.h"

ListActions::ListActions(ListStore& store, InboxPoster& poster, QObject* parent)
    : QObject(parent), m_store(store), m_poster(poster) {}

void ListActions::toggle(QString id, bool wasDone) {
    if (id.isEmpty())
        return;
    m_store.setDone(id, !wasDone);
    emit changed();
    m_poster.postInbox(id, wasDone ? inbox::Action::Undone : inbox::Action::Done);
}

bool ListActions::edit(QString id, const QString& oldText, const QString& text) {
    const QString newText = text.trimmed();
    if (newText.isEmpty() || newText == oldText || id.isEmpty())
        return false;
    m_store.setText(id, newText);
    emit changed();
    m_poster.postInboxEdit(id, newText);
    m_poster.scheduleQuickRefresh();
    return true;
}

std::optional<QString> ListActions::add(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString id = ListStore::newPendingId();
    m_store.addPending(Row{rules::kItem, trimmed, id, false, std::nullopt, std::nullopt});
    emit changed();
    m_poster.postInboxAdd(trimmed, id);
    m_poster.scheduleQuickRefresh();
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
    m_store.setOrder(std::move(named));
    emit changed();
    m_poster.postInboxReorder(message);
    m_poster.scheduleQuickRefresh();
}

void ListActions::chooseList(const QString& list) {
    m_store.choose(list);
    emit changed();
}

void ListActions::toggleCollapse(const QString& label) {
    m_store.toggleCollapse(label);
    emit changed();
}

#include "moc_ListActions.cpp"
