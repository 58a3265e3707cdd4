// libFuzzer entry point of the IMAP session target.
#include <cstddef>
#include <cstdint>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imapfuzz::session(data, size);
  return 0;
}
