# The include walls: a check, run as part of the build, that every file of a product library or
# program includes only headers of its own target and of the targets it may see.
# SPDX-License-Identifier: Apache-2.0
#
# What a target may see is read from the target graph: its own sources, the targets it links and,
# through those, the targets they link PUBLIC (or INTERFACE). A dependency linked PRIVATE is its
# user's own business: the engine's front door (gq_engine) links the formats and containers
# privately, so nothing above the engine may include them. The headers a target owns are the
# headers among its sources. The check itself is cmake/CheckIncludes.cmake.

# Targets that ask the server (automation/) for everything and include no engine header, even
# though the server's own headers let the engine's show through.
set(GQ_WALLS_ENGINE_BLIND gq_catalogue gq_merge)

# Includes allowed to break the walls while a change that takes them out is under way; each entry
# is "file|header". Empty: every file keeps to its floor.
set(GQ_WALLS_EXCEPTIONS)

# The targets `target` may include headers of, itself first, in _gq_visible.
function(_gq_walls_visible target)
  set(_seen ${target})
  get_target_property(_pending ${target} LINK_LIBRARIES)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY" OR NOT _pending)
    get_target_property(_pending ${target} INTERFACE_LINK_LIBRARIES)
  endif()
  while(_pending)
    list(POP_FRONT _pending _next)
    # $<LINK_ONLY:x> is how a static library passes on what it links PRIVATE: linked, not seen.
    if(_next MATCHES "^\\$<" OR NOT TARGET ${_next} OR _next IN_LIST _seen)
      continue()
    endif()
    get_target_property(_imported ${_next} IMPORTED)
    if(_imported)
      continue()
    endif()
    list(APPEND _seen ${_next})
    get_target_property(_more ${_next} INTERFACE_LINK_LIBRARIES)
    if(_more)
      list(APPEND _pending ${_more})
    endif()
  endwhile()
  if(target IN_LIST GQ_WALLS_ENGINE_BLIND)
    list(FILTER _seen EXCLUDE REGEX "^gq_engine")
  endif()
  set(_gq_visible ${_seen} PARENT_SCOPE)
endfunction()

# The sources of `target` as paths under the project, in _gq_sources.
function(_gq_walls_sources target)
  get_target_property(_all ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  set(_out)
  foreach(_file IN LISTS _all)
    if(_file MATCHES "\\.(h|cpp)$")
      cmake_path(ABSOLUTE_PATH _file BASE_DIRECTORY ${_dir} NORMALIZE)
      cmake_path(RELATIVE_PATH _file BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
      list(APPEND _out ${_file})
    endif()
  endforeach()
  set(_gq_sources ${_out} PARENT_SCOPE)
endfunction()

# gq_include_walls(<folders...>): checks every library and program made in the given folders.
function(gq_include_walls)
  set(_targets)
  foreach(_dir IN LISTS ARGN)
    get_property(_made DIRECTORY ${PROJECT_SOURCE_DIR}/${_dir} PROPERTY BUILDSYSTEM_TARGETS)
    list(APPEND _targets ${_made})
  endforeach()
  # Every product header and its owner, for the messages and to tell project headers from others.
  set(_headers)
  set(_owners)
  set(_roots)
  foreach(_target IN LISTS _targets)
    _gq_walls_sources(${_target})
    set(_gq_sources_${_target} ${_gq_sources})
    foreach(_file IN LISTS _gq_sources)
      string(REGEX MATCH "^[^/]+" _root ${_file})
      list(APPEND _roots ${_root})
      if(_file MATCHES "\\.h$")
        list(APPEND _headers ${_file})
        list(APPEND _owners ${_target})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES _roots)
  foreach(_target IN LISTS _targets)
    if(NOT _gq_sources_${_target})
      continue()
    endif()
    _gq_walls_visible(${_target})
    set(_config ${PROJECT_BINARY_DIR}/walls/${_target}.cmake)
    set(_stamp ${PROJECT_BINARY_DIR}/walls/${_target}.ok)
    set(_own ${_gq_sources_${_target}})
    file(CONFIGURE OUTPUT ${_config} @ONLY CONTENT [[
set(GQ_WALL_ROOT "@PROJECT_SOURCE_DIR@")
set(GQ_WALL_TARGET "@_target@")
set(GQ_WALL_SOURCES "@_own@")
set(GQ_WALL_VISIBLE "@_gq_visible@")
set(GQ_WALL_ENGINE_BLIND "@GQ_WALLS_ENGINE_BLIND@")
set(GQ_WALL_ROOTS "@_roots@")
set(GQ_WALL_HEADERS "@_headers@")
set(GQ_WALL_OWNERS "@_owners@")
set(GQ_WALL_EXCEPTIONS "@GQ_WALLS_EXCEPTIONS@")
]])
    list(TRANSFORM _own PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE _inputs)
    add_custom_command(OUTPUT ${_stamp}
      COMMAND ${CMAKE_COMMAND} -DGQ_WALL_CONFIG=${_config} -DGQ_WALL_STAMP=${_stamp}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
      DEPENDS ${_inputs} ${_config} ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
      COMMENT "Checking the include walls of ${_target}" VERBATIM)
    add_custom_target(gq_walls_${_target} DEPENDS ${_stamp})
    add_dependencies(${_target} gq_walls_${_target})
  endforeach()
endfunction()
