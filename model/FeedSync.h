#pragma once

#include "InboxMessage.h"
#include "ListState.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the list feed, hands each good one to the list state for reconciliation, and posts
// inbox messages to the relay. One instance per process, on the main thread.
class FeedSync : public QObject {
    Q_OBJECT

public:
    using Delay = std::chrono::milliseconds;
    // Runs `call` once after `delay` on the main thread; tests replace it to run calls at once.
    using Scheduler = std::function<void(Delay delay, std::function<void()> call)>;

    static constexpr qsizetype kMaxFeedBytes = 8 * 1024 * 1024;
    static constexpr Delay kFetchTimeout{30000};
    static constexpr Delay kPostTimeout{20000};

    FeedSync(ListState& state, QNetworkAccessManager& network, QObject* parent = nullptr);

    QString dataUrl;
    QString inboxUrl; // NTFY_URL: the relay's base URL joined with the topic
    Delay fetchTimeout = kFetchTimeout;
    Delay postTimeout = kPostTimeout;
    Scheduler scheduler;
    std::function<qint64()> nowSeconds;
    // Rebuild hooks the views install; `noteBusy` is true while a note row is edited or dragged.
    std::function<void()> rebuildMenu;
    std::function<void()> refreshNote;
    std::function<bool()> noteBusy;

    std::optional<QString> lastError;

    void refresh();
    void scheduleQuickRefresh();

    void postJSON(const QJsonObject& message);
    void postInbox(const QString& id, const QString& action);
    void postInboxEdit(const QString& id, const QString& text);
    void postInboxAdd(const QString& text);
    void postInboxReorder(const QList<inbox::OrderItem>& order);

signals:
    // Emitted after an answer has been handled (or ignored as stale); tests wait on it.
    void refreshHandled();

private:
    void handleReply(QNetworkReply* reply, quint64 sequence, bool oversized);
    void rebuild();

    ListState& state;
    QNetworkAccessManager& network;
    quint64 nextSequence = 1;
    quint64 appliedSequence = 0;
};
