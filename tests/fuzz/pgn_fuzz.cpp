// libFuzzer target: see fuzz_inputs.h and scripts/fuzz.sh.
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_inputs.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine's own output would drown the fuzzer's.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PgnInput(data, size);
  return 0;
}
