#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class QIODevice;
class QNetworkAccessManager;
class QObject;

// The one way the app talks HTTP: the feed's GET, the inbox posts and the update's manifest and
// release all go through `send`, so the caps, the time limits and the line between an answer
// and a transport failure are drawn once.
namespace net {

using Delay = std::chrono::milliseconds;

// What one request may cost. Each caller passes its own figures.
struct Limits {
    // Body bytes taken at most; a declared length over it is refused before the body is read.
    qint64 maxBytes = 0;
    // No byte for this long ends the request (Qt's transfer time-out).
    Delay idleTimeout{30000};
    // The request ends this long after it was sent at the latest: a server that drips a byte
    // now and then cannot hold it open for good.
    Delay deadline{120000};
    // What Qt's network thread may hold for us unread before it stops reading the socket.
    // Without it Qt reads ahead without bound, and a cap checked afterwards comes too late.
    qint64 readBufferBytes = 256 * 1024;
};

struct Request {
    QNetworkRequest http{}; // the URL and any attributes or header fields of the caller's
    Limits limits{};
    std::optional<QByteArray> postBody{}; // POST this body; a GET without one
    // Takes the body as it arrives (open for writing, not owned, alive until `done`); without
    // one the body is collected in Result::body.
    QIODevice* sink = nullptr;
};

struct Result {
    int status = 0;           // the HTTP status; 0 when no answer came
    QUrl url;                 // where the request ended up, after redirects
    QByteArray body;          // the body taken, without a sink; empty once oversized
    qint64 received = 0;      // body bytes taken, into `body` or the sink
    bool oversized = false;   // the body would have passed maxBytes: reading stopped there
    bool deadlineHit = false; // the deadline ended the request
    bool aborted = false;     // ended by us: oversized, past the deadline, or the sink failed
    bool requestSent = false; // the whole request body went out (never true for a GET)
    // Qt's description (in the user's language once Qt's translations are installed) of a
    // failure to get a whole answer: no connection, a time-out, a connection closed or reset,
    // TLS, a proxy. Absent when the server answered, whatever the status, and when the abort was
    // ours for the cap or the sink.
    std::optional<QString> transportError;
    QString sinkError; // the sink refused a write: its description
};

// Starts the request and returns at once. `done` runs once, on `context`'s thread, when the
// request has ended, unless `context` is gone by then.
void send(QNetworkAccessManager& network, const Request& request, QObject* context,
          std::function<void(Result)> done);

// What became of a post, for a sender that keeps messages until they are delivered.
enum class PostOutcome {
    Taken,   // 2xx: delivered
    Retry,   // nothing went out (no connection), or 408, 425, 429, 5xx: send it again
    Refused, // any other status: sending it again would be refused again
    Unknown, // the body went out but no status came (time-out, reset): it may have arrived
};

PostOutcome classifyPost(const Result& result);

} // namespace net
