#include "DurableFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace durable {

bool syncFd(int fd) {
#ifdef __APPLE__
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return true;
#endif
    return ::fsync(fd) == 0;
}

bool syncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = syncFd(fd);
    ::close(fd);
    return ok;
}

bool replaceFile(const QString& path, QByteArrayView data, QString* error) {
    QSaveFile file(path);
    // Never fall back to writing the target in place: that is exactly the torn file we avoid.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(data.data(), data.size()) != data.size() || !file.flush() ||
        !syncFd(file.handle())) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot replace %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!syncDirectory(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot sync the folder of %1").arg(path);
        return false;
    }
    return true;
}

} // namespace durable
