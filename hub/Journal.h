#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <optional>

// Append-only log of accepted inbox messages. One line per group of messages synced together:
//   SEQ CHECK MESSAGE[\tMESSAGE...]\n
// SEQ is the first message's number (the others follow on); numbers count up from 1 and never
// repeat. CHECK is a hash of "SEQ MESSAGES" that tells a line cut short by a crash from a
// whole one; each MESSAGE is compact JSON (no line breaks, no tabs).
class Journal {
public:
    struct Entry {
        qint64 seq = 0;
        QByteArray message;

        bool operator==(const Entry&) const = default;
    };

    // Opens the journal, creating it when absent. A damaged last line (a group's write the
    // crash cut short, so never acknowledged) is cut off; damage before a whole line is an
    // error, because a line after it was acknowledged. New numbers start above `seqFloor` too.
    bool open(const QString& path, qint64 seqFloor, QString* error);

    // Entries still in the file, oldest first, then the uncommittedCount() waiting for commit().
    const QList<Entry>& entries() const { return m_entries; }
    qint64 lastSeq() const { return m_nextSeq - 1; }

    // Adds one message to the group the next commit() writes; returns its sequence number.
    std::optional<qint64> add(const QByteArray& message, QString* error);
    // Writes the group as one line and makes it durable with one fsync. On failure the line is
    // cut off again and its messages forgotten (their sequence numbers are given out again),
    // so the file holds exactly what it held before; `error` ends with the system's reason.
    bool commit(QString* error);
    // Messages added and not committed yet.
    qsizetype uncommittedCount() const { return m_entries.size() - m_syncedCount; }

    // Rewrites the journal without the entries up to and including `seq` (they are in the
    // feed file now). Atomic: a crash leaves the old or the new journal. Only between groups:
    // with messages waiting for their commit it does nothing.
    bool dropThrough(qint64 seq, QString* error);

    static QByteArray lineFor(qint64 seq, const QByteArray& message);

private:
    bool reopenForAppend(QString* error);

    QString m_path;
    QFile m_file;
    QList<Entry> m_entries;
    qint64 m_nextSeq = 1;
    qint64 m_size = 0; // bytes in the file, all synced
    qsizetype m_syncedCount = 0;
    bool m_broken = false;
};
