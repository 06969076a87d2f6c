#include "atomicfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

bool replaceFile(const QString &path, const QByteArray &bytes, QString *error)
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
    // A full storage may only say so at fsync or close, never at write.
    if (!writeAll(fd, bytes))
        failed("cannot write");
    else if (::fsync(fd) != 0)
        failed("cannot sync");
    if (::close(fd) != 0 && !failedStep)
        failed("cannot close");
    if (!failedStep && ::rename(temporary.constData(), target.constData()) != 0)
        failed("cannot rename");
    if (failedStep) {
        ::unlink(temporary.constData());
        *error = QStringLiteral("%1: %2").arg(QLatin1String(failedStep),
                                              QString::fromLocal8Bit(std::strerror(failure)));
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

} // namespace zorvid
