// What `kqvhost --version` prints: the provider's version entry and the
// build information of its library.
#pragma once

#include <ostream>

#include "platform/registration.h"
#include "provider_library.h"

namespace host {

void printVersion(std::ostream& out, const ProviderLibrary& provider, const PRB1_VectorRecord& vector);

}  // namespace host
