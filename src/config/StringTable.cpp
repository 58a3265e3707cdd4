#include "config/StringTable.h"

#include <cstring>

#include "platform/Text.h"

namespace config {
namespace {

struct Entry {
  unsigned id;
  const char* text;
};

const Entry kTexts[] = {
#define QV_STRING(id, text) {id, text},
#include "config/StringTexts.inc"
#undef QV_STRING
};

StringLoader g_loader = builtinString;

}  // namespace

size_t builtinString(unsigned id, char* buffer, size_t size) {
  for (const Entry& e : kTexts) {
    if (e.id == id) {
      platform::copyField(buffer, size, e.text);
      return std::strlen(buffer);
    }
  }
  if (size) buffer[0] = '\0';
  return 0;
}

size_t loadString(unsigned id, char* buffer, size_t size) { return g_loader(id, buffer, size); }

void setStringLoader(StringLoader loader) { g_loader = loader ? loader : builtinString; }

}  // namespace config
