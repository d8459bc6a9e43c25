#include "hub/FeedStore.h"

#include "disk/DurableFile.h"
#include "hub/FeedJson.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>

namespace {

QString randomId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void printReport(const QString& line) {
    std::fprintf(stderr, "velloa-hub: %s\n", qPrintable(line));
}

} // namespace

FeedStore::FeedStore(Clock& clock, QObject* parent)
    : QObject(parent), newId(randomId), report(printReport), m_clock(clock) {}

FeedStore::~FeedStore() {
    if (m_writer)
        m_writer->wait();
}

bool FeedStore::open(const QString& dir, QString* error) {
    m_dir = QDir(dir).absolutePath();
    if (!QFileInfo(m_dir).isDir()) {
        if (!QDir().mkpath(m_dir) ||
            !QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            *error = QStringLiteral("cannot create the data folder %1").arg(m_dir);
            return false;
        }
    }
    m_lock = std::make_unique<QLockFile>(m_dir + u'/' + kLockFile);
    if (!m_lock->tryLock(0)) {
        *error = QStringLiteral("another velloa-hub is using %1 (or %2 cannot be written)")
                     .arg(m_dir, kLockFile);
        return false;
    }
    QFile::setPermissions(m_dir + u'/' + kLockFile, QFile::ReadOwner | QFile::WriteOwner);
    return loadFeed(error) && replayJournal(error);
}

bool FeedStore::loadFeed(QString* error) {
    const QString feedPath = m_dir + u'/' + kFeedFile;
    const QString journalPath = m_dir + u'/' + kJournalFile;
    if (!QFileInfo::exists(feedPath)) {
        if (QFileInfo(journalPath).size() > 0) {
            *error =
                QStringLiteral("%1 holds messages but %2 is missing; restore %2 from a backup, "
                               "or move %1 away to start with a demo feed")
                    .arg(journalPath, feedPath);
            return false;
        }
        m_feed = demoFeed(m_clock.now());
        return persist(error);
    }

    QFile file(feedPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(feedPath, file.errorString());
        return false;
    }
    const QByteArray text = file.readAll();
    QString decodeError;
    std::optional<StoredFeed> stored = readFeed(text, &decodeError);
    if (!stored) {
        *error = QStringLiteral("%1 is not a feed the app can read (%2); refusing to start so that "
                                "it is not overwritten")
                     .arg(feedPath, decodeError);
        return false;
    }
    m_feed = std::move(stored->feed);
    m_feedText = text;
    m_appliedSeq = m_writtenSeq = m_textSeq = stored->appliedSeq;
    return true;
}

bool FeedStore::replayJournal(QString* error) {
    if (!m_journal.open(m_dir + u'/' + kJournalFile, m_appliedSeq, error))
        return false;
    qsizetype replayed = 0;
    for (const Journal::Entry& entry : m_journal.entries()) {
        if (entry.seq <= m_appliedSeq)
            continue;
        const inbox::Parse parsed = inbox::parse(entry.message);
        if (!parsed.message) {
            *error = QStringLiteral("journal entry %1 does not read as a message (%2)")
                         .arg(entry.seq)
                         .arg(parsed.error);
            return false;
        }
        applyOne(entry.seq, *parsed.message);
        ++replayed;
    }
    if (replayed > 0) {
        report(QStringLiteral("applied %1 journal entries the feed file did not include yet")
                   .arg(replayed));
        if (!persist(error))
            return false;
    }
    return m_journal.dropThrough(m_writtenSeq, error);
}

std::optional<qint64> FeedStore::submit(const inbox::Message& message, QString* error,
                                        QObject* context, Done done) {
    // Written from the checked message, so the body is parsed once; the compact form escapes
    // every line break inside strings, which keeps each entry on one line.
    const auto seq = m_journal.add(inbox::serialize(inbox::toJson(message)), error);
    if (!seq) {
        report(*error);
        return std::nullopt;
    }
    m_group.append({*seq, message, context, context != nullptr, std::move(done)});
    // Queued behind what the event loop is handling now: every message read in this turn
    // (and, while a sync runs, every one that arrives meanwhile) joins the group.
    if (!m_commitQueued) {
        m_commitQueued = true;
        QMetaObject::invokeMethod(this, &FeedStore::commit, Qt::QueuedConnection);
    }
    return seq;
}

void FeedStore::commit() {
    m_commitQueued = false;
    if (m_group.isEmpty())
        return;
    const QList<Submitted> group = std::exchange(m_group, {});
    QString error;
    if (m_journal.commit(&error)) {
        const qint64 due = nowMs() + qint64(m_delay.count());
        for (const Submitted& message : group)
            m_waiting.append({message.seq, message.message, due});
        applyDue();
        if (m_compactDue)
            compactIfDue();
    } else {
        report(error);
    }
    // Told after the feed in memory has them: a GET after the answer sees the change.
    for (const Submitted& message : group) {
        if (message.done && (!message.hasContext || message.context))
            message.done(error);
    }
}

void FeedStore::applyDue() {
    const qint64 now = nowMs();
    bool applied = false;
    while (!m_waiting.isEmpty() && m_waiting.first().dueMs <= now) {
        const Waiting next = m_waiting.takeFirst();
        applyOne(next.seq, next.message);
        applied = true;
    }
    if (applied)
        scheduleRewrite(Clock::Delay(std::max<qint64>(0, m_nextRewriteMs - now)));
    // Messages wait in arrival order with the same delay: the first is due first.
    if (m_waiting.isEmpty() || (m_applyAtMs >= 0 && m_applyAtMs <= m_waiting.first().dueMs))
        return;
    const qint64 due = m_applyAtMs = m_waiting.first().dueMs;
    m_clock.schedule(Clock::Delay(due - now), this, [this, due] {
        if (m_applyAtMs != due)
            return;
        m_applyAtMs = -1;
        applyDue();
    });
}

void FeedStore::applyOne(qint64 seq, const inbox::Message& message) {
    applyMessage(m_feed, message, ApplyContext{m_clock.now(), newId()});
    m_appliedSeq = seq;
}

const QByteArray& FeedStore::feedText() {
    if (m_textSeq != m_appliedSeq) {
        m_feedText = serializeFeed(m_feed, m_appliedSeq);
        m_textSeq = m_appliedSeq;
    }
    return m_feedText;
}

// While a rewrite runs, none is scheduled: its end schedules the next one if needed.
void FeedStore::scheduleRewrite(Clock::Delay delay) {
    if (m_rewriteScheduled || m_writer)
        return;
    m_rewriteScheduled = true;
    m_clock.schedule(delay, this, [this] { rewrite(); });
}

struct FeedStore::Written {
    qint64 seq = 0;
    QByteArray text; // serialized by the writer unless the feed text was already up to date
    bool ok = false;
    QString error;
};

void FeedStore::rewrite() {
    m_rewriteScheduled = false;
    if (m_writer || m_writtenSeq == m_appliedSeq)
        return;
    if (const qint64 wait = m_nextRewriteMs - nowMs(); wait > 0) {
        scheduleRewrite(Clock::Delay(wait));
        return;
    }
    auto written = std::make_shared<Written>();
    written->seq = m_appliedSeq;
    if (m_textSeq == m_appliedSeq)
        written->text = m_feedText;
    // The copy shares its rows with the feed, which goes on changing here meanwhile (its first
    // change copies the lists, not the texts); serializing and syncing a large feed takes
    // tens of milliseconds that the answers do not wait for.
    m_writer.reset(QThread::create([written, feed = m_feed, path = m_dir + u'/' + kFeedFile] {
        if (written->text.isEmpty())
            written->text = serializeFeed(feed, written->seq);
        written->ok = durable::replaceFile(path, written->text, &written->error);
    }));
    connect(m_writer.get(), &QThread::finished, this, [this, written] { rewriteDone(*written); });
    m_writer->start();
}

void FeedStore::rewriteDone(const Written& written) {
    m_writer->wait(); // it has emitted finished and is ending
    m_writer.reset();
    if (written.ok) {
        m_writtenSeq = written.seq;
        if (m_textSeq != m_appliedSeq && written.seq == m_appliedSeq) {
            m_feedText = written.text;
            m_textSeq = written.seq;
        }
        compactIfDue();
    } else {
        // The messages are safe in the journal; only the published file lags behind.
        report(written.error + QStringLiteral("; trying again shortly"));
    }
    const Clock::Delay pause = written.ok ? rewritePause() : kRetryAfter;
    m_nextRewriteMs = nowMs() + pause.count();
    if (m_writtenSeq != m_appliedSeq)
        scheduleRewrite(pause);
    if (written.ok)
        emit feedWritten(written.seq);
}

void FeedStore::compactIfDue() {
    // Not while a group waits for its sync: its lines are not in the file yet.
    m_compactDue = m_journal.uncommittedCount() > 0;
    if (m_compactDue)
        return;
    qsizetype done = 0;
    for (const Journal::Entry& entry : m_journal.entries())
        done += entry.seq <= m_writtenSeq ? 1 : 0;
    QString error;
    if (done >= kCompactAfter && !m_journal.dropThrough(m_writtenSeq, &error))
        report(error);
}

// The first feed file, and the one after a replay: written before the hub takes requests.
bool FeedStore::persist(QString* error) {
    if (!durable::replaceFile(m_dir + u'/' + kFeedFile, feedText(), error))
        return false;
    m_writtenSeq = m_appliedSeq;
    m_nextRewriteMs = nowMs() + rewritePause().count();
    return true;
}

Clock::Delay FeedStore::rewritePause() const {
    const qsizetype rows = m_feed.mine_rows.size() + m_feed.hers_rows.size();
    return std::max(kRewriteEvery, Clock::Delay(rows / kRowsPerPauseMs));
}

#include "moc_FeedStore.cpp"
