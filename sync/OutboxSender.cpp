#include "sync/OutboxSender.h"

#include <QNetworkInformation>
#include <algorithm>

OutboxSender::OutboxSender(ListStore& store, QNetworkAccessManager& network, Clock& clock,
                           MakeRequest request, std::function<quint64()> nextFetch,
                           QObject* parent)
    : QObject(parent), m_store(store), m_network(network), m_clock(clock),
      m_request(std::move(request)), m_nextFetch(std::move(nextFetch)), m_outbox(clock) {}

bool OutboxSender::open(const QString& path, QString* error) {
    const bool opened = m_outbox.open(path, error);
    for (const Outbox::Entry& entry : m_outbox.entries()) {
        m_store.restore(entry.message, entry.pendingId,
                        QSet<QString>(entry.beside.cbegin(), entry.beside.cend()), entry.shownText);
        if (const auto about = aboutOf(entry))
            m_store.postSent(*about);
    }
    emit noticeChanged();
    watchOverdue();
    pump();
    return opened;
}

void OutboxSender::enqueue(const QJsonObject& message, const QString& pendingId) {
    const QByteArray body = inbox::serialize(message);
    enqueued(body, inbox::parse(body).message.value_or(inbox::Message{}), pendingId);
}

void OutboxSender::enqueue(const inbox::Message& message, const QString& pendingId) {
    enqueued(inbox::serialize(message), message, pendingId);
}

void OutboxSender::enqueued(const QByteArray& body, const inbox::Message& message, const QString& pendingId) {
    QStringList beside;
    if (!pendingId.isEmpty()) {
        const QSet<QString> same = m_store.floors().sameTextBeside(pendingId);
        beside = QStringList(same.cbegin(), same.cend());
        beside.sort();
    }
    m_error.clear();
    const qint64 seq = m_outbox.append(body, message, pendingId, beside, &m_error);
    if (const auto about = aboutOf(*m_outbox.find(seq)))
        m_store.postSent(*about);
    pump();
}

void OutboxSender::editPending(const QString& pendingId, const QString& text) {
    const auto it = std::ranges::find_if(m_outbox.entries(), [&](const Outbox::Entry& e) {
        return e.message.action == inbox::Action::Add && e.pendingId == pendingId;
    });
    if (it == m_outbox.entries().cend())
        return;
    Outbox::Entry entry = *it;
    if (entry.unsure || entry.seq == m_inFlight) {
        entry.shownText = text;
    } else {
        // Nothing of it has reached the relay (a failed post counts as not taken, as for any
        // resend): the add itself now says what the row says.
        inbox::Message message = entry.message;
        message.text = text;
        entry.body = inbox::serialize(inbox::toJson(message));
        entry.shownText.clear();
        m_store.pendingTextSent(pendingId);
        const QSet<QString> same = m_store.floors().sameTextBeside(pendingId);
        entry.beside = QStringList(same.cbegin(), same.cend());
        entry.beside.sort();
    }
    m_error.clear();
    m_outbox.revise(entry, &m_error);
}

void OutboxSender::pump() {
    if (m_inFlight || m_retryWaiting)
        return;
    const Outbox::Entry* entry = m_outbox.next();
    if (!entry)
        return;
    const std::optional<net::Request> request = m_request(entry->body);
    if (!request)
        return;
    const qint64 seq = entry->seq;
    // A crash from here on leaves an add whose post may have arrived: the next run holds it
    // until the feed tells.
    if (entry->message.action == inbox::Action::Add)
        m_outbox.posting(seq, &m_error);
    m_inFlight = seq;
    net::send(m_network, *request, this, [this, seq](const net::Result& r) { answered(seq, r); });
    emit posted();
}

void OutboxSender::answered(qint64 seq, const net::Result& result) {
    m_inFlight = 0;
    const Outbox::Entry* entry = m_outbox.find(seq);
    if (!entry)
        return pump();
    switch (net::classifyPost(result)) {
    case net::PostOutcome::Taken:
        m_backoff = kFirstRetry;
        m_refused = 0;
        leave(seq, false);
        break;
    case net::PostOutcome::Refused:
        ++m_refused;
        leave(seq, true);
        break;
    case net::PostOutcome::Unknown:
        // A second copy of an addition would be a second task: it waits for the feed.
        if (entry->message.action == inbox::Action::Add) {
            m_outbox.markUnsure(seq, m_nextFetch());
            break;
        }
        [[fallthrough]];
    case net::PostOutcome::Retry:
        retryLater();
        break;
    }
    adoptShownTexts();
    if (!m_outbox.isEmpty() && m_outbox.find(seq))
        watchOverdue(); // it failed: the line may be due in a minute
    emit noticeChanged();
    pump();
}

void OutboxSender::leave(qint64 seq, bool refused) {
    const std::optional<OverlayFloors::Entry> about = aboutOf(*m_outbox.find(seq));
    m_outbox.take(seq, &m_error);
    if (!about)
        return;
    m_store.postAnswered(*about, m_nextFetch());
    // A refused change never reaches the feed: the overlay stops showing it, unless a later
    // message about the same thing still waits.
    const bool another = std::ranges::any_of(m_outbox.entries(), [&](const Outbox::Entry& e) {
        const auto other = aboutOf(e);
        return other && other->kind == about->kind && other->key == about->key;
    });
    if (refused && !another)
        m_store.withdraw(*about);
}

void OutboxSender::retryLater() {
    if (m_watchNetwork)
        startNetworkWatch();
    m_retryWaiting = true;
    const quint64 round = ++m_retryRound;
    m_clock.schedule(m_backoff, this, [this, round] {
        if (round != m_retryRound)
            return;
        m_retryWaiting = false;
        pump();
    });
    m_backoff = std::min(m_backoff * 2, kLongestRetry);
}

void OutboxSender::resendNow() {
    if (m_retryWaiting) {
        ++m_retryRound;
        m_retryWaiting = false;
    }
    pump();
}

void OutboxSender::feedFetched(quint64 fetch) {
    const QList<qint64> shown =
        m_outbox.fetched(fetch, [this](const Outbox::Entry& e) { return shows(e); });
    for (const qint64 seq : shown)
        leave(seq, false);
    if (!shown.isEmpty())
        emit noticeChanged();
    adoptShownTexts();
    resendNow();
}

// An add edited while its post may have been arriving turned out not to have arrived (the relay
// did not take it, or three fetches did not show it): it is sent again anyway, so with the
// row's text.
void OutboxSender::adoptShownTexts() {
    QList<std::pair<QString, QString>> edited;
    for (const Outbox::Entry& entry : m_outbox.entries())
        if (!entry.shownText.isEmpty() && !entry.unsure && entry.seq != m_inFlight)
            edited.append({entry.pendingId, entry.shownText});
    for (const auto& [pendingId, text] : std::as_const(edited))
        editPending(pendingId, text);
}

// Whether the feed shows an unsure addition: the pending-add reconciliation has ended its row
// (a task with its text the user did not see beside it when adding).
bool OutboxSender::shows(const Outbox::Entry& entry) const {
    if (entry.pendingId.isEmpty()) {
        if (!m_store.payload())
            return false;
        const QList<Row> rows = rules::rowsOf(*m_store.payload(), entry.message.list);
        return std::ranges::any_of(
            rows, [&](const Row& row) { return rules::isItem(row) && row.text == entry.message.text; });
    }
    const QList<Row> pending = m_store.pendingAdd().value(entry.message.list);
    return std::ranges::none_of(pending, [&](const Row& row) { return row.id == entry.pendingId; });
}

std::optional<OverlayFloors::Entry> OutboxSender::aboutOf(const Outbox::Entry& entry) const {
    using Kind = OverlayFloors::Kind;
    const inbox::Message& m = entry.message;
    switch (m.action) {
    case inbox::Action::Done:
    case inbox::Action::Undone:
        return OverlayFloors::Entry{Kind::Done, m.id};
    case inbox::Action::Edit:
        return OverlayFloors::Entry{Kind::Text, m.id};
    case inbox::Action::Add:
        if (entry.pendingId.isEmpty())
            return std::nullopt;
        return OverlayFloors::Entry{Kind::Add, entry.pendingId};
    case inbox::Action::Reorder:
        return OverlayFloors::Entry{Kind::Order, m.list};
    }
    return std::nullopt;
}

qsizetype OutboxSender::overdue() const {
    return m_outbox.olderThan(kOverdueMs) > 0 ? m_outbox.entries().size() : 0;
}

// The line about waiting messages shows once the oldest has waited a minute: a check is set
// for that moment, once a post has failed (while the relay takes each message, none is needed).
void OutboxSender::watchOverdue() {
    if (m_outbox.isEmpty())
        return;
    const qint64 due = m_outbox.entries().first().madeMs + kOverdueMs + 1;
    const qint64 wait = due - m_clock.msecsSinceEpoch();
    if (wait <= 0 || due == m_overdueCheckAt)
        return;
    m_overdueCheckAt = due;
    m_clock.schedule(Delay(wait), this, [this] {
        emit noticeChanged();
        watchOverdue();
    });
}

void OutboxSender::watchNetwork() {
    m_watchNetwork = true;
    if (m_retryWaiting)
        startNetworkWatch();
}

void OutboxSender::startNetworkWatch() {
    if (m_networkWatched)
        return;
    m_networkWatched = true;
    // Connected after loading: the state the backend finds at first is no change, so a resend
    // waits its delay as before.
    if (!QNetworkInformation::loadDefaultBackend())
        return;
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info || !info->supports(QNetworkInformation::Feature::Reachability))
        return;
    connect(info, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    resendNow();
            });
}

#include "moc_OutboxSender.cpp"
