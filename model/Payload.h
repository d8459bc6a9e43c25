#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// One row of a list: a section header, a task, or (kept but never shown) any other kind.
// The view model also builds rows of its own: display headers and locally added tasks.
struct Row {
    QString kind;
    QString text;
    std::optional<QString> id;
    std::optional<bool> done;
    std::optional<QString> doneAt;
    std::optional<QString> cat;

    bool operator==(const Row&) const = default;
};

// The whole list feed as the other party publishes it. Only ever read, never written back.
struct Payload {
    QString updated;
    QString mine_title;
    QString mine;
    QList<Row> mine_rows;
    QString hers_title;
    QString hers;
    QList<Row> hers_rows;

    bool operator==(const Payload&) const = default;
};

// One entry of a local order override: task id and the section it was dropped into.
struct OrderEntry {
    QString id;
    QString sec;

    bool operator==(const OrderEntry&) const = default;
};

struct DecodeResult {
    std::optional<Payload> payload;
    // Where and why the body was refused, e.g. "mine_rows[3].done: expected boolean".
    // Empty when payload is set.
    QString error;
    // The top-level member named by decodePayload's `extra`, as its raw JSON token; empty when
    // absent or not asked for. Lets a publisher keep a value of its own beside the feed's
    // members and read both in one pass.
    QByteArray extra;
};

// Decodes a response body all-or-nothing: either every row is taken or none is. The body must
// be one valid JSON text; members the feed does not define may hold any JSON value. With
// `extra`, the top-level member of that name (one the feed does not define) is handed back as
// its raw JSON token in DecodeResult::extra.
DecodeResult decodePayload(QByteArrayView body, QByteArrayView extra = {});

// Decodes one JSON object text as a `Row` under the same rules as the feed's rows (used by
// tools that read rows from other files). On failure sets `error` to "PATH.member: reason".
std::optional<Row> decodeRowText(QByteArrayView json, const QString& path, QString* error);
