# Builds the two-layer project in linking/ the way CASE names and fails unless the outcome is EXPECT
# and the output matches EXPECT_TEXT.
#
#   cmake -DCASE=<case> -DEXPECT=<built|link refused|configure refused> -DEXPECT_TEXT=<regex>
#         -DSOURCE_DIR=<source tree> -DWORK_DIR=<folder> -DGENERATOR=<generator> -DCXX=<compiler>
#         -P linkcheck.cmake
set(_build ${WORK_DIR}/${CASE})
file(REMOVE_RECURSE ${_build})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/linking -B ${_build} -G ${GENERATOR}
        -DCMAKE_CXX_COMPILER=${CXX} -DQUILLON_SOURCE_DIR=${SOURCE_DIR} -DCASE=${CASE}
    RESULT_VARIABLE _status OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
if(NOT _status EQUAL 0)
    set(_outcome "configure refused")
else()
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${_build}
        RESULT_VARIABLE _status OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
    if(NOT _status EQUAL 0)
        set(_outcome "link refused")
        # Anything but the link failing (a compile error) is not the refusal looked for.
        if(NOT _output MATCHES "Linking CXX shared library")
            set(_outcome "build failed before linking")
        endif()
    else()
        set(_outcome "built")
    endif()
endif()

if(NOT _outcome STREQUAL EXPECT OR NOT _output MATCHES "${EXPECT_TEXT}")
    message(FATAL_ERROR "${CASE}: ${_outcome}, expected ${EXPECT} with output matching \"${EXPECT_TEXT}\":\n${_output}")
endif()
message(STATUS "${CASE}: ${_outcome}")
