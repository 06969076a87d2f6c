# What zorvid's updates need on the reader, whose OpenSSL is old and which
# has no libsodium: Mbed TLS (HTTPS) and libsodium (Ed25519 signatures),
# compiled from Debian's sources (scripts/sources, ZORVI_SOURCES) by the
# cross compiler and linked into zorvid. Functions newer than the reader's C
# library are kept out of libsodium's configuration; the ABI audit checks
# that nothing else came in.

set(mbedtls ${ZORVI_SOURCES}/mbedtls)
file(GLOB mbedtls_sources ${mbedtls}/library/*.c)
add_library(zorvid_mbedtls STATIC ${mbedtls_sources})
target_include_directories(zorvid_mbedtls SYSTEM PUBLIC ${mbedtls}/include)
# A section per function, so that zorvid's link keeps only what it calls.
target_compile_options(zorvid_mbedtls PRIVATE -w -ffunction-sections -fdata-sections)
set_target_properties(zorvid_mbedtls PROPERTIES AUTOMOC OFF)
add_library(zorvi::mbedtls ALIAS zorvid_mbedtls)

include(ExternalProject)
set(sodium ${CMAKE_BINARY_DIR}/libsodium)
ExternalProject_Add(zorvid_sodium_build
    SOURCE_DIR ${ZORVI_SOURCES}/libsodium
    PREFIX ${sodium}
    CONFIGURE_COMMAND <SOURCE_DIR>/configure --quiet --host=arm-linux-gnueabihf
        --prefix=<INSTALL_DIR> --disable-shared --enable-static --enable-minimal
        --disable-ssp --without-pthreads CC=${CMAKE_C_COMPILER}
        "CFLAGS=-O2 -fPIC -ffunction-sections -fdata-sections"
        ac_cv_func_getrandom=no ac_cv_func_getentropy=no ac_cv_func_explicit_bzero=no
        ac_cv_func_arc4random=no ac_cv_func_arc4random_buf=no
    BUILD_COMMAND make --silent
    INSTALL_COMMAND make --silent install
    BUILD_BYPRODUCTS ${sodium}/lib/libsodium.a)
file(MAKE_DIRECTORY ${sodium}/include)
add_library(zorvid_sodium STATIC IMPORTED GLOBAL)
set_target_properties(zorvid_sodium PROPERTIES IMPORTED_LOCATION ${sodium}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${sodium}/include)
add_dependencies(zorvid_sodium zorvid_sodium_build)
add_library(zorvi::sodium ALIAS zorvid_sodium)
