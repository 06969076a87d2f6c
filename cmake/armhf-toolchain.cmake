# Cross build for the e-reader with Debian's cross compiler, against the
# reader's own Qt 5.2.1 built for armhf (scripts/qt521 armhf; give its folder
# as CMAKE_PREFIX_PATH). Programs built here run on this machine under
# qemu-arm, which also runs the tests.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake -DCMAKE_PREFIX_PATH=QT ...

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# As the maker's device mkspec builds the reader's Qt: ARMv7-A with NEON and
# hard float (the calling convention), frame pointers and unwind tables (so
# that a trace through Nickel and the add-on can be walked). The add-on's own
# code is Thumb-2, which calls and is called by ARM code freely.
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard -mtune=cortex-a8 -mthumb \
-fno-omit-frame-pointer -funwind-tables")

# The C and C++ libraries are the cross compiler's own; Qt is found where
# CMAKE_PREFIX_PATH points, outside that root.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
