#include "note/NoteAccessible.h"

#include "note/NoteViews.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace {

QString sectionOf(const NoteListSource& source, qsizetype i) {
    for (qsizetype j = i - 1; j >= 0; --j) {
        if (source.rowData(j).isHeader)
            return source.rowData(j).label;
    }
    return source.rowData(i).sec;
}

class NoteListAccessible;

// One row of the list, a task (a check box) or a header (expandable). It names its row by key,
// so it keeps meaning the same row while the list is rebuilt around it.
class NoteRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    NoteRowAccessible(FlippedView* list, QString key) : m_list(list), m_key(std::move(key)) {}

    qsizetype index() const {
        NoteListSource* s = source();
        return s ? s->rowIndexOf(m_key) : -1;
    }

    bool isValid() const override { return index() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return m_list && m_list->window() ? m_list->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_list);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        const qsizetype i = index();
        if (i < 0)
            return {};
        const NoteRowData& row = source()->rowData(i);
        switch (t) {
        case QAccessible::Name:
            return row.label;
        case QAccessible::Description:
            return row.isHeader ? row.subText : sectionOf(*source(), i);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        const qsizetype i = index();
        if (i < 0 || !m_list)
            return {};
        const QRect local = source()->rowRect(i).toAlignedRect();
        return QRect(m_list->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::Role role() const override {
        const qsizetype i = index();
        return i >= 0 && source()->rowData(i).isHeader ? QAccessible::Heading
                                                       : QAccessible::CheckBox;
    }

    QAccessible::State state() const override {
        QAccessible::State st;
        const qsizetype i = index();
        if (i < 0) {
            st.invalid = true;
            return st;
        }
        const NoteRowData& row = source()->rowData(i);
        st.focusable = true;
        st.focused = source()->listHasFocus() && source()->focusedRow() == i;
        if (row.isHeader) {
            st.expandable = true;
            st.expanded = !row.collapsed;
            st.collapsed = row.collapsed;
        } else {
            st.checkable = true;
            st.checked = row.isDone;
        }
        // Scrolled out of the list's visible part.
        if (m_list && !m_list->visibleRegion().intersects(source()->rowRect(i).toAlignedRect()))
            st.offscreen = true;
        return st;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override {
        const qsizetype i = index();
        if (i < 0)
            return {};
        return {source()->rowData(i).isHeader ? pressAction() : toggleAction()};
    }
    void doAction(const QString& name) override {
        const qsizetype i = index();
        if (i >= 0 && actionNames().contains(name))
            source()->activateRow(i);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    NoteListSource* source() const { return m_list ? m_list->source() : nullptr; }

    QPointer<FlippedView> m_list;
    QString m_key;
};

// The list: its children are the rows of its source, drawn or not.
class NoteListAccessible : public QAccessibleWidget {
public:
    explicit NoteListAccessible(FlippedView* list) : QAccessibleWidget(list, QAccessible::List) {}

    ~NoteListAccessible() override {
        for (QAccessible::Id id : std::as_const(m_rows))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override {
        NoteListSource* s = source();
        return s ? int(s->rowCount()) : 0;
    }

    QAccessibleInterface* child(int i) const override {
        NoteListSource* s = source();
        if (!s || i < 0 || i >= s->rowCount())
            return nullptr;
        const QString key = s->rowData(i).key();
        if (const auto known = m_rows.constFind(key); known != m_rows.constEnd())
            return QAccessible::accessibleInterface(*known);
        auto* row = new NoteRowAccessible(static_cast<FlippedView*>(widget()), key);
        m_rows.insert(key, QAccessible::registerAccessibleInterface(row));
        return row;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (const auto* row = dynamic_cast<const NoteRowAccessible*>(child))
            return int(row->index());
        return -1;
    }

    QAccessibleInterface* focusChild() const override {
        NoteListSource* s = source();
        return s && s->listHasFocus() && s->focusedRow() >= 0 ? child(int(s->focusedRow()))
                                                              : nullptr;
    }

private:
    NoteListSource* source() const { return static_cast<FlippedView*>(widget())->source(); }

    mutable QHash<QString, QAccessible::Id> m_rows;
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* list = qobject_cast<FlippedView*>(object))
        return new NoteListAccessible(list);
    return nullptr;
}

QAccessibleInterface* rowInterface(QWidget* list, qsizetype i) {
    if (!QAccessible::isActive() || i < 0)
        return nullptr;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
    return iface ? iface->child(int(i)) : nullptr;
}

} // namespace

namespace noteaccess {

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void notifyFocus(QWidget* list, qsizetype i) {
    if (QAccessibleInterface* row = rowInterface(list, i)) {
        QAccessibleEvent event(row, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

void notifyStateChanged(QWidget* list, qsizetype i) {
    if (QAccessibleInterface* row = rowInterface(list, i)) {
        QAccessible::State changed;
        changed.checked = true;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(row, changed);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace noteaccess
