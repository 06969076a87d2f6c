// state/: what the daemon keeps on the reader's storage, and how it writes it whole or not at all.

#include "state/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvid {

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = EIO;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

bool replaceFile(const QString &path, const QByteArray &bytes, QString *error, dev_t device)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".new-XXXXXX";
    const char *failedStep = nullptr;
    int failure = 0;
    const auto failed = [&](const char *step) {
        failedStep = step;
        failure = errno;
    };

    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot create a file beside it: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat status;
    if (device != 0 && (::fstat(fd, &status) != 0 || status.st_dev != device)) {
        failedStep = "the file system is not the one the state was read from";
        failure = 0;
    }
    // A full storage may not say so until fsync or close.
    else if (!writeAll(fd, bytes))
        failed("cannot write");
    else if (::fsync(fd) != 0)
        failed("cannot sync");
    if (::close(fd) != 0 && !failedStep)
        failed("cannot close");
    if (!failedStep && ::rename(temporary.constData(), target.constData()) != 0)
        failed("cannot rename");
    if (failedStep) {
        ::unlink(temporary.constData());
        *error = QLatin1String(failedStep);
        if (failure != 0)
            *error += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(failure));
        return false;
    }
    // The new directory entry must reach the disk too, or a power cut can
    // bring back the old file.
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void removeLeftovers(const QString &path)
{
    const QFileInfo file(path);
    QDir folder = file.dir();
    for (const QString &name : folder.entryList({file.fileName() + QStringLiteral(".new-??????")},
                                                QDir::Files | QDir::Hidden))
        folder.remove(name);
}

} // namespace zorvid
