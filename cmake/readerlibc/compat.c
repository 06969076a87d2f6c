/* What a program built with today's C library headers needs from the
 * reader's older one (glibc 2.19), beside the stand-ins it links against.
 *
 * - The initialiser and finaliser that start.S hands to __libc_start_main:
 *   the program's constructors, as the start files of glibc 2.19 ran them.
 *   Its destructors are the dynamic loader's to run.
 * - Functions that newer headers call by new names: stat and its kin became
 *   real functions in glibc 2.33 (before, inline calls of __xstat and its
 *   kin), and __libc_single_threaded (2.32) is read by the C++ runtime.
 * - fcntl64 (2.28), which headers call for fcntl with 64-bit file offsets:
 *   the old fcntl passes the 64-bit lock commands through as they are.
 * - getentropy (2.25) and arc4random (2.36), which the C++ runtime's
 *   std::random_device refers to. Nothing of ours uses it (zorvid's random
 *   bytes are its own), so these say "not supported" rather than pretend.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/stat.h>

extern void (*__init_array_start[])(int, char **, char **) __attribute__((visibility("hidden")));
extern void (*__init_array_end[])(int, char **, char **) __attribute__((visibility("hidden")));
extern void _init(void);

void zorvi_csu_init(int argc, char **argv, char **envp)
{
    _init();
    const size_t count = (size_t)(__init_array_end - __init_array_start);
    for (size_t i = 0; i < count; ++i)
        (*__init_array_start[i])(argc, argv, envp);
}

void zorvi_csu_fini(void) {}

/* The C++ runtime takes "not known to be single threaded", which is always
 * safe: reference counts stay atomic. */
char __libc_single_threaded = 0;

/* The structure layout of the old functions' version 3 is the one the
 * headers describe (struct stat64 with 64-bit sizes, as _FILE_OFFSET_BITS=64
 * asks for). */
int __xstat64(int version, const char *path, struct stat64 *buf);
int __lxstat64(int version, const char *path, struct stat64 *buf);
int __fxstat64(int version, int fd, struct stat64 *buf);
int __fxstatat64(int version, int fd, const char *path, struct stat64 *buf, int flags);
int __xstat(int version, const char *path, struct stat *buf);
int __lxstat(int version, const char *path, struct stat *buf);
int __fxstat(int version, int fd, struct stat *buf);
int __fxstatat(int version, int fd, const char *path, struct stat *buf, int flags);

#define STAT_VERSION 3

int stat64(const char *path, struct stat64 *buf) { return __xstat64(STAT_VERSION, path, buf); }
int lstat64(const char *path, struct stat64 *buf) { return __lxstat64(STAT_VERSION, path, buf); }
int fstat64(int fd, struct stat64 *buf) { return __fxstat64(STAT_VERSION, fd, buf); }
int fstatat64(int fd, const char *path, struct stat64 *buf, int flags)
{
    return __fxstatat64(STAT_VERSION, fd, path, buf, flags);
}
int stat(const char *path, struct stat *buf) { return __xstat(STAT_VERSION, path, buf); }
int lstat(const char *path, struct stat *buf) { return __lxstat(STAT_VERSION, path, buf); }
int fstat(int fd, struct stat *buf) { return __fxstat(STAT_VERSION, fd, buf); }
int fstatat(int fd, const char *path, struct stat *buf, int flags)
{
    return __fxstatat(STAT_VERSION, fd, path, buf, flags);
}

int fcntl64(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    return fcntl(fd, command, argument);
}

int getentropy(void *buffer, size_t length)
{
    (void)buffer;
    (void)length;
    errno = ENOSYS;
    return -1;
}

uint32_t arc4random(void)
{
    abort();
}
