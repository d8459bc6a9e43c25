#pragma once

#include "model/ListStore.h"

#include <QByteArray>
#include <QStringList>

// The rows, feeds and list states tests build on, written once. Every fixture lives on one
// day: tasks done on it are shown, tasks done earlier are not.
inline const QString kFixtureToday = QStringLiteral("2026-12-06");
// Noon of that day.
const Clock& fixtureClock();

Row header(const QString& label);
// A task; an empty id makes one without an id.
Row task(const QString& id, const QString& text, std::optional<QString> cat = {},
         std::optional<bool> done = {}, std::optional<QString> doneAt = {});
// Rows in shorthand, comma-separated: "#LABEL" a header; "ID" an open task, "ID*" done today,
// "ID~" done earlier, then "=TEXT" (else the text is the id) and "@CAT".
QList<Row> rowsFrom(const QString& shorthand);
// A feed with these rows, titled "Mine" and "Hers".
Payload feedOf(const QList<Row>& mine, const QList<Row>& hers = {});
// The list state of that feed, "mine" chosen, on the fixture's clock, with an overlay in
// shorthand: "done:ID", "undone:ID", "text:ID=V", "pending:ID=V" (an addition to "mine"),
// "order:ID:SEC" (appended to mine's override), "collapse:LABEL", "nofeed" (no feed at all).
ListStore stateWith(const QList<Row>& mine, const QStringList& overlay = {});
// The overlay entries a state still holds, sorted: "done:ID", "text:ID", "add:LIST:TEXT",
// "order:LIST".
QStringList overlayKeys(const ListStore& state);

// A file's bytes, empty if it cannot be read.
QByteArray readFile(const QString& path);
// Writes a file whole, making its folder first; false if that fails.
bool writeFile(const QString& path, const QByteArray& data, bool executable = false);

// Rows as the feed's JSON, comma-separated.
QByteArray rowsJson(const QList<Row>& rows);
// A feed document with `mineRows` (JSON objects, comma-separated) as the "mine" list, an empty
// "hers" list, and `extra` (members beginning with a comma) before the closing brace.
QByteArray listFeed(const QByteArray& mineRows = {}, const QByteArray& updated = "u",
                    const QByteArray& extra = {});
// Header A with tasks a1 "第一" and a2 "第二"; header B with task b1 "第三".
inline constexpr char kTwoSections[] = R"({"kind":"header","text":"A"},
    {"kind":"item","id":"a1","text":"第一","cat":"A"},
    {"kind":"item","id":"a2","text":"第二","cat":"A"},
    {"kind":"header","text":"B"},
    {"kind":"item","id":"b1","text":"第三","cat":"B"})";
