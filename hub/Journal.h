#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <optional>

// Append-only log of accepted inbox messages. One line per message:
//   SEQ CHECK MESSAGE\n
// SEQ counts up from 1 and never repeats, CHECK is a hash of "SEQ MESSAGE" that tells a line
// cut short by a crash from a whole one, MESSAGE is compact JSON (no line breaks).
class Journal {
public:
    struct Entry {
        qint64 seq = 0;
        QByteArray message;

        bool operator==(const Entry&) const = default;
    };

    // Opens the journal, creating it when absent. A damaged tail (an append the crash cut
    // short, so never acknowledged) is cut off; damage before a whole line is an error,
    // because a line after it was acknowledged. New numbers start above `seqFloor` too.
    bool open(const QString& path, qint64 seqFloor, QString* error);

    // Entries still in the file, oldest first.
    const QList<Entry>& entries() const { return m_entries; }
    qint64 lastSeq() const { return m_nextSeq - 1; }

    // Writes one message and syncs it to disk; returns its sequence number. On failure the
    // file is cut back to where it was, so a later append never follows a half-written line.
    std::optional<qint64> append(const QByteArray& message, QString* error);

    // Rewrites the journal without the entries up to and including `seq` (they are in the
    // feed file now). Atomic: a crash leaves the old or the new journal.
    bool dropThrough(qint64 seq, QString* error);

    static QByteArray lineFor(qint64 seq, const QByteArray& message);

private:
    bool reopenForAppend(QString* error);

    QString m_path;
    QFile m_file;
    QList<Entry> m_entries;
    qint64 m_nextSeq = 1;
    bool m_broken = false;
};
