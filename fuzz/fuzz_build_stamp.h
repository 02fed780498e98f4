// The fuzz builds compile the provider without its build information: this
// stands in for provider_build_stamp.h, the build stamp that the provider's
// own build writes, with the compiler's date and time.
#pragma once
#define KQV_BUILD_DATE __DATE__
#define KQV_BUILD_TIME __TIME__
