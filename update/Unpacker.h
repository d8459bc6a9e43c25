#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

struct archive;
struct archive_entry;

// Unpacks a release zip into a folder without ever writing outside it. libarchive's secure
// extraction refuses ".." and absolute names and never writes through a symbolic link; on top
// of that every entry is checked here before anything is written (see entryStaysInside), and
// the bytes written are counted so that a zip bomb stops at the limit instead of filling the
// disk.
class Unpacker {
public:
    enum class Kind { File, Directory, Symlink, HardLink, Other };

    static constexpr qint64 kMaxBytes = qint64(512) * 1024 * 1024;
    static constexpr int kMaxEntries = 10000;

    qint64 maxBytes = kMaxBytes;
    int maxEntries = kMaxEntries;

    // Unpacks the zip at `archive` into the existing folder `folder`. False, with reason()
    // saying why, for anything that is not a readable zip, an entry that would leave the
    // folder, more than maxBytes of content or more than maxEntries entries; what was written
    // before the failure stays in the folder.
    bool unpack(const QString& archive, const QString& folder);
    const QString& reason() const { return m_reason; }

    // The check made for every entry: `path` is relative and names no "..", a hard link names
    // a file unpacked earlier (`earlierFiles`, as normalised by normalisedPath), and a
    // symbolic link's target is relative and its leading ".." climb no higher than the link's
    // own folder, with no ".." after the first name. Links are only ever created in real
    // folders (libarchive refuses to write through a link), so such a target always resolves
    // inside the folder, even through other links. Devices, pipes and sockets are refused.
    static bool entryStaysInside(const QByteArray& path, Kind kind, const QByteArray& linkTarget,
                                 const QSet<QByteArray>& earlierFiles);
    // `path` without "." and empty pieces ("./a//b/" is "a/b"); empty for an absolute path or
    // one with a ".." piece.
    static QByteArray normalisedPath(const QByteArray& path);

private:
    bool fail(const QString& reason);
    // Checks one entry and writes it; `files` and `written` carry over from entry to entry.
    bool unpackEntry(archive* in, archive* out, archive_entry* entry, QSet<QByteArray>* files,
                     qint64* written);
    // Copies a file entry's content, counting it into `written`.
    bool copyData(archive* in, archive* out, qint64* written);

    QString m_reason;
};
