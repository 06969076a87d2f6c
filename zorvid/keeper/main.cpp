// zorvid-keeper: keeps zorvid running on the reader exactly while Wi-Fi is
// on. The archive's udev rule starts it when the Wi-Fi interface appears:
//   zorvid-keeper INTERFACE
// It detaches at once (udev kills programs that take long), waits for the
// keeper before it to finish, then keeps zorvid, which lies beside it, until
// the interface goes (see keeper.h). Its log and zorvid's are /tmp/zorvid.log.

#include "keeper/keeper.h"
#include "keeper/keeperlog.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zorvid;

namespace {

const char logPath[] = "/tmp/zorvid.log";
const long logLimit = 256 * 1024;
const char lockPath[] = "/tmp/zorvid-keeper.lock";
const char switchFile[] = "/mnt/onboard/.adds/zorvi/disable-plugin";
// The add-on's library, from the folder of zorvid and its keeper
// (/usr/local/zorvi): Nickel's image-format plugins (/usr/local/Kobo).
const char libraryFromInstall[] = "/../Kobo/imageformats/libzorvi.so";

// Leaves the process that started it (udev, which waits for it) at once, in
// a session of its own, at /, with nothing of its starter's open.
void detach()
{
    if (::fork() != 0)
        ::_exit(0);
    ::setsid();
    if (::fork() != 0)
        ::_exit(0);
    ::umask(022);
    if (::chdir("/") != 0)
        ::_exit(1);
    closeDescriptorsFrom(0);
    const int null = ::open("/dev/null", O_RDWR);
    if (null == 0) {
        ::dup2(0, 1);
        ::dup2(0, 2);
    }
}

std::string installDir()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        const char usage[] = "usage: zorvid-keeper INTERFACE\n";
        (void)!::write(2, usage, sizeof usage - 1);
        return 2;
    }
    const std::string dir = installDir();
    detach();
    KeeperLog log(logPath, logLimit);
    if (dir.empty()) {
        log.line("cannot tell where zorvid lies");
        return 1;
    }
    // One keeper at a time; one started while another stops waits for it.
    const int lock = ::open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        log.line("cannot lock /tmp/zorvid-keeper.lock");
        return 1;
    }
    Keeper keeper({argv[1], dir + "/zorvid", dir + libraryFromInstall, switchFile, dir}, log);
    return keeper.run();
}
