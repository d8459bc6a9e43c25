#pragma once

#include "model/Clock.h"

#include <QList>
#include <QPointer>
#include <QString>

// A clock tests move by hand: now() stands still until advance(), which runs every call that
// falls due on the way, in time order, repeating ones as often as they come round.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(9, 0)))
        : m_now(std::move(start)) {}

    QDateTime now() const override { return m_now; }
    void schedule(Delay delay, QObject* context, std::function<void()> call) override;
    void every(Delay interval, QObject* context, std::function<void()> call) override;

    void setNow(const QDateTime& at) { m_now = at; }
    void advance(Delay by);

    // Every schedule() and every() call, in order: "once 4000" or "every 30000"; and a hook
    // told of each as it is made.
    QStringList requests;
    std::function<void(const QString&)> onRequest;

private:
    struct Pending {
        qint64 dueMs;
        qint64 intervalMs; // 0: once
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> call;
        quint64 order;
    };

    QDateTime m_now;
    qint64 m_elapsedMs = 0;
    quint64 m_order = 0;
    QList<Pending> m_pending;
};
