#include "update/Unpacker.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace {

using ReadArchive = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WriteArchive = std::unique_ptr<archive, decltype(&archive_write_free)>;

constexpr int kExtractFlags = ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS |
                              ARCHIVE_EXTRACT_NO_OVERWRITE | ARCHIVE_EXTRACT_TIME;

// libarchive names entries relative to the current directory and refuses absolute ones, so
// the unpacking runs inside the folder; the process's own directory is put back afterwards.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const QString& folder)
        : m_previous(QDir::currentPath()), m_entered(QDir::setCurrent(folder)) {}
    ~CurrentDirectory() {
        if (m_entered)
            QDir::setCurrent(m_previous);
    }
    bool entered() const { return m_entered; }

private:
    QString m_previous;
    bool m_entered;
};

Unpacker::Kind kindOf(archive_entry* entry, QByteArray* linkTarget) {
    if (const char* hardlink = archive_entry_hardlink(entry)) {
        *linkTarget = hardlink;
        return Unpacker::Kind::HardLink;
    }
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        return Unpacker::Kind::File;
    case AE_IFDIR:
        return Unpacker::Kind::Directory;
    case AE_IFLNK:
        *linkTarget = archive_entry_symlink(entry) ? archive_entry_symlink(entry) : "";
        return Unpacker::Kind::Symlink;
    default:
        return Unpacker::Kind::Other;
    }
}

QByteArray archiveError(archive* a) {
    const char* text = archive_error_string(a);
    return text ? QByteArray(text) : QByteArray("unknown error");
}

} // namespace

QByteArray Unpacker::normalisedPath(const QByteArray& path) {
    if (path.startsWith('/'))
        return {};
    QList<QByteArray> kept;
    for (const QByteArray& piece : path.split('/')) {
        if (piece == "..")
            return {};
        if (!piece.isEmpty() && piece != ".")
            kept.append(piece);
    }
    return kept.join('/');
}

bool Unpacker::entryStaysInside(const QByteArray& path, Kind kind, const QByteArray& linkTarget,
                                const QSet<QByteArray>& earlierFiles) {
    const QByteArray name = normalisedPath(path);
    if (name.isEmpty())
        return false;
    switch (kind) {
    case Kind::File:
    case Kind::Directory:
        return true;
    case Kind::HardLink: {
        const QByteArray target = normalisedPath(linkTarget);
        return !target.isEmpty() && earlierFiles.contains(target);
    }
    case Kind::Symlink: {
        if (linkTarget.isEmpty() || linkTarget.startsWith('/'))
            return false;
        qsizetype climb = name.count('/'); // how many folders the link's own folder is deep
        bool descending = false;
        for (const QByteArray& piece : linkTarget.split('/')) {
            if (piece.isEmpty() || piece == ".")
                continue;
            if (piece == "..") {
                if (descending || --climb < 0)
                    return false;
            } else {
                descending = true;
            }
        }
        return true;
    }
    case Kind::Other:
        return false;
    }
    return false;
}

bool Unpacker::fail(const QString& reason) {
    m_reason = reason;
    return false;
}

bool Unpacker::unpack(const QString& archivePath, const QString& folder) {
    m_reason.clear();
    ReadArchive in(archive_read_new(), archive_read_free);
    // Zip only: anything else, such as an HTML error page, is refused at the first header.
    archive_read_support_format_zip(in.get());
    if (archive_read_open_filename(in.get(), QFile::encodeName(archivePath).constData(),
                                   64 * 1024) != ARCHIVE_OK)
        return fail(QString::fromLocal8Bit(archiveError(in.get())));
    const CurrentDirectory inside(QDir(folder).absolutePath());
    if (!inside.entered())
        return fail(QStringLiteral("cannot enter ") + folder);
    // Declared after `inside`, so it is closed first: closing sets the folders' times and
    // modes by their relative names, which must still resolve inside the folder.
    WriteArchive out(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(out.get(), kExtractFlags);

    QSet<QByteArray> files;
    qint64 written = 0;
    int entries = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(in.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            return fail(QString::fromLocal8Bit(archiveError(in.get())));
        if (++entries > maxEntries)
            return fail(QStringLiteral("more than %1 entries").arg(maxEntries));
        if (!unpackEntry(in.get(), out.get(), entry, &files, &written))
            return false;
    }
    if (entries == 0)
        return fail(QStringLiteral("empty archive"));
    if (archive_write_close(out.get()) < ARCHIVE_WARN)
        return fail(QString::fromLocal8Bit(archiveError(out.get())));
    return true;
}

bool Unpacker::unpackEntry(archive* in, archive* out, archive_entry* entry, QSet<QByteArray>* files,
                           qint64* written) {
    const char* rawName = archive_entry_pathname(entry);
    const QByteArray name = rawName ? QByteArray(rawName) : QByteArray();
    QByteArray linkTarget;
    const Kind kind = kindOf(entry, &linkTarget);
    if (!entryStaysInside(name, kind, linkTarget, *files))
        return fail(QStringLiteral("refused entry ") + QString::fromLocal8Bit(name));
    // No set-id or sticky bits from a download, and the owner can always read, write and
    // remove what was unpacked (the work folder is deleted later, the old app replaced).
    const mode_t perm = archive_entry_perm(entry) & 0777;
    archive_entry_set_perm(entry, perm | (kind == Kind::Directory ? 0700 : 0600));
    if (kind == Kind::File && archive_entry_size_is_set(entry) &&
        archive_entry_size(entry) > maxBytes - *written)
        return fail(QStringLiteral("more than %1 bytes").arg(maxBytes));
    if (archive_write_header(out, entry) < ARCHIVE_WARN)
        return fail(QString::fromLocal8Bit(archiveError(out)));
    if (kind == Kind::File) {
        if (!copyData(in, out, written))
            return false;
        files->insert(normalisedPath(name));
    }
    if (archive_write_finish_entry(out) < ARCHIVE_WARN)
        return fail(QString::fromLocal8Bit(archiveError(out)));
    return true;
}

// The declared size may lie: the bytes actually written are what counts.
bool Unpacker::copyData(archive* in, archive* out, qint64* written) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int read = archive_read_data_block(in, &block, &size, &offset);
        if (read == ARCHIVE_EOF)
            return true;
        if (read < ARCHIVE_WARN)
            return fail(QString::fromLocal8Bit(archiveError(in)));
        *written += qint64(size);
        if (*written > maxBytes)
            return fail(QStringLiteral("more than %1 bytes").arg(maxBytes));
        if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN)
            return fail(QString::fromLocal8Bit(archiveError(out)));
    }
}
