// Preloaded into zorvid, makes it meet a kernel as old as the oldest
// readers' (2.6.35): getrandom(2) is not there (ENOSYS), nor is the clock
// that counts sleep (CLOCK_BOOTTIME, EINVAL). Each refusal appends a line to
// the file that ZORVI_REFUSED_FILE names, so a test sees it was asked.

#include <dlfcn.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/syscall.h>

namespace {

void refused(const char *what)
{
    if (const char *path = std::getenv("ZORVI_REFUSED_FILE")) {
        if (FILE *file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", what);
            std::fclose(file);
        }
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) long syscall(long number, ...)
{
    using Syscall = long (*)(long, ...);
    static const auto real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long &argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
    if (number == SYS_getrandom) {
        refused("getrandom");
        errno = ENOSYS;
        return -1;
    }
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock, timespec *now)
{
    using ClockGettime = int (*)(clockid_t, timespec *);
    static const auto real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    if (clock == CLOCK_BOOTTIME) {
        refused("CLOCK_BOOTTIME");
        errno = EINVAL;
        return -1;
    }
    return real(clock, now);
}
