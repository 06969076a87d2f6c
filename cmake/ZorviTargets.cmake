# Shared build rules: the warnings and ABI options every add-on target
# compiles with, the image-format module, and the way tests run inside a
# private mount namespace (and under the emulator in a cross build).

get_filename_component(ZORVI_ISOLATE ${CMAKE_CURRENT_LIST_DIR}/../scripts/isolate ABSOLUTE)

# The add-on's own code: strict warnings, nothing visible outside the module
# unless it is an entry point. Sized operator delete needs CXXABI_1.3.9, newer
# than the e-reader's C++ runtime (CXXABI_1.3.8), so the compiler calls the
# plain operator delete instead.
function(zorvi_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
        -fvisibility=hidden -fvisibility-inlines-hidden -fno-sized-deallocation)
endfunction()

# An image-format plugin module: MODULE library in <build>/imageformats so a
# plugin path can point at the build tree, exporting only the two entry
# points Qt's plugin loader looks up (listed in the version script).
function(zorvi_add_image_plugin target)
    cmake_parse_arguments(ARG "" "VERSION_SCRIPT" "SOURCES;LIBRARIES" ${ARGN})
    add_library(${target} MODULE ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
    set_target_properties(${target} PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/imageformats
        PREFIX "lib")
    if(ARG_VERSION_SCRIPT)
        target_link_options(${target} PRIVATE
            -Wl,--version-script=${ARG_VERSION_SCRIPT} -Wl,--no-undefined)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_VERSION_SCRIPT})
    endif()
endfunction()

# The path by which tests start a program built here: the program itself, or
# in a cross build a script that runs it under the emulator, since this
# machine cannot execute the target's programs directly.
#   zorvi_runnable(VAR target)
function(zorvi_runnable var target)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        set(${var} $<TARGET_FILE:${target}> PARENT_SCOPE)
        return()
    endif()
    set(script ${CMAKE_BINARY_DIR}/emulated/${target})
    set(${var} ${script} PARENT_SCOPE)
    # Made once, however many programs start it.
    get_property(made GLOBAL PROPERTY zorvi_emulated_${target})
    if(made)
        return()
    endif()
    set_property(GLOBAL PROPERTY zorvi_emulated_${target} ON)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    # Programs for the reader look for Qt where the reader keeps it; here
    # it is this build's.
    get_target_property(qt_core Qt5::Core LOCATION)
    get_filename_component(qt_lib ${qt_core} DIRECTORY)
    file(GENERATE OUTPUT ${script}
        CONTENT "#!/bin/sh\nexec ${emulator} -E LD_LIBRARY_PATH=${qt_lib} $<TARGET_FILE:${target}> \"$@\"\n"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
            WORLD_READ WORLD_EXECUTE)
    set(${var} ${script} PARENT_SCOPE)
endfunction()

# A program that starts zorvid and zorvid-phone: their paths as ZORVID and
# ZORVID_PHONE.
function(zorvi_uses_zorvid target)
    zorvi_runnable(zorvid_run zorvid)
    zorvi_runnable(phone_run zorvid-phone)
    add_dependencies(${target} zorvid zorvid-phone)
    target_compile_definitions(${target} PRIVATE ZORVID="${zorvid_run}" ZORVID_PHONE="${phone_run}")
endfunction()

# A test that runs inside its own mount namespace with fresh /tmp and /mnt.
# COMMAND starts with a program built here; a cross build runs it emulated.
#   zorvi_add_test(NAME name COMMAND program args... [TIMEOUT s])
function(zorvi_add_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    add_test(NAME ${ARG_NAME}
        COMMAND ${ZORVI_ISOLATE} ${CMAKE_CROSSCOMPILING_EMULATOR} ${ARG_COMMAND})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZORVI_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# A QtTest suite built from one source file and run isolated.
function(zorvi_add_qtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBRARIES})
    # Run under an emulator, which stretches every timing it has.
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        target_compile_definitions(${name} PRIVATE ZORVI_EMULATED)
    endif()
    zorvi_add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> TIMEOUT ${ARG_TIMEOUT})
endfunction()
