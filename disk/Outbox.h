#pragma once

#include "model/Clock.h"
#include "model/InboxMessage.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

// The inbox messages the relay has not taken yet, oldest first, in a file that survives a quit,
// a crash or a power cut. A message is on disk (synced) before it is posted and leaves once the
// relay has taken it (or refused it for good). The sender decides when to post; this class
// only keeps the messages and their state. One line per record, each a JSON object:
//   {"at":MS,["beside":[KEYS],"pending":"ID",["shown":"TEXT",]]"seq":N,"msg":BODY}
//                                                                  a message, its bytes as sent;
//                                                                  again with the same N: revised
//   {"try":N}                                                      an add is being posted
//   {"gone":N}                                                     it left the outbox
// A line that is not one of these (cut short by a crash, or damaged) is skipped.
class Outbox {
public:
    struct Entry {
        qint64 seq = 0;
        qint64 madeMs = 0;     // when the change was made, ms since 1970
        QByteArray body;       // exactly the bytes posted
        inbox::Message message; // the body, read
        // An add: the row waiting in the overlay, and the keys of the tasks that had its text
        // when the user added it (a task with that text and another key is the addition).
        QString pendingId;
        QStringList beside;
        // An add edited after its post may have gone out: the row shows this text, the message
        // keeps the one that may have arrived.
        QString shownText;
        // An add whose post may have reached the relay (its answer never came): it is not
        // posted again until kFetchesBeforeResend fetches from `watchFrom` on did not show it.
        bool unsure = false;
        quint64 watchFrom = 0;
        int fetchesLeft = 0;
    };

    static constexpr int kFetchesBeforeResend = 3;

    explicit Outbox(const Clock& clock) : m_clock(clock) {}

    // Reads the file at `path` (made, with its folder, when absent) and keeps appending to it.
    // Damaged lines are skipped and counted; the file is then written anew without them. An
    // add that was being posted when the last run ended is unsure. False, with `error`, when
    // the file cannot be read or written: the messages are then kept in memory only.
    bool open(const QString& path, QString* error);

    const QList<Entry>& entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    const Entry* find(qint64 seq) const;
    // Lines the last open() skipped.
    qsizetype skippedLines() const { return m_skipped; }

    // Appends a message (an add with its pending id and the keys beside it), makes it durable
    // and returns its number. When the write fails `error` says why; the message is kept in
    // memory all the same, so it is still sent.
    qint64 append(const QByteArray& body, const QString& pendingId, const QStringList& beside,
                  QString* error);
    // Replaces the entry with the same number (an add edited before it was posted), durably.
    bool revise(const Entry& entry, QString* error);
    // The same, for a body whose message the caller has at hand (it is not read back).
    qint64 append(const QByteArray& body, const inbox::Message& message, const QString& pendingId,
                  const QStringList& beside, QString* error);
    // The message has left: taken by the relay, or refused for good.
    bool take(qint64 seq, QString* error);
    // An add is about to be posted: after a crash from here on, it may have arrived.
    bool posting(qint64 seq, QString* error);
    // The add's post got no answer: hold it while the fetches from `fromFetch` on tell.
    void markUnsure(qint64 seq, quint64 fromFetch);

    // The message to post next: the oldest, unless it is an unsure add (later ones wait
    // behind it, so none overtakes it).
    const Entry* next() const;

    // A successful fetch: `shows` says whether its feed shows an unsure add. Returns the adds
    // it showed (the caller takes them); one shown by none of its fetches is posted again.
    QList<qint64> fetched(quint64 fetch, const std::function<bool(const Entry&)>& shows);

    // Messages made more than `ms` ago.
    qsizetype olderThan(qint64 ms) const;

private:
    bool readLines(const QByteArray& text);
    bool rewrite(QString* error);
    bool write(const QByteArray& line, QString* error);
    bool openForAppend(QString* error);
    qsizetype indexOf(qint64 seq) const;

    const Clock& m_clock;
    QString m_path;
    QFile m_file;
    QList<Entry> m_entries;
    qint64 m_nextSeq = 1;
    qsizetype m_skipped = 0;
    // Records written since the file was last written anew; it is rewritten past a limit.
    qsizetype m_records = 0;
};
