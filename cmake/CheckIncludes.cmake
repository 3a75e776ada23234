# Checks the include walls of one target (see cmake/IncludeWalls.cmake): every header a source of
# the target includes must belong to the target itself or to a target it may see. Run as
# `cmake -DGQ_WALL_CONFIG=<target>.cmake [-DGQ_WALL_STAMP=<file>] -P CheckIncludes.cmake`; fails
# with one line per wrong include, naming the file, the header and the rule it breaks.
# SPDX-License-Identifier: Apache-2.0
cmake_minimum_required(VERSION 3.25)
include(${GQ_WALL_CONFIG})

set(_problems)
foreach(_source IN LISTS GQ_WALL_SOURCES)
  file(STRINGS ${GQ_WALL_ROOT}/${_source} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*$" "\\1" _header "${_line}")
    string(REGEX MATCH "^[^/]+" _root "${_header}")
    # Only headers under the project's own folders are walled; system and library headers are not.
    if(NOT _header MATCHES "/" OR NOT _root IN_LIST GQ_WALL_ROOTS)
      continue()
    endif()
    if("${_source}|${_header}" IN_LIST GQ_WALL_EXCEPTIONS)
      continue()
    endif()
    list(FIND GQ_WALL_HEADERS "${_header}" _at)
    if(_at EQUAL -1)
      list(APPEND _problems
        "${_source}: includes \"${_header}\", which is no header of any library or program of the project")
      continue()
    endif()
    list(GET GQ_WALL_OWNERS ${_at} _owner)
    if(_owner IN_LIST GQ_WALL_VISIBLE)
      continue()
    endif()
    if(GQ_WALL_TARGET IN_LIST GQ_WALL_ENGINE_BLIND AND _owner MATCHES "^gq_engine")
      set(_rule "${GQ_WALL_TARGET} includes no engine header at all: it asks the server (automation/)")
    else()
      string(REPLACE ";" ", " _may "${GQ_WALL_VISIBLE}")
      set(_rule "${GQ_WALL_TARGET} may include only headers of ${_may} (itself, the targets it links and what \
they link PUBLIC): a format or container is private to the engine's front door (gq_engine)")
    endif()
    list(APPEND _problems "${_source}: includes \"${_header}\", a header of ${_owner}. ${_rule}")
  endforeach()
endforeach()

if(_problems)
  foreach(_problem IN LISTS _problems)
    message(NOTICE "Include wall broken: ${_problem}")
  endforeach()
  list(LENGTH _problems _count)
  message(FATAL_ERROR "${_count} include(s) of ${GQ_WALL_TARGET} break the include walls (cmake/IncludeWalls.cmake)")
endif()
if(GQ_WALL_STAMP)
  file(TOUCH ${GQ_WALL_STAMP})
endif()
