# Cross build for the e-reader: ARMv7-A, hard float, NEON, Thumb-2, tuned for
# the Cortex-A8, with Debian's cross compiler against a sysroot unpacked from
# Debian's own armhf packages (scripts/armhf makes it). Programs built here
# run on this machine under qemu-arm, which also runs the tests.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake -DZORVI_SYSROOT=DIR ...

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# try_compile() projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORVI_SYSROOT)
if(NOT ZORVI_SYSROOT OR NOT EXISTS ${ZORVI_SYSROOT}/usr/include)
    message(FATAL_ERROR "ZORVI_SYSROOT must name an armhf sysroot (scripts/armhf makes one)")
endif()
set(CMAKE_SYSROOT ${ZORVI_SYSROOT})

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard -mtune=cortex-a8 -mthumb")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${ZORVI_SYSROOT})

# moc, rcc and uic run on this machine: the host's own Qt tools.
set(ZORVI_HOST_QT_TOOLS /usr/lib/qt5/bin)

# pkg-config looks only inside the sysroot.
set(ENV{PKG_CONFIG_LIBDIR}
    ${ZORVI_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${ZORVI_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ZORVI_SYSROOT})
