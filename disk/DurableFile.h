#pragma once

#include <QByteArrayView>
#include <QString>

// Small POSIX helpers for storage that must survive a crash or a power cut: data is on disk
// when these return true, not just handed to the kernel. Files they create are readable by
// their owner only: the journal holds every message, the feed every task.
namespace durable {

// The system's reason for the call that just failed, e.g. "No space left on device". Read it
// before anything else can change errno.
QString systemReason();

// Writes all of `data` to `fd` (a short write is continued, so a full disk reports why).
bool writeAll(int fd, QByteArrayView data);

// fsync (F_FULLFSYNC on macOS, where plain fsync stops at the drive's cache).
bool syncFd(int fd);

// Like syncFd for a file whose data is what counts: fdatasync where there is one, which also
// flushes a grown size (an append stays readable) but not the times of the last change.
bool syncData(int fd);

// Makes a rename or a new file in `dir` itself durable.
bool syncDirectory(const QString& dir);

// Owner read and write only (0600), whatever the umask.
bool makePrivate(int fd);

// Replaces `path` atomically: a crash at any moment leaves either the old or the new
// content, never a mix. Writes a temporary file, syncs it, renames it over, syncs the folder.
// `error` ends with the system's reason.
bool replaceFile(const QString& path, QByteArrayView data, QString* error);

} // namespace durable
