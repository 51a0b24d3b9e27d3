// The libFuzzer entry point of one target, chosen by KP_FUZZ_TARGET.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kp::fuzz::KP_FUZZ_TARGET(data, size);
}
