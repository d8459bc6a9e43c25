#include "Journal.h"

#include "DurableFile.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace {

QByteArray checkOf(qint64 seq, QByteArrayView message) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(seq));
    hash.addData(" ");
    hash.addData(message);
    return hash.result().toHex().left(16);
}

std::optional<Journal::Entry> parseLine(QByteArrayView line) {
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
    const QByteArrayView message = line.sliced(second + 1);
    if (check != checkOf(seq, message))
        return std::nullopt;
    return Journal::Entry{seq, message.toByteArray()};
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
        const auto entry = parseLine(QByteArrayView(text).sliced(pos, newline - pos));
        if (entry && (m_entries.isEmpty() || entry->seq > m_entries.last().seq)) {
            if (firstBad >= 0) {
                *error = QStringLiteral("%1 line %2 is damaged but later lines are whole; "
                                        "repair or move the file away")
                             .arg(path)
                             .arg(firstBad);
                return false;
            }
            m_entries.append(*entry);
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

std::optional<qint64> Journal::append(const QByteArray& message, QString* error) {
    if (m_broken || !m_file.isOpen()) {
        *error = QStringLiteral("the journal could not be repaired after a failed write");
        return std::nullopt;
    }
    if (message.contains('\n')) {
        *error = QStringLiteral("a journal message must be one line");
        return std::nullopt;
    }
    const qint64 seq = m_nextSeq;
    const QByteArray line = lineFor(seq, message);
    const qint64 oldSize = m_file.size();
    if (durable::writeAll(m_file.handle(), line) && durable::syncFd(m_file.handle())) {
        ++m_nextSeq;
        m_entries.append({seq, message});
        return seq;
    }
    *error = QStringLiteral("cannot write %1: %2").arg(m_path, durable::systemReason());
    if (!m_file.resize(oldSize) || !durable::syncFd(m_file.handle()))
        m_broken = true;
    return std::nullopt;
}

bool Journal::dropThrough(qint64 seq, QString* error) {
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
    return reopenForAppend(error);
}
