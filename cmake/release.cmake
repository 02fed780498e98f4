# The release archive of this build, kqvdwsys-<version>-<system>-<machine>,
# made by packaging/pack: target release_archive writes it into
# <build>/release/, and the archive's test packs it the same way.

if(WIN32)
  set(_kqv_system windows)
  set(KQV_ARCHIVE_FORMAT zip)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" _kqv_system)
  set(KQV_ARCHIVE_FORMAT tar.gz)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_kqv_machine x86)
else()
  set(_kqv_machine x86_64)
endif()
set(KQV_ARCHIVE_NAME "kqvdwsys-${KQV_RELEASE_VERSION}-${_kqv_system}-${_kqv_machine}")
set(KQV_PACK_COMMAND bash "${PROJECT_SOURCE_DIR}/packaging/pack" "${PROJECT_BINARY_DIR}" "${KQV_ARCHIVE_NAME}"
    "${KQV_ARCHIVE_FORMAT}" "${CMAKE_STRIP}")

add_custom_target(release_archive
  COMMAND ${KQV_PACK_COMMAND} "${PROJECT_BINARY_DIR}/release"
  COMMENT "Packing ${KQV_ARCHIVE_NAME}.${KQV_ARCHIVE_FORMAT}"
  VERBATIM)
# kqvhost depends on the provider and the stand-in hub.
add_dependencies(release_archive kqvhost)
