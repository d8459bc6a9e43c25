#include "tests/support/ManualClock.h"

#include <algorithm>

void ManualClock::schedule(Delay delay, QObject* context, std::function<void()> call) {
    requests << QStringLiteral("once %1").arg(delay.count());
    if (onRequest)
        onRequest(requests.last());
    m_pending.append({m_elapsedMs + delay.count(), 0, context, context != nullptr, std::move(call), m_order++});
}

void ManualClock::every(Delay interval, QObject* context, std::function<void()> call) {
    requests << QStringLiteral("every %1").arg(interval.count());
    if (onRequest)
        onRequest(requests.last());
    m_pending.append({m_elapsedMs + interval.count(), interval.count(), context, context != nullptr,
                      std::move(call), m_order++});
}

void ManualClock::advance(Delay by) {
    const qint64 target = m_elapsedMs + by.count();
    for (;;) {
        const auto next = std::min_element(m_pending.begin(), m_pending.end(), [](const Pending& a, const Pending& b) {
            return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
        });
        if (next == m_pending.end() || next->dueMs > target)
            break;
        Pending due = *next;
        m_pending.erase(next);
        m_now = m_now.addMSecs(due.dueMs - m_elapsedMs);
        m_elapsedMs = due.dueMs;
        if (due.hadContext && !due.context)
            continue; // its owner is gone, as with a Qt timer
        if (due.intervalMs > 0)
            m_pending.append({due.dueMs + due.intervalMs, due.intervalMs, due.context, due.hadContext, due.call, m_order++});
        due.call();
    }
    m_now = m_now.addMSecs(target - m_elapsedMs);
    m_elapsedMs = target;
}
