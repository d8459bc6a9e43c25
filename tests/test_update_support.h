#pragma once

#include "tests/support/Fixtures.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// Relative path -> content for files, "dir" for folders, "-> target" for links: the whole
// state of a folder, to check exactly what a run changed.
QMap<QString, QByteArray> folderTree(const QString& root);

// Release archives built by the tests themselves with libarchive's writer, hostile ones
// included, so that no binary file is ever committed.
struct ArchiveEntry {
    enum Type { File, Dir, Symlink, HardLink };
    QByteArray path;
    Type type = File;
    QByteArray data; // a file's content
    QByteArray link; // a link's target
    int perm = 0644;
    qint64 zeros = 0; // appended to data: a large, highly compressible file

    static ArchiveEntry file(const QByteArray& path, const QByteArray& data, int perm = 0644) {
        return {path, File, data, {}, perm, 0};
    }
    static ArchiveEntry dir(const QByteArray& path) { return {path, Dir, {}, {}, 0755, 0}; }
    static ArchiveEntry symlink(const QByteArray& path, const QByteArray& target) {
        return {path, Symlink, {}, target, 0777, 0};
    }
};

enum class ArchiveFormat { Zip, Tar };

// Writes the entries, in this order, to `path`; false if libarchive refused one.
bool writeArchive(const QString& path, const QList<ArchiveEntry>& entries,
                  ArchiveFormat format = ArchiveFormat::Zip);
// The stand-in for the app's executable: writes "<tag> <its own path>" to the file named by
// $VELLOA_TEST_MARKER, so a test sees which version was started, and from where.
QByteArray appScript(const QByteArray& tag);
// A minimal Linux release: Velloa.app with an executable `velloa` script and a resource file.
QList<ArchiveEntry> releaseEntries(const QByteArray& tag, const QByteArray& bundle = "Velloa.app");
