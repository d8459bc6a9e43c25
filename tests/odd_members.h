#pragma once

// Feeds with unusual values in their members, shared by the decoder's test and the feed tool's
// so that both must reach the same outcome: a member the app does not read may hold any valid
// JSON (numbers of any size, lone surrogate escapes); a member it reads keeps its type rules
// whatever the value; the text itself must be valid JSON everywhere.

#include "tests/support/Fixtures.h"

#include <QtTest>

namespace odd {

// A feed with one task "a" in mine_rows; `rowExtra` goes into that row, `extra` into the top.
inline QByteArray feed(const QByteArray& rowExtra, const QByteArray& extra = {}) {
    return listFeed("{\"kind\":\"item\",\"text\":\"a\"" + rowExtra + "}", "u", extra);
}

// Nesting `levels` arrays deep, the outermost one included.
inline QByteArray nested(int levels) {
    return QByteArray(levels, '[') + QByteArray(levels, ']');
}

// A reason ending in "…" matches any text that begins with what comes before it.
inline bool matches(const QString& got, const QString& reason) {
    return reason.endsWith(u'…') ? got.startsWith(reason.chopped(1)) : got == reason;
}

// Values at the top level the JSON test suite covers (test_feed_decode embeds each of its
// texts there); these are the ones inside rows, or at the limits of the feed's own rules.
// Columns: body, and reason: empty when the feed is accepted (then it holds the one task "a"),
// otherwise the decoder's reason; "body: …" stands for any fault of the JSON text.
inline void addRows() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");
    const QString accepted;
    const QString notJson = QStringLiteral("body: …");

    QTest::newRow("integer below 64 bits in a row") << feed(",\"n\":-9223372036854775809") << accepted;
    QTest::newRow("lone surrogate escapes") << feed(",\"s\":\"\\ud800\"", ",\"t\":[\"x\\udc00\\ud800\"]") << accepted;
    QTest::newRow("nesting at the limit") << feed({}, ",\"deep\":" + nested(1023)) << accepted;

    QTest::newRow("done as 1") << feed(",\"done\":1") << "mine_rows[0].done: expected boolean, got number";
    QTest::newRow("done as 1e400") << feed(",\"done\":1e400") << "mine_rows[0].done: expected boolean, got number";
    QTest::newRow("id as a 67-bit integer") << feed(",\"id\":100000000000000000000") << "mine_rows[0].id: expected string, got number";
    QTest::newRow("updated as a 65-bit integer") << feed({}).replace("\"updated\":\"u\"", "\"updated\":-9223372036854775809")
                                                 << "updated: expected string, got number";

    QTest::newRow("number ending in a point") << feed(",\"x\":[1.]") << notJson;
    QTest::newRow("nesting one level too deep") << feed({}, ",\"deep\":" + nested(1024)) << notJson;
}

} // namespace odd
