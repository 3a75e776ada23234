# Runs the include-wall checker (cmake/CheckIncludes.cmake) on a small tree of its own and fails
# unless it refuses exactly the includes the walls forbid, naming the file, the header and the rule.
# Run as `cmake -DCHECKER=<CheckIncludes.cmake> -DWORK=<scratch folder> -P IncludeWallsCheck.cmake`.
# SPDX-License-Identifier: Apache-2.0
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/engine/xlsx/Writer.h "#pragma once\n")
file(WRITE ${WORK}/engine/model/Book.h "#pragma once\n")
file(WRITE ${WORK}/engine/Front.h "#pragma once\n")
file(WRITE ${WORK}/automation/Server.h "#pragma once\n")

# Each case: target | the line a source of it holds | what the checker must print, or "ok".
set(_cases
  "gq_automation|#include \"engine/model/Book.h\"|ok"
  "gq_automation|#include <vector>|ok"
  "gq_automation|#include \"engine/xlsx/Writer.h\"|automation/Case.cpp: includes \"engine/xlsx/Writer.h\", a header of gq_engine_xlsx. gq_automation may include only headers of gq_automation, gq_engine, gq_engine_model"
  "gq_automation|  #  include <engine/xlsx/Writer.h>|a header of gq_engine_xlsx"
  "gq_automation|#include \"engine/Missing.h\"|which is no header of any library"
  "gq_merge|#include \"automation/Server.h\"|ok"
  "gq_merge|#include \"engine/Front.h\"|gq_merge includes no engine header at all"
  "gq_merge|#include \"engine/model/Book.h\"|ok-excepted")

foreach(_case IN LISTS _cases)
  string(REPLACE "|" ";" _fields "${_case}")
  list(GET _fields 0 _target)
  list(GET _fields 1 _line)
  list(GET _fields 2 _expect)
  # As the build works it out: the server sees the front door and the model, the merge the server.
  set(_source automation/Case.cpp)
  set(_visible "gq_automation;gq_engine;gq_engine_model")
  if(_target STREQUAL "gq_merge")
    set(_source merge/Case.cpp)
    set(_visible "gq_merge;gq_automation")
  endif()
  file(WRITE ${WORK}/${_source} "// A case.\n${_line}\nint x;\n")
  file(WRITE ${WORK}/config.cmake "
set(GQ_WALL_ROOT \"${WORK}\")
set(GQ_WALL_TARGET \"${_target}\")
set(GQ_WALL_SOURCES \"${_source}\")
set(GQ_WALL_VISIBLE \"${_visible}\")
set(GQ_WALL_ENGINE_BLIND \"gq_merge\")
set(GQ_WALL_ROOTS \"engine;automation;merge\")
set(GQ_WALL_HEADERS \"engine/xlsx/Writer.h;engine/model/Book.h;engine/Front.h;automation/Server.h\")
set(GQ_WALL_OWNERS \"gq_engine_xlsx;gq_engine_model;gq_engine;gq_automation\")
set(GQ_WALL_EXCEPTIONS \"merge/Case.cpp|engine/model/Book.h\")
")
  execute_process(COMMAND ${CMAKE_COMMAND} -DGQ_WALL_CONFIG=${WORK}/config.cmake -P ${CHECKER}
                  RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(_expect MATCHES "^ok")
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "${_target} with `${_line}` was refused:\n${_out}")
    endif()
  else()
    string(FIND "${_out}" "${_expect}" _at)
    if(_result EQUAL 0 OR _at EQUAL -1)
      message(FATAL_ERROR "${_target} with `${_line}` should fail with \"${_expect}\"; got ${_result}:\n${_out}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
