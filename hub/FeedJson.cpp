#include "hub/FeedJson.h"

#include "model/ListRules.h"
#include "model/RowJson.h"

#include <algorithm>

namespace {

void appendRows(QByteArray& out, const char* name, const QList<Row>& rows) {
    out += "  \"";
    out += name;
    out += "\": [";
    for (qsizetype i = 0; i < rows.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        appendRowJson(out, rows[i]);
    }
    out += rows.isEmpty() ? "],\n" : "\n  ],\n";
}

void appendMember(QByteArray& out, const char* name, const QString& value) {
    out += "  \"";
    out += name;
    out += "\": ";
    appendJsonString(out, value);
    out += ",\n";
}

Row item(const char* id, const char* text, const char* cat) {
    return Row{QStringLiteral("item"),
               QString::fromUtf8(text),
               QString::fromLatin1(id),
               false,
               std::nullopt,
               cat ? std::optional<QString>(QString::fromUtf8(cat)) : std::nullopt};
}

Row doneItem(const char* id, const char* text, const char* cat, const QDate& day) {
    Row row = item(id, text, cat);
    row.done = true;
    row.doneAt = rules::dayString(day);
    return row;
}

Row header(const char* label) {
    return Row{QStringLiteral("header"),
               QString::fromUtf8(label),
               std::nullopt,
               std::nullopt,
               std::nullopt,
               std::nullopt};
}

} // namespace

QByteArray serializeFeed(const Payload& feed, qint64 appliedSeq) {
    QByteArray out;
    // Rows are about 100 bytes: one allocation for most feeds.
    out.reserve(256 + 112 * (feed.mine_rows.size() + feed.hers_rows.size()));
    out += "{\n";
    appendMember(out, "updated", feed.updated);
    appendMember(out, "mine_title", feed.mine_title);
    appendMember(out, "mine", feed.mine);
    appendRows(out, "mine_rows", feed.mine_rows);
    appendMember(out, "hers_title", feed.hers_title);
    appendMember(out, "hers", feed.hers);
    appendRows(out, "hers_rows", feed.hers_rows);
    out += "  \"";
    out += kAppliedSeqMember;
    out += "\": " + QByteArray::number(appliedSeq) + "\n}\n";
    return out;
}

std::optional<StoredFeed> readFeed(QByteArrayView text, QString* error) {
    DecodeResult decoded = decodePayload(text, kAppliedSeqMember);
    if (!decoded.payload) {
        *error = decoded.error;
        return std::nullopt;
    }
    StoredFeed stored{std::move(*decoded.payload), 0};
    // A plain run of digits; the decoder writes any other number with a sign, point or exponent.
    bool ok = decoded.extra.isEmpty();
    if (!ok && std::all_of(decoded.extra.cbegin(), decoded.extra.cend(),
                           [](char c) { return c >= '0' && c <= '9'; }))
        stored.appliedSeq = decoded.extra.toLongLong(&ok);
    if (!ok) {
        *error = QStringLiteral("%1: expected a non-negative integer")
                     .arg(QLatin1String(kAppliedSeqMember));
        return std::nullopt;
    }
    return stored;
}

Payload demoFeed(const QDateTime& now) {
    const QDate today = now.date();
    Payload feed;
    feed.updated = now.toString(QStringLiteral("MM-dd HH:mm"));
    feed.mine_title = QStringLiteral("阿蓁的 To-do");
    feed.mine = QStringLiteral("v1");
    feed.mine_rows = {
        header("工作"),
        item("m1", "整理周报", "工作"),
        doneItem("m2", "回复邮件", "工作", today),
        doneItem("m3", "提交报销单", "工作", today.addDays(-2)),
        item("m4", "准备周五的分享", "工作"),
        header("生活"),
        item("m5", "买牛奶和面包", "生活"),
        doneItem("m6", "给妈妈打电话", "生活", today),
        item("m7", "预约体检", "生活"),
        header("阅读"),
        item("m8", "读完《小王子》", "阅读"),
        doneItem("m9", "还图书馆的书", "阅读", today.addDays(-1)),
        item("m10", "整理书架", nullptr),
    };
    feed.hers_title = QStringLiteral("晴川子的 To-do");
    feed.hers = QStringLiteral("v1");
    feed.hers_rows = {
        header("学习"),
        item("h1", "背 30 个单词", "学习"),
        doneItem("h2", "练琴半小时", "学习", today),
        doneItem("h3", "交论文初稿", "学习", today.addDays(-3)),
        header("家务"),
        item("h4", "浇花", "家务"),
        item("h5", "洗窗帘", "家务"),
        doneItem("h6", "倒垃圾", "家务", today),
    };
    return feed;
}
