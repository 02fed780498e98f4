// libFuzzer's entry for one target, chosen when the program is built.
#include "targets.h"

#ifndef KQV_FUZZ_TARGET
#error "KQV_FUZZ_TARGET must name the target's function"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::KQV_FUZZ_TARGET(data, size);
    return 0;
}
