// The sync simulation (tests/support/SyncSim): in calm weather, where the relay only loses
// posts now and then, and in rough weather: relay outages of seconds to minutes, bursts of 5xx
// answers, answers cut off after the body and app restarts at random points, where no change
// may be lost. VELLOA_SIM_OPS=10000 (and VELLOA_SIM_SEED) runs one long simulation of each
// (VELLOA_SIM_WEATHER=calm or rough: only that one) instead of the short CI table (with
// QTEST_FUNCTION_TIMEOUT raised); figures go to stdout.
#include "tests/support/SyncSim.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
struct SimulateCase { quint64 seed; int ops; SimWeather weather; };
} // namespace

class TestSyncSim : public QObject {
    Q_OBJECT

private slots:
    void simulate_data() {
        QTest::addColumn<SimulateCase>("c");
        const SimWeather calm;
        const SimWeather rough{.losePercent = 0, .outagePercent = 1, .burstPercent = 2,
                               .cutOffPercent = 5, .restartPercent = 1};
        const int full = qEnvironmentVariableIntValue("VELLOA_SIM_OPS");
        if (full > 0) {
            const quint64 seed = qEnvironmentVariable("VELLOA_SIM_SEED", "1").toULongLong();
            const QString only = qEnvironmentVariable("VELLOA_SIM_WEATHER"); // calm, rough, or both
            if (only != u"rough")
                QTest::newRow("full, calm") << SimulateCase{seed, full, calm};
            if (only != u"calm")
                QTest::newRow("full, rough") << SimulateCase{seed, full, rough};
            return;
        }
        for (quint64 seed : {1, 3}) {
            QTest::addRow("calm, seed %llu", seed) << SimulateCase{seed, 120, calm};
            QTest::addRow("rough, seed %llu", seed) << SimulateCase{seed, 200, rough};
        }
    }

    void simulate() {
        QFETCH(SimulateCase, c);
        QElapsedTimer timer;
        timer.start();
        const SimFigures f = SyncSim(c.seed, c.weather).run(c.ops);
        qInfo("seed %llu: %d ops, %d fetches, %d posts (%d lost); flicker %d, other reverts %d, "
              "overtaken by a later message %d, added task shown twice %d, shown against the last "
              "change at the end %d; left after quiescence: %d for lost messages, %d other; %lld ms",
              c.seed, f.ops, f.fetches, f.posts, f.lost, f.flicker, f.reverts, f.overtaken, f.doubled,
              f.divergent, f.leftLost, f.leftOther, timer.elapsed());
        qInfo("weather: %d posts on the wire, %d answered 5xx, %d answers cut off, %d outages, "
              "%d restarts; %d messages unsent at the end",
              f.sent, f.failed, f.cutOff, f.outages, f.restarts, f.unsent);
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 5).join(u'\n')));
        QCOMPARE(f.ops, c.ops);
        QCOMPARE(f.unsent, 0);
        if (c.weather.losePercent == 0)
            QCOMPARE(f.leftLost + f.divergent, 0);
    }
};

QTEST_GUILESS_MAIN(TestSyncSim)
#include "test_sync_sim.moc"
