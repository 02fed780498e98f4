// What `kqvhost --version` prints: the host's version (the release's), the
// provider's version entry and the build information of its library.
#pragma once

#include <ostream>

#include "platform/registration.h"
#include "provider_library.h"

namespace host {

// kqvhost's own version: the release's (KQV_RELEASE_VERSION comes from the
// build, target kqv_version).
inline constexpr const char* kHostVersion = "kqvhost " KQV_RELEASE_VERSION;

// The host's version, then the provider's version entry and build information.
void printVersion(std::ostream& out, const ProviderLibrary& provider, const PRB1_VectorRecord& vector);

}  // namespace host
