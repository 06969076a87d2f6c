# Programs that run on the reader beside Nickel, cross-built by a compiler
# whose C library (glibc 2.36) is newer than the reader's (2.19). They link
# against stand-ins of the reader's C library (cmake/readerlibc/stubs.py),
# start through an entry its older start-up runs correctly (start.S), get the
# few functions that newer headers call by new names (compat.c), carry their
# C++ runtime in, and find Qt where the reader keeps it. The ABI audit checks
# the result.

enable_language(C ASM)

set(ZORVI_READER_QT_DIR /usr/local/Qt-5.2.1-arm/lib)
set(readerlibc ${CMAKE_CURRENT_LIST_DIR}/readerlibc)
set(ZORVI_READERLIBC_STUBS ${CMAKE_BINARY_DIR}/readerlibc)

# The C library's files as the cross compiler links them.
set(libraries)
foreach(name libc.so.6 libm.so.6 libpthread.so.0 librt.so.1 libdl.so.2 ld-linux-armhf.so.3)
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=${name}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
        message(FATAL_ERROR "The cross compiler has no ${name}")
    endif()
    list(APPEND libraries ${path})
endforeach()
execute_process(
    COMMAND python3 ${readerlibc}/stubs.py --limit 2.19 --cc ${CMAKE_C_COMPILER}
        ${ZORVI_READERLIBC_STUBS} ${libraries}
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Could not make the stand-ins of the reader's C library")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readerlibc}/stubs.py)

add_library(zorvi_readerlibc OBJECT ${readerlibc}/start.S ${readerlibc}/compat.c)
set_target_properties(zorvi_readerlibc PROPERTIES C_VISIBILITY_PRESET hidden AUTOMOC OFF)

# Makes TARGET a program for the reader.
function(zorvi_reader_program target)
    target_link_libraries(${target} PRIVATE zorvi_readerlibc)
    target_link_options(${target} PRIVATE -L${ZORVI_READERLIBC_STUBS} -no-pie -Wl,-e,zorvi_start
        -static-libstdc++ -static-libgcc -Wl,--allow-shlib-undefined -Wl,--enable-new-dtags)
    # Most thread functions were libpthread's alone before glibc 2.34, and
    # the stand-ins have them all in libc: the program names libpthread
    # itself rather than count on Qt to bring it in.
    target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -lpthread
        -Wl,--pop-state)
    set_target_properties(${target} PROPERTIES
        BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH ${ZORVI_READER_QT_DIR})
endfunction()
