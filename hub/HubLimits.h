#pragma once

#include "model/Clock.h"

#include <QtGlobal>

// What one client may hold of the hub, so that no client can freeze it or make it grow: each
// bound is documented in docs/HUB.md.
struct HubLimits {
    // A connection that moves no byte either way for this long is closed.
    Clock::Delay idle{30'000};
    // A request must have arrived whole this long after its first byte, or it is answered 408
    // and the connection closed: a head sent a byte at a time cannot hold a connection.
    Clock::Delay requestDeadline{10'000};
    // After a refusal, how long the rest of what the client sends is still read and dropped.
    Clock::Delay linger{2'000};
    // Unsent output above which a connection's further requests wait; bodies are read from
    // memory or disk in chunks only as the client takes them.
    qint64 maxUnsent = 1024 * 1024;
    // Requests one connection gets answered before the others have their turn.
    int requestsPerTurn = 32;
    // Open connections; when one more arrives, the one idle longest is closed.
    int maxConnections = 256;
};
