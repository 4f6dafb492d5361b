# The program's layers, lowest first. Code in a folder may include the headers of its own folder, of
# the folders its entry names, and the single headers named; anything else runs the wrong way and
# stops the configuration. app/ sits on top and may include everything.
#
#   cmake -DQUILLON_LAYERS_ROOT=<source tree> -P check-layers.cmake
#
# The configuration runs it on the source tree (include()); the test on a small tree that breaks it.
# The program's layers are also libraries of their own (layer-library.cmake), each linking only the
# layers named here; this check stays the finer one, down to single headers.
#
# Of platform/, what ships (the client library, the ZeroMQ elements, the streaming server) never
# includes the simulators (platform/simulators).

set(_layers
    "sfpm="
    "defish="
    "repo=defish app/singleton.h app/apppaths.h"
    "video=defish repo app/singleton.h app/applogging.h platform/ostrevan/serverstatus.h"
    "es=repo app/singleton.h app/appstate.h"
    "platform/esclient=es/korvues.h"
    "platform/zmq="
    "platform/ostrevan=platform/zmq defish/servable.h defish/lens.h defish/viewaim.h defish/fisheyeprojection.h defish/layoutcodec.h defish/servedsize.h
     defish/remaptable.h defish/slicepool.h defish/defishfilter.h repo/objectsschema.h repo/sourceaddress.h
     app/apppaths.h app/applogging.h")

if(NOT QUILLON_LAYERS_ROOT)
    set(QUILLON_LAYERS_ROOT ${PROJECT_SOURCE_DIR})
endif()

set(_wrong "")
foreach(_layer IN LISTS _layers)
    string(REGEX REPLACE "=.*" "" _folder "${_layer}")
    string(REGEX REPLACE "^[^=]*=" "" _allowed "${_layer}")
    string(REGEX REPLACE "[ \n]+" ";" _allowed "${_allowed}")
    file(GLOB _files ${QUILLON_LAYERS_ROOT}/${_folder}/*.h ${QUILLON_LAYERS_ROOT}/${_folder}/*.cpp)
    foreach(_file IN LISTS _files)
        file(STRINGS ${_file} _lines REGEX "^#include \"[a-z]+/")
        foreach(_line IN LISTS _lines)
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" _header "${_line}")
            if(_header MATCHES "^${_folder}/")
                continue()
            endif()
            set(_ok FALSE)
            foreach(_entry IN LISTS _allowed)
                if(_header STREQUAL _entry OR (NOT _entry MATCHES "\\.h$" AND _header MATCHES "^${_entry}/"))
                    set(_ok TRUE)
                endif()
            endforeach()
            if(NOT _ok)
                file(RELATIVE_PATH _shown ${QUILLON_LAYERS_ROOT} ${_file})
                list(APPEND _wrong "${_shown} includes ${_header}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(_wrong)
    list(JOIN _wrong "\n  " _text)
    message(FATAL_ERROR "These includes run against the layers (cmake/check-layers.cmake):\n  ${_text}")
endif()
