# The release's version, written once: project(VERSION) in CMakeLists.txt.
#
# The provider reports the same version to the data server as three digits,
# major, minor and patch: release 1.3.0 is "V130" from the version entry and
# 130 in the entry vector's header. kqv_version.h carries both forms to the
# provider and the host (target kqv_version).

foreach(_part MAJOR MINOR PATCH)
  if(NOT PROJECT_VERSION_${_part} MATCHES "^[0-9]$")
    message(FATAL_ERROR "Version ${PROJECT_VERSION}: each of major, minor and patch must be one digit, "
                        "since the provider reports them as three digits (V${PROJECT_VERSION_MAJOR}"
                        "${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH})")
  endif()
endforeach()
set(KQV_RELEASE_VERSION "${PROJECT_VERSION}")
set(KQV_PROVIDER_VERSION_NUMBER "${PROJECT_VERSION_MAJOR}${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")
string(REGEX REPLACE "^0+([0-9])" "\\1" KQV_PROVIDER_VERSION_NUMBER "${KQV_PROVIDER_VERSION_NUMBER}")
set(KQV_PROVIDER_VERSION_TEXT "V${PROJECT_VERSION_MAJOR}${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")

set(_kqv_version_dir "${CMAKE_BINARY_DIR}/generated/version")
configure_file("${CMAKE_CURRENT_LIST_DIR}/kqv_version.h.in" "${_kqv_version_dir}/kqv_version.h" @ONLY)
add_library(kqv_version INTERFACE)
target_include_directories(kqv_version INTERFACE "${_kqv_version_dir}")
