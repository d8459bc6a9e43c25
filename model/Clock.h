#pragma once

#include <QDate>
#include <QDateTime>
#include <QPointer>

#include <chrono>
#include <functional>

class QObject;

// The one source of time for everything that reads the date, stamps a message or runs
// something later: the list state ("today"), the feed client (message times, quick refreshes),
// the update check and the hub. Tests replace it as a whole with a clock they move by hand,
// so nothing ever waits for real seconds.
class Clock {
public:
    using Delay = std::chrono::milliseconds;

    virtual ~Clock() = default;

    // The current instant, in local time.
    virtual QDateTime now() const;
    // Runs `call` once, `delay` from now, on the thread of `context`; dropped if `context`
    // is destroyed first.
    virtual void schedule(Delay delay, QObject* context, std::function<void()> call);
    // Runs `call` every `interval` from now on, until `context` is destroyed.
    virtual void every(Delay interval, QObject* context, std::function<void()> call);

    // now() as milliseconds since 1970, for code that measures time spans many times a second:
    // the real clock reads it without converting to local time.
    virtual qint64 msecsSinceEpoch() const { return now().toMSecsSinceEpoch(); }

    QDate today() const { return now().date(); }
    // "yyyy-MM-dd" of the local date: the form tasks' done dates are written and compared in.
    QString todayStr() const;
    qint64 secondsSinceEpoch() const { return now().toSecsSinceEpoch(); }

    // The real clock: the system time and Qt timers.
    static Clock& system();
};

// A clock that stands still at a given instant: for tools that render a list as of a day.
// It schedules like the real clock.
class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime at) : m_at(std::move(at)) {}
    QDateTime now() const override { return m_at; }

private:
    QDateTime m_at;
};
