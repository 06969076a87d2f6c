#pragma once

// <dlfcn.h> for the add-on's code, bound to the symbol versions the
// e-reader's C library has.
//
// glibc 2.34 moved dlopen, dlsym and dladdr from libdl into libc under the
// new version GLIBC_2.34, so a library linked against today's glibc would ask
// for a version that the reader's glibc 2.19 lacks and fail to load. The
// .symver directives below bind each call to the functions' original ARM
// version, GLIBC_2.4, which libc still exports for compatibility here and
// which the reader's libdl defines. Every file that calls these functions
// includes this header instead of <dlfcn.h>, because the binding applies per
// object file.

#include <dlfcn.h>

#if defined(__arm__) && defined(__GLIBC__)
__asm__(".symver dlopen,dlopen@GLIBC_2.4");
__asm__(".symver dlsym,dlsym@GLIBC_2.4");
__asm__(".symver dladdr,dladdr@GLIBC_2.4");
#endif
