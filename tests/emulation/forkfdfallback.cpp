// Preloaded into the test programs of the cross build, which run under
// qemu-arm, so that QProcess can start programs there.
//
// Qt's forkfd asks waitid(P_PIDFD, ...) whether the kernel has process file
// descriptors; the machine's kernel has, so forkfd then starts the child with
// clone(CLONE_PIDFD), which qemu-arm does not emulate: no child is made, and
// QProcess reports process id -1. Failing that one question makes forkfd use
// plain fork() and SIGCHLD, which qemu-arm emulates. Every other system call
// passes through unchanged.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/syscall.h>

namespace {

const long pidfdIdType = 3; // P_PIDFD, which older headers lack

// Children must not inherit the preload: they may be programs of this machine,
// whose loader would complain about a library of another architecture.
// Emulated children get it again from QEMU_SET_ENV.
__attribute__((constructor)) void forgetPreload()
{
    unsetenv("LD_PRELOAD");
}

} // namespace

extern "C" long syscall(long number, ...)
{
    va_list list;
    va_start(list, number);
    long args[6];
    for (long &arg : args)
        arg = va_arg(list, long);
    va_end(list);

    if (number == SYS_waitid && args[0] == pidfdIdType) {
        errno = EINVAL;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const Syscall real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    return real(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}
