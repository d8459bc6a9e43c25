#pragma once

#include "model/Clock.h"
#include "model/ListStore.h"

// What the menu and panel benchmarks measure against: a feed shaped like a real one (a section
// per 50 tasks, short Chinese texts, every seventh task done today), seen on a fixed day.
inline const FixedClock kBenchClock(QDateTime(QDate(2026, 12, 6), QTime(12, 0)));

inline Payload syntheticFeed(int tasks, const QString& doneDay = QStringLiteral("2026-12-06")) {
    Payload feed{"12-06 08:30", "阿蓁的 To-do", "", {}, "晴川子的 To-do", "", {}};
    const int sections = std::max(5, tasks / 50);
    for (int s = 0; s < sections; ++s)
        feed.mine_rows.append(ListStore::headerRow(QStringLiteral("分类 %1").arg(s)));
    for (int i = 0; i < tasks; ++i) {
        feed.mine_rows.append(Row{QStringLiteral("item"), QStringLiteral("第 %1 件事：整理房间、回复邮件").arg(i),
                                  QStringLiteral("id-%1").arg(i), i % 7 == 0,
                                  i % 7 == 0 ? std::optional<QString>(doneDay) : std::nullopt,
                                  QStringLiteral("分类 %1").arg(i % sections)});
    }
    return feed;
}
