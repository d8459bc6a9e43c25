#include "hub/Journal.h"

#include "disk/DurableFile.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <unistd.h>

namespace {

QByteArray checkOf(qint64 seq, QByteArrayView message) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(seq));
    hash.addData(" ");
    hash.addData(message);
    return hash.result().toHex().left(16);
}

// The entries of one line: a group of messages, numbered from the line's SEQ.
std::optional<QList<Journal::Entry>> parseLine(QByteArrayView line) {
    const qsizetype first = line.indexOf(' ');
    if (first <= 0)
        return std::nullopt;
    const qsizetype second = line.indexOf(' ', first + 1);
    if (second < 0)
        return std::nullopt;
    bool ok = false;
    const qint64 seq = line.first(first).toLongLong(&ok);
    if (!ok || seq <= 0)
        return std::nullopt;
    const QByteArrayView check = line.sliced(first + 1, second - first - 1);
    const QByteArrayView messages = line.sliced(second + 1);
    if (check != checkOf(seq, messages))
        return std::nullopt;
    QList<Journal::Entry> entries;
    for (const QByteArray& message : messages.toByteArray().split('\t'))
        entries.append({seq + entries.size(), message});
    return entries;
}

} // namespace

QByteArray Journal::lineFor(qint64 seq, const QByteArray& message) {
    return QByteArray::number(seq) + ' ' + checkOf(seq, message) + ' ' + message + '\n';
}

bool Journal::open(const QString& path, qint64 seqFloor, QString* error) {
    m_path = path;
    m_entries.clear();
    m_broken = false;
    QByteArray text;
    if (QFileInfo::exists(path)) {
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
            return false;
        }
        text = in.readAll();
    }

    qsizetype goodEnd = 0; // end of the last whole, intact line
    qsizetype lineNo = 0;
    qsizetype firstBad = -1;
    for (qsizetype pos = 0; pos < text.size();) {
        ++lineNo;
        const qsizetype newline = text.indexOf('\n', pos);
        if (newline < 0)
            break; // no line break: the crash cut this append short
        const auto entries = parseLine(QByteArrayView(text).sliced(pos, newline - pos));
        if (entries && (m_entries.isEmpty() || entries->first().seq > m_entries.last().seq)) {
            if (firstBad >= 0) {
                *error = QStringLiteral("%1 line %2 is damaged but later lines are whole; "
                                        "repair or move the file away")
                             .arg(path)
                             .arg(firstBad);
                return false;
            }
            m_entries.append(*entries);
            goodEnd = newline + 1;
        } else if (firstBad < 0) {
            firstBad = lineNo;
        }
        pos = newline + 1;
    }

    if (goodEnd < text.size()) {
        QFile cut(path);
        if (!cut.open(QIODevice::ReadWrite) || !cut.resize(goodEnd)) {
            *error = QStringLiteral("cannot cut the damaged end off %1: %2")
                         .arg(path, cut.errorString());
            return false;
        }
        if (!durable::syncFd(cut.handle())) {
            *error = QStringLiteral("cannot cut the damaged end off %1: %2")
                         .arg(path, durable::systemReason());
            return false;
        }
    }
    m_nextSeq = std::max(seqFloor, m_entries.isEmpty() ? 0 : m_entries.last().seq) + 1;
    m_syncedCount = m_entries.size();
    return reopenForAppend(error);
}

bool Journal::reopenForAppend(QString* error) {
    m_file.close();
    m_file.setFileName(m_path);
    const bool existed = QFileInfo::exists(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot open %1 for writing: %2").arg(m_path, m_file.errorString());
        return false;
    }
    // Also a journal left readable by an older hub: it holds every message.
    m_size = m_file.size();
    if (!durable::makePrivate(m_file.handle())) {
        *error = QStringLiteral("cannot protect %1: %2").arg(m_path, durable::systemReason());
        return false;
    }
    if (!existed && !durable::syncDirectory(QFileInfo(m_path).absolutePath())) {
        *error =
            QStringLiteral("cannot sync the folder of %1: %2").arg(m_path, durable::systemReason());
        return false;
    }
    return true;
}

std::optional<qint64> Journal::add(const QByteArray& message, QString* error) {
    if (m_broken || !m_file.isOpen()) {
        *error = QStringLiteral("the journal could not be repaired after a failed write");
        return std::nullopt;
    }
    if (message.contains('\n') || message.contains('\t')) {
        *error = QStringLiteral("a journal message must be one line without tabs");
        return std::nullopt;
    }
    const qint64 seq = m_nextSeq++;
    m_entries.append({seq, message});
    return seq;
}

bool Journal::commit(QString* error) {
    const qsizetype first = m_syncedCount;
    if (first == m_entries.size())
        return true;
    QByteArray messages;
    for (qsizetype i = first; i < m_entries.size(); ++i)
        messages += (i == first ? "" : "\t") + m_entries[i].message;
    // One line for the whole group: a crash that cuts the write short damages the last line
    // only, which the next start cuts off.
    const QByteArray line = lineFor(m_entries.value(first).seq, messages);
    if (m_broken || !m_file.isOpen()) {
        *error = QStringLiteral("the journal could not be repaired after a failed write");
    } else if (!durable::writeAll(m_file.handle(), line) || !durable::syncFd(m_file.handle())) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, durable::systemReason());
        // Whatever of the group reached the disk was never acknowledged: it goes, and the cut
        // is synced, so a restart finds only what was acknowledged. A failed fsync may have
        // dropped data while the next one reports success: if the cut cannot be synced, the
        // journal takes nothing more.
        if (::ftruncate(m_file.handle(), m_size) != 0 || !durable::syncFd(m_file.handle()))
            m_broken = true;
    } else {
        m_size += line.size();
        m_syncedCount = m_entries.size();
        return true;
    }
    m_nextSeq -= uncommittedCount();
    m_entries.resize(m_syncedCount);
    return false;
}

bool Journal::dropThrough(qint64 seq, QString* error) {
    if (uncommittedCount() > 0)
        return true;
    QList<Entry> kept;
    QByteArray text;
    for (const Entry& entry : std::as_const(m_entries)) {
        if (entry.seq > seq) {
            kept.append(entry);
            text += lineFor(entry.seq, entry.message);
        }
    }
    if (kept.size() == m_entries.size())
        return true;
    m_file.close();
    if (!durable::replaceFile(m_path, text, error)) {
        QString reopenError;
        if (!reopenForAppend(&reopenError))
            m_broken = true;
        return false;
    }
    m_entries = std::move(kept);
    m_syncedCount = m_entries.size();
    return reopenForAppend(error);
}
