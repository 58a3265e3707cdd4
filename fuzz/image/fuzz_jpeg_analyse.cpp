// The JPEG stream analysis on arbitrary bytes.
#include <cstdlib>

#include "image/JpegAnalyzer.h"
#include "platform/Hooks.h"

static int quiet(const char*, const char*, unsigned) { return platform::kIdOk; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::setMessageBoxHook(quiet);
  image::JpegAnalyzer analyzer;
  int result = analyzer.analyse(data, size);
  if (result != 0 && result != -1 && result != -2) std::abort();
  if (analyzer.frame.componentCount > 3 || analyzer.scan.componentCount > 3 || analyzer.comment.size() > size)
    std::abort();
  return 0;
}
