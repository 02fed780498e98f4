# The hub's libraries that the provider links against: kqv_hub_libraries.
#
# By default the stand-in hub's, built here. A team with the real hub names
# its libraries instead, one by one (KQV_HUB_LIBRARIES) or by the directory
# that holds them under the hub's names (KQV_HUB_LIBRARY_DIR). Such a build
# makes the provider alone: the host and the tests need the stand-in.
# Sets KQV_STAND_IN_HUB.

add_library(kqv_hub_libraries INTERFACE)

if(KQV_HUB_LIBRARIES AND KQV_HUB_LIBRARY_DIR)
  message(FATAL_ERROR "Name the hub's libraries either one by one (KQV_HUB_LIBRARIES) "
                      "or by their directory (KQV_HUB_LIBRARY_DIR), not both")
endif()

set(_kqv_hub_files ${KQV_HUB_LIBRARIES})
if(KQV_HUB_LIBRARY_DIR)
  foreach(_name hubtrace hubreg hubds hubdsnet)
    find_library(_kqv_hub_file NAMES ${_name} PATHS "${KQV_HUB_LIBRARY_DIR}"
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH NO_CACHE)
    if(NOT _kqv_hub_file)
      message(FATAL_ERROR "KQV_HUB_LIBRARY_DIR: no library '${_name}' in ${KQV_HUB_LIBRARY_DIR}")
    endif()
    list(APPEND _kqv_hub_files "${_kqv_hub_file}")
    unset(_kqv_hub_file)
  endforeach()
endif()

if(NOT _kqv_hub_files)
  set(KQV_STAND_IN_HUB ON)
  add_subdirectory(hub)
  target_link_libraries(kqv_hub_libraries INTERFACE hub_trace hub_registry hub_ds hub_dsnet)
  return()
endif()

set(KQV_STAND_IN_HUB OFF)
foreach(_file IN LISTS _kqv_hub_files)
  if(NOT IS_ABSOLUTE "${_file}" OR NOT EXISTS "${_file}" OR IS_DIRECTORY "${_file}")
    message(FATAL_ERROR "The hub's library '${_file}' is not a file named by its absolute path")
  endif()
  # Linked by file name from its directory, so that the provider needs the
  # library by its own name (its SONAME, else the file name), never by the
  # path it had at build time.
  get_filename_component(_directory "${_file}" DIRECTORY)
  get_filename_component(_name "${_file}" NAME)
  target_link_directories(kqv_hub_libraries INTERFACE "${_directory}")
  target_link_libraries(kqv_hub_libraries INTERFACE "-l:${_name}")
endforeach()
set_property(TARGET kqv_hub_libraries PROPERTY INTERFACE_LINK_DEPENDS ${_kqv_hub_files})
message(STATUS "The provider links against the hub's libraries ${_kqv_hub_files}")
