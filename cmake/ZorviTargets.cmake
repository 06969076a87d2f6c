# Shared build rules: the warnings every add-on target compiles with, the
# image-format module, and the way tests run inside a private mount namespace.

get_filename_component(ZORVI_ISOLATE ${CMAKE_CURRENT_LIST_DIR}/../scripts/isolate ABSOLUTE)

# The add-on's own code: strict warnings, nothing visible outside the module
# unless it is an entry point.
function(zorvi_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
        -fvisibility=hidden -fvisibility-inlines-hidden)
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

# A test that runs inside its own mount namespace with fresh /tmp and /mnt.
#   zorvi_add_test(NAME name COMMAND cmd args... [TIMEOUT s])
function(zorvi_add_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    add_test(NAME ${ARG_NAME} COMMAND ${ZORVI_ISOLATE} ${ARG_COMMAND})
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
    zorvi_add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> TIMEOUT ${ARG_TIMEOUT})
endfunction()
