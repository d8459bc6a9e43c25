#include "disk/Outbox.h"

#include "disk/DurableFile.h"
#include "disk/OutboxScan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace {

const QString kSeq = QStringLiteral("seq");
const QString kAt = QStringLiteral("at");
const QString kMsg = QStringLiteral("msg");
const QString kPending = QStringLiteral("pending");
const QString kBeside = QStringLiteral("beside");
const QString kShown = QStringLiteral("shown");
const QString kTry = QStringLiteral("try");
const QString kGone = QStringLiteral("gone");
constexpr QByteArrayView kMsgMember = "\"msg\":";

QByteArray recordLine(const QString& name, qint64 seq) {
    return QJsonDocument(QJsonObject{{name, seq}}).toJson(QJsonDocument::Compact) + '\n';
}

// The message goes in last and as it is, so its bytes come back exactly: `"msg":` cannot occur
// inside a JSON string (its quotes would be escaped), so its first occurrence is the member.
QByteArray entryLine(const Outbox::Entry& entry) {
    QJsonObject meta{{kSeq, entry.seq}, {kAt, entry.madeMs}};
    if (!entry.pendingId.isEmpty())
        meta.insert(kPending, entry.pendingId);
    if (!entry.beside.isEmpty())
        meta.insert(kBeside, QJsonArray::fromStringList(entry.beside));
    if (!entry.shownText.isEmpty())
        meta.insert(kShown, entry.shownText);
    QByteArray line = QJsonDocument(meta).toJson(QJsonDocument::Compact);
    line.chop(1);
    line.append(',').append(kMsgMember).append(entry.body).append("}\n");
    return line;
}

// A message line, or nothing when the line is not one (or its message does not read).
std::optional<Outbox::Entry> entryOf(QByteArrayView text, const QJsonObject& line) {
    const QJsonValue seq = line.value(kSeq), at = line.value(kAt), msg = line.value(kMsg);
    const qsizetype member = text.indexOf(kMsgMember);
    if (!seq.isDouble() || !at.isDouble() || !msg.isObject() || seq.toInteger() <= 0 ||
        member < 0 || !text.endsWith('}'))
        return std::nullopt;
    std::optional<inbox::Message> message = inbox::fromJson(msg.toObject()).message;
    if (!message)
        return std::nullopt;
    Outbox::Entry entry;
    entry.seq = seq.toInteger();
    entry.madeMs = at.toInteger();
    const qsizetype from = member + kMsgMember.size();
    entry.body = text.sliced(from, text.size() - 1 - from).toByteArray();
    entry.message = std::move(*message);
    entry.pendingId = line.value(kPending).toString();
    entry.shownText = line.value(kShown).toString();
    for (const QJsonValue& key : line.value(kBeside).toArray())
        entry.beside.append(key.toString());
    return entry;
}

} // namespace

const Outbox::Entry* Outbox::find(qint64 seq) const {
    const qsizetype i = indexOf(seq);
    return i < 0 ? nullptr : &m_entries[i];
}

qsizetype Outbox::indexOf(qint64 seq) const {
    // Sequence numbers only grow, so the list is sorted by them.
    const auto it = std::lower_bound(m_entries.cbegin(), m_entries.cend(), seq,
                                     [](const Entry& e, qint64 s) { return e.seq < s; });
    return it != m_entries.cend() && it->seq == seq ? it - m_entries.cbegin() : -1;
}

bool Outbox::open(const QString& path, QString* error) {
    m_path = path;
    m_entries.clear();
    m_skipped = 0;
    m_file.close();
    QFile in(path);
    if (in.exists() && !in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
        return false;
    }
    const bool clean = readLines(in.isOpen() ? in.readAll() : QByteArray());
    in.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot make the folder of %1").arg(path);
        return false;
    }
    // Damaged lines, and records of messages that have left, go: the file is written anew.
    if (!clean && !rewrite(error))
        return false;
    return openForAppend(error);
}

// Reads the records; true when the file holds exactly the entries, nothing more.
bool Outbox::readLines(const QByteArray& text) {
    QList<qint64> tried;
    qsizetype records = 0;
    qsizetype pos = 0;
    m_entries.reserve(text.count('\n'));
    for (qsizetype end = text.indexOf('\n'); end >= 0; pos = end + 1, end = text.indexOf('\n', pos)) {
        ++records;
        const QByteArrayView raw = QByteArrayView(text).sliced(pos, end - pos);
        // Qt's parser only for a line the plain reader does not take (see OutboxScan.h).
        std::optional<Entry> entry = scanPlainEntry(raw);
        QJsonObject line;
        if (!entry) {
            line = QJsonDocument::fromJson(QByteArray::fromRawData(raw.data(), raw.size())).object();
            entry = entryOf(raw, line);
        }
        const qsizetype same = entry ? indexOf(entry->seq) : -1;
        if (entry && (m_entries.isEmpty() || entry->seq > m_entries.last().seq)) {
            m_entries.append(std::move(*entry));
        } else if (same >= 0) {
            m_entries[same] = std::move(*entry); // revised: the later line holds it as it is
        } else if (line.value(kGone).isDouble()) {
            const qsizetype i = indexOf(line.value(kGone).toInteger());
            if (i >= 0)
                m_entries.removeAt(i);
        } else if (line.value(kTry).isDouble()) {
            tried.append(line.value(kTry).toInteger());
        } else {
            ++m_skipped;
        }
    }
    if (pos < text.size())
        ++m_skipped; // the last line, cut short: its append never finished
    // An add that was being posted when the run ended may have arrived.
    for (const qint64 seq : std::as_const(tried))
        markUnsure(seq, 0);
    m_nextSeq = m_entries.isEmpty() ? 1 : m_entries.last().seq + 1;
    m_records = records;
    const qsizetype unsure = std::ranges::count_if(m_entries, &Entry::unsure);
    return m_skipped == 0 && records == m_entries.size() + unsure;
}

bool Outbox::rewrite(QString* error) {
    QByteArray text;
    for (const Entry& entry : std::as_const(m_entries)) {
        text += entryLine(entry);
        if (entry.unsure)
            text += recordLine(kTry, entry.seq);
    }
    m_file.close();
    const bool written = durable::replaceFile(m_path, text, error);
    m_records = m_entries.size() + std::ranges::count_if(m_entries, &Entry::unsure);
    return written;
}

bool Outbox::openForAppend(QString* error) {
    const bool existed = QFileInfo::exists(m_path);
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_path, m_file.errorString());
        return false;
    }
    // Owner only: the outbox holds the texts of the user's tasks.
    if (!durable::makePrivate(m_file.handle()) ||
        (!existed && !durable::syncDirectory(QFileInfo(m_path).absolutePath()))) {
        *error = QStringLiteral("cannot set up %1: %2").arg(m_path, durable::systemReason());
        m_file.close();
        return false;
    }
    return true;
}

bool Outbox::write(const QByteArray& line, QString* error) {
    if (m_path.isEmpty())
        return true; // memory only, by choice
    if (!m_file.isOpen()) {
        *error = QStringLiteral("the outbox file is not open");
        return false;
    }
    if (!durable::writeAll(m_file.handle(), line) || !durable::syncData(m_file.handle())) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, durable::systemReason());
        return false;
    }
    ++m_records;
    return true;
}

qint64 Outbox::append(const QByteArray& body, const QString& pendingId, const QStringList& beside,
                      QString* error) {
    return append(body, inbox::parse(body).message.value_or(inbox::Message{}), pendingId, beside, error);
}

qint64 Outbox::append(const QByteArray& body, const inbox::Message& message, const QString& pendingId,
                      const QStringList& beside, QString* error) {
    Entry entry;
    entry.seq = m_nextSeq++;
    entry.madeMs = m_clock.msecsSinceEpoch();
    entry.body = body;
    entry.message = message;
    entry.pendingId = pendingId;
    entry.beside = beside;
    write(entryLine(entry), error);
    m_entries.append(std::move(entry));
    return m_entries.last().seq;
}

bool Outbox::revise(const Entry& entry, QString* error) {
    const qsizetype i = indexOf(entry.seq);
    if (i < 0)
        return true;
    Entry& kept = m_entries[i];
    kept.body = entry.body;
    kept.message = inbox::parse(entry.body).message.value_or(inbox::Message{});
    kept.beside = entry.beside;
    kept.shownText = entry.shownText;
    return write(entryLine(kept), error);
}

bool Outbox::take(qint64 seq, QString* error) {
    const qsizetype i = indexOf(seq);
    if (i < 0)
        return true;
    m_entries.removeAt(i);
    if (m_path.isEmpty())
        return true;
    if (m_entries.isEmpty() && m_file.isOpen()) {
        // Nothing waits: the file starts again empty, so it never grows for good.
        if (::ftruncate(m_file.handle(), 0) == 0 && durable::syncData(m_file.handle())) {
            m_records = 0;
            return true;
        }
    }
    if (!write(recordLine(kGone, seq), error))
        return false;
    if (m_records > 4 * m_entries.size() + 256)
        return rewrite(error) && openForAppend(error);
    return true;
}

bool Outbox::posting(qint64 seq, QString* error) {
    return write(recordLine(kTry, seq), error);
}

void Outbox::markUnsure(qint64 seq, quint64 fromFetch) {
    const qsizetype i = indexOf(seq);
    if (i < 0)
        return;
    Entry& entry = m_entries[i];
    entry.unsure = true;
    entry.watchFrom = fromFetch;
    entry.fetchesLeft = kFetchesBeforeResend;
}

const Outbox::Entry* Outbox::next() const {
    if (m_entries.isEmpty() || m_entries.first().unsure)
        return nullptr;
    return &m_entries.first();
}

QList<qint64> Outbox::fetched(quint64 fetch, const std::function<bool(const Entry&)>& shows) {
    QList<qint64> shown;
    for (Entry& entry : m_entries) {
        if (!entry.unsure || fetch < entry.watchFrom)
            continue;
        if (shows(entry))
            shown.append(entry.seq);
        else if (--entry.fetchesLeft <= 0)
            entry.unsure = false; // none of them showed it: it never arrived
    }
    return shown;
}

qsizetype Outbox::olderThan(qint64 ms) const {
    const qint64 now = m_clock.msecsSinceEpoch();
    return std::count_if(m_entries.cbegin(), m_entries.cend(),
                         [&](const Entry& e) { return now - e.madeMs > ms; });
}
