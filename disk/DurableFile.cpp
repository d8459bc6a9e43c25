#include "disk/DurableFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace durable {

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, QByteArrayView data) {
    while (!data.isEmpty()) {
        const ssize_t n = ::write(fd, data.data(), size_t(data.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data = data.sliced(n);
    }
    return true;
}

bool syncFd(int fd) {
#ifdef __APPLE__
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return true;
#endif
    return ::fsync(fd) == 0;
}

bool syncData(int fd) {
#if defined(__APPLE__)
    return syncFd(fd);
#else
    return ::fdatasync(fd) == 0;
#endif
}

bool syncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = syncFd(fd);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

bool makePrivate(int fd) {
    return ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
}

bool replaceFile(const QString& path, QByteArrayView data, QString* error) {
    QSaveFile file(path);
    // Never fall back to writing the target in place: that is exactly the torn file we avoid.
    file.setDirectWriteFallback(false);
    const auto fail = [&](const char* what, const QString& reason) {
        *error = QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(what), path, reason);
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail("write", file.errorString());
    if (!makePrivate(file.handle()))
        return fail("protect", systemReason());
    if (!writeAll(file.handle(), data) || !syncFd(file.handle()))
        return fail("write", systemReason());
    if (!file.commit()) {
        *error = QStringLiteral("cannot replace %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!syncDirectory(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot sync the folder of %1: %2").arg(path, systemReason());
        return false;
    }
    return true;
}

} // namespace durable
