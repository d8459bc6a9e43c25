#include "FeedStore.h"

#include "DurableFile.h"
#include "FeedJson.h"

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

std::optional<qint64> FeedStore::accept(const inbox::Message& message, QString* error) {
    // Written from the checked message, so the body is parsed once; the compact form escapes
    // every line break inside strings, which keeps each entry on one line.
    const auto seq = m_journal.append(inbox::serialize(inbox::toJson(message)), error);
    if (!seq) {
        report(*error);
        return std::nullopt;
    }
    m_waiting.append({*seq, message, nowMs() + qint64(m_delay.count())});
    applyDue();
    return seq;
}

void FeedStore::applyDue() {
    const qint64 now = nowMs();
    bool applied = false;
    while (!m_waiting.isEmpty() && m_waiting.first().dueMs <= now) {
        const Waiting next = m_waiting.takeFirst();
        applyOne(next.seq, next.message);
        applied = true;
    }
    if (applied) {
        const qint64 wait = m_lastRewriteMs + kRewriteEvery.count() - now;
        scheduleRewrite(Clock::Delay(std::clamp<qint64>(wait, 0, kRewriteEvery.count())));
    }
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

void FeedStore::scheduleRewrite(Clock::Delay delay) {
    if (m_rewriteScheduled)
        return;
    m_rewriteScheduled = true;
    m_clock.schedule(delay, this, [this] { rewrite(); });
}

void FeedStore::rewrite() {
    m_rewriteScheduled = false;
    if (m_writtenSeq == m_appliedSeq)
        return;
    QString error;
    if (persist(&error))
        return;
    // The messages are safe in the journal; only the published file lags behind.
    report(error + QStringLiteral("; trying again shortly"));
    scheduleRewrite(kRetryAfter);
}

bool FeedStore::persist(QString* error) {
    m_lastRewriteMs = nowMs();
    if (!durable::replaceFile(m_dir + u'/' + kFeedFile, feedText(), error))
        return false;
    m_writtenSeq = m_appliedSeq;
    qsizetype done = 0;
    for (const Journal::Entry& entry : m_journal.entries())
        done += entry.seq <= m_writtenSeq ? 1 : 0;
    if (done >= kCompactAfter) {
        QString compactError;
        if (!m_journal.dropThrough(m_writtenSeq, &compactError))
            report(compactError);
    }
    return true;
}
