#include "MenuModel.h"

#include <QtTest>

using Kind = MenuEntry::Kind;
using Action = MenuEntry::Action;

namespace {

const QDate kToday(2026, 12, 6);

Row row(const QString& kind, const QString& text, std::optional<QString> id = std::nullopt,
        std::optional<bool> done = std::nullopt, std::optional<QString> doneAt = std::nullopt,
        std::optional<QString> cat = std::nullopt) {
    return Row{kind, text, id, done, doneAt, cat};
}

// One line per entry: "T:title|updated", "H:text", "[x] text", "[ ] text", "-", "C:text^key".
QStringList outline(const QList<MenuEntry>& entries) {
    QStringList out;
    for (const MenuEntry& e : entries) {
        switch (e.kind) {
        case Kind::Title:
            out << QStringLiteral("T:%1|%2").arg(e.text, e.updated);
            break;
        case Kind::Header:
            out << QStringLiteral("H:") + e.text;
            break;
        case Kind::Task:
            out << (e.done ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + e.text;
            break;
        case Kind::Separator:
            out << QStringLiteral("-");
            break;
        case Kind::Switch:
        case Kind::Command:
            out << QStringLiteral("C:%1^%2").arg(e.text, e.key.isNull() ? QString() : QString(e.key));
            break;
        }
    }
    return out;
}

const QStringList kCommands{"-", "C:便签（悬浮窗）^n", "C:刷新^r", "C:检查更新…^", "-", "C:退出^q"};

} // namespace

class TestMenuModel : public QObject {
    Q_OBJECT

private slots:
    void structure_data();
    void structure();
};

void TestMenuModel::structure_data() {
    QTest::addColumn<bool>("withFeed");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("body");

    QTest::newRow("no feed yet") << false << "mine" << QString()
                                 << QStringList{"T:阿蓁的 To-do|", "H:维洛清单 v2.13", "-", "H:（今天没有待办，全清啦 🎉）"};
    QTest::newRow("feed, mine, collapsed section still listed")
        << true << "mine" << QString()
        << QStringList{"T:Mine|12-05 09:30", "H:维洛清单 v2.13", "-", "H:S", "[ ] a", "[x] b today", "H:其他", "[x] pending ticked"};
    QTest::newRow("feed, hers with nothing to show") << true << "hers" << QString()
                                                     << QStringList{"T:Hers|12-05 09:30", "H:维洛清单 v2.13", "-", "H:（今天没有待办，全清啦 🎉）"};
    QTest::newRow("failed refresh hides the list, keeps the rest")
        << true << "mine" << "Connection refused"
        << QStringList{"T:Mine|12-05 09:30", "H:维洛清单 v2.13", "-", "H:⚠️ Connection refused"};
}

void TestMenuModel::structure() {
    QFETCH(bool, withFeed);
    QFETCH(QString, choice);
    QFETCH(QString, error);
    QFETCH(QStringList, body);

    ListState state;
    state.currentDate = [] { return kToday; };
    state.choice = choice;
    if (withFeed) {
        state.payload = Payload{"12-05 09:30", "Mine", "", {row("header", "S"), row("item", "a", "1", false, {}, "S"),
                                                             row("item", "b today", "2", true, "2026-12-06", "S"),
                                                             row("item", "b old", "3", true, "2026-12-01", "S")},
                                "Hers", "", {row("item", "gone", "4", true, "2026-11-30")}};
        state.pendingAdd[ListState::kMine] = {row("item", "pending ticked", "pending-1", false)};
        state.localDone[QStringLiteral("pending-1")] = true;
        state.collapsedCats.insert(QStringLiteral("S"));
    }
    const std::optional<QString> lastError = error.isNull() ? std::nullopt : std::optional<QString>(error);
    QCOMPARE(outline(buildMenuEntries(state, lastError, QStringLiteral("2.13"))), body + kCommands);
}

QTEST_APPLESS_MAIN(TestMenuModel)
#include "test_menu_model.moc"
