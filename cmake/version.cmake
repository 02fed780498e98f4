# The release's version, written once: project(VERSION) in CMakeLists.txt.
#
# The provider reports the same version to the data server as three digits,
# major, minor and patch: release 1.3.0 is "V130" from the version entry and
# 130 in the entry vector's header. Target kqv_version hands the provider and
# the host both forms as compile definitions: KQV_RELEASE_VERSION ("1.3.0"),
# KQV_PROVIDER_VERSION_TEXT ("V130") and KQV_PROVIDER_VERSION_NUMBER (130).

set(KQV_PROVIDER_VERSION_TEXT "V${PROJECT_VERSION_MAJOR}${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")
# The data server knows this provider as version 130: what the provider
# reports must stay as it is, whatever the release.
if(NOT KQV_PROVIDER_VERSION_TEXT STREQUAL "V130")
  message(FATAL_ERROR "Version ${PROJECT_VERSION} would make the provider report ${KQV_PROVIDER_VERSION_TEXT}; "
                      "it reports V130 (130) to the data server, and that must not change")
endif()
set(KQV_RELEASE_VERSION "${PROJECT_VERSION}")
string(SUBSTRING "${KQV_PROVIDER_VERSION_TEXT}" 1 -1 KQV_PROVIDER_VERSION_NUMBER)

add_library(kqv_version INTERFACE)
target_compile_definitions(kqv_version INTERFACE
    KQV_RELEASE_VERSION="${KQV_RELEASE_VERSION}"
    KQV_PROVIDER_VERSION_TEXT="${KQV_PROVIDER_VERSION_TEXT}"
    KQV_PROVIDER_VERSION_NUMBER=${KQV_PROVIDER_VERSION_NUMBER})
