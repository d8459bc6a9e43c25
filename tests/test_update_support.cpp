#include "tests/test_update_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

QMap<QString, QByteArray> folderTree(const QString& root) {
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            out[name] = "-> " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            out[name] = "dir";
        } else {
            QFile file(info.filePath());
            out[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
        }
    }
    return out;
}

bool writeArchive(const QString& path, const QList<ArchiveEntry>& entries, ArchiveFormat format) {
    std::unique_ptr<archive, decltype(&archive_write_free)> out(archive_write_new(),
                                                                archive_write_free);
    if (format == ArchiveFormat::Zip)
        archive_write_set_format_zip(out.get());
    else
        archive_write_set_format_pax_restricted(out.get());
    if (archive_write_open_filename(out.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        archive_entry_free);
    const QByteArray zeros(64 * 1024, '\0');
    for (const ArchiveEntry& e : entries) {
        archive_entry_clear(entry.get());
        archive_entry_set_pathname(entry.get(), e.path.constData());
        archive_entry_set_perm(entry.get(), e.perm);
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        switch (e.type) {
        case ArchiveEntry::File:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), e.data.size() + e.zeros);
            break;
        case ArchiveEntry::Dir:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case ArchiveEntry::Symlink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink(entry.get(), e.link.constData());
            break;
        case ArchiveEntry::HardLink:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_hardlink(entry.get(), e.link.constData());
            archive_entry_set_size(entry.get(), 0);
            break;
        }
        if (archive_write_header(out.get(), entry.get()) != ARCHIVE_OK)
            return false;
        if (e.type == ArchiveEntry::File) {
            if (archive_write_data(out.get(), e.data.constData(), size_t(e.data.size())) < 0)
                return false;
            for (qint64 left = e.zeros; left > 0; left -= zeros.size()) {
                const size_t n = size_t(std::min<qint64>(left, zeros.size()));
                if (archive_write_data(out.get(), zeros.constData(), n) < 0)
                    return false;
            }
        }
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

QByteArray appScript(const QByteArray& tag) {
    return "#!/bin/bash\nprintf '%s %s' '" + tag + "' \"$0\" > \"$VELLOA_TEST_MARKER\"\n";
}

QList<ArchiveEntry> releaseEntries(const QByteArray& tag, const QByteArray& bundle) {
    return {
        ArchiveEntry::dir(bundle + '/'),
        ArchiveEntry::file(bundle + "/velloa", appScript(tag), 0755),
        ArchiveEntry::dir(bundle + "/resources/"),
        ArchiveEntry::file(bundle + "/resources/notes.txt", tag + " resources\n"),
    };
}
