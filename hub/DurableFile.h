#pragma once

#include <QByteArrayView>
#include <QString>

// Small POSIX helpers for storage that must survive a crash or a power cut: data is on disk
// when these return true, not just handed to the kernel.
namespace durable {

// fsync (F_FULLFSYNC on macOS, where plain fsync stops at the drive's cache).
bool syncFd(int fd);

// Makes a rename or a new file in `dir` itself durable.
bool syncDirectory(const QString& dir);

// Replaces `path` atomically: a crash at any moment leaves either the old or the new
// content, never a mix. Writes a temporary file, syncs it, renames it over, syncs the folder.
bool replaceFile(const QString& path, QByteArrayView data, QString* error);

} // namespace durable
