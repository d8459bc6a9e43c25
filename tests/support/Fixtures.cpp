#include "tests/support/Fixtures.h"

#include "model/RowJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

const Clock& fixtureClock() {
    static const FixedClock clock(QDateTime(QDate::fromString(kFixtureToday, Qt::ISODate), QTime(12, 0)));
    return clock;
}

Row header(const QString& label) {
    return Row{rules::kHeader, label, {}, {}, {}, {}};
}

Row task(const QString& id, const QString& text, std::optional<QString> cat, std::optional<bool> done,
         std::optional<QString> doneAt) {
    return Row{rules::kItem, text, id.isEmpty() ? std::nullopt : std::optional(id), done, doneAt, cat};
}

QList<Row> rowsFrom(const QString& shorthand) {
    static const QRegularExpression token("^([^*~=@]*)([*~]?)(?:=([^@]*))?(?:@(.*))?$");
    QList<Row> rows;
    for (const QString& part : shorthand.split(',', Qt::SkipEmptyParts)) {
        if (part.startsWith('#')) {
            rows << header(part.mid(1));
            continue;
        }
        const QRegularExpressionMatch m = token.match(part);
        const QString flag = m.captured(2);
        rows << task(m.captured(1), m.hasCaptured(3) ? m.captured(3) : m.captured(1),
                     m.hasCaptured(4) ? std::optional(m.captured(4)) : std::nullopt,
                     flag.isEmpty() ? std::nullopt : std::optional(true),
                     flag == "*"   ? std::optional(kFixtureToday)
                     : flag == "~" ? std::optional(QStringLiteral("2026-12-01"))
                                   : std::nullopt);
    }
    return rows;
}

Payload feedOf(const QList<Row>& mine, const QList<Row>& hers) {
    return Payload{"u", "Mine", "", mine, "Hers", "", hers};
}

ListStore stateWith(const QList<Row>& mine, const QStringList& overlay) {
    ListStore state(fixtureClock());
    if (!overlay.contains(QStringLiteral("nofeed")))
        state.applyFeed(feedOf(mine));
    QList<OrderEntry> order;
    for (const QString& part : overlay) {
        const QString kind = part.section(':', 0, 0), rest = part.section(':', 1);
        const QString id = rest.section('=', 0, 0), value = rest.section('=', 1);
        if (kind == "order")
            order.append({rest.section(':', 0, 0), rest.section(':', 1)});
        else if (kind == "done" || kind == "undone")
            state.setDone(id, kind == "done");
        else if (kind == "text")
            state.setText(id, value);
        else if (kind == "pending")
            state.addPending(task(id, value, std::nullopt, false));
        else if (kind == "collapse")
            state.toggleCollapse(rest);
        else if (kind != "nofeed")
            qFatal("unknown overlay shorthand %s", qPrintable(part));
    }
    if (!order.isEmpty())
        state.setOrder(order);
    return state;
}

QStringList overlayKeys(const ListStore& state) {
    QStringList keys;
    for (auto it = state.localDone().cbegin(); it != state.localDone().cend(); ++it)
        keys << "done:" + it.key();
    for (auto it = state.localText().cbegin(); it != state.localText().cend(); ++it)
        keys << "text:" + it.key();
    for (auto it = state.pendingAdd().cbegin(); it != state.pendingAdd().cend(); ++it) {
        for (const Row& row : *it)
            keys << "add:" + it.key() + ':' + row.text;
    }
    for (auto it = state.orderOverride().cbegin(); it != state.orderOverride().cend(); ++it)
        keys << "order:" + it.key();
    keys.sort();
    return keys;
}

QByteArray rowsJson(const QList<Row>& rows) {
    QByteArray out;
    for (const Row& row : rows)
        out += (out.isEmpty() ? "" : ",") + rowJson(row);
    return out;
}

QByteArray listFeed(const QByteArray& mineRows, const QByteArray& updated, const QByteArray& extra) {
    return R"({"updated":")" + updated + R"(","mine_title":"Mine","mine":"","mine_rows":[)" + mineRows +
           R"(],"hers_title":"Hers","hers":"","hers_rows":[])" + extra + "}";
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data, bool executable) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    const auto exec = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    return !executable || file.setPermissions(file.permissions() | exec);
}
