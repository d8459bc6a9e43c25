#include "model/Clock.h"

#include "model/ListRules.h"

#include <QTimer>

QDateTime Clock::now() const {
    return QDateTime::currentDateTime();
}

void Clock::schedule(Delay delay, QObject* context, std::function<void()> call) {
    QTimer::singleShot(delay, context, std::move(call));
}

void Clock::every(Delay interval, QObject* context, std::function<void()> call) {
    auto* timer = new QTimer(context);
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, context, std::move(call));
    timer->start();
}

QString Clock::todayStr() const {
    return rules::dayString(today());
}

Clock& Clock::system() {
    class SystemClock : public Clock {
        qint64 msecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
    };
    static SystemClock clock;
    return clock;
}
