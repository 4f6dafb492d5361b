# The program's layers as shared libraries, one per folder, each linking only the layers below it
# (cmake/check-layers.cmake names them, lowest first).
#
#   quillon_add_layer_library(<target> [<source>...])
#
# Each library is linked with --no-undefined: a call into a layer that the library does not link (one
# above it) leaves an undefined symbol, and the link fails there, naming it. Two layers cannot link
# each other either: CMake refuses a cycle between shared libraries when it generates the build. The
# include check (check-layers.cmake) stays the finer rule, down to single headers; this one holds
# whatever a header declares.
#
# The libraries lie beside the program in the build folder, so that dpkg-shlibdeps finds them in one
# place; the install rules (packaging/) take every one of them (global property
# QUILLON_LAYER_LIBRARIES).
function(quillon_add_layer_library target)
    add_library(${target} SHARED ${ARGN})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PUBLIC QT_NO_CAST_FROM_BYTEARRAY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
    # Clang links the sanitizer runtimes into the executable only: a sanitized library's calls into
    # them stay undefined until then.
    if(NOT (QUILLON_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
        target_link_options(${target} PRIVATE LINKER:--no-undefined)
    endif()
    set_property(GLOBAL APPEND PROPERTY QUILLON_LAYER_LIBRARIES ${target})
endfunction()
