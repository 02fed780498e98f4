// The fuzz builds compile the provider without its build information: this
// stands in for the build stamp that the provider's own build writes.
#pragma once
#define KQV_BUILD_DATE __DATE__
#define KQV_BUILD_TIME __TIME__
