// One libFuzzer entry point; the build names the target it runs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static void (*run)(const uint8_t*, size_t) = [] {
    for (const mimefuzz::Target& t : mimefuzz::kTargets)
      if (std::strcmp(t.name, QUORVEL_FUZZ_TARGET) == 0) return t.run;
    __builtin_trap();
  }();
  run(data, size);
  return 0;
}
