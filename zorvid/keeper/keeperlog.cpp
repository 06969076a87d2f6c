#include "keeper/keeperlog.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvid {

KeeperLog::KeeperLog(std::string path, long limit)
    : path(std::move(path))
    , limit(limit)
{
}

void KeeperLog::line(const std::string &message)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    const std::string text = "zorvid-keeper " + std::string(stamp) + " " + message + "\n";
    write(text.data(), long(text.size()));
}

void KeeperLog::append(const char *bytes, long length)
{
    write(bytes, length);
}

// Opened for each write, so that nothing is held open and a log removed by
// hand is simply made again.
void KeeperLog::write(const char *bytes, long length)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && status.st_size + length > limit)
        ::rename(path.c_str(), (path + ".1").c_str());
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return;
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, size_t(length));
        if (written <= 0)
            break;
        bytes += written;
        length -= written;
    }
    ::close(fd);
}

} // namespace zorvid
