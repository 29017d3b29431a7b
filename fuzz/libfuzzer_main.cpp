// The libFuzzer program of one target: BEXO_FUZZ_ENTRY names its entry
// point (fuzz_targets.hpp).  Standard output goes to /dev/null first, since
// the dump option prints every atom there.

#include "fuzz_targets.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return BEXO_FUZZ_ENTRY(data, size);
}
