// Access to the program's string table. The Windows program reads its
// resources; elsewhere the same texts come from StringTexts.inc.
#pragma once
#include <cstddef>

namespace config {

// Copies string `id` into buffer (at most size-1 bytes, NUL-terminated,
// Shift_JIS); returns its length, 0 when there is no such string.
using StringLoader = size_t (*)(unsigned id, char* buffer, size_t size);

size_t loadString(unsigned id, char* buffer, size_t size);
void setStringLoader(StringLoader loader);

// The built-in texts, the default loader.
size_t builtinString(unsigned id, char* buffer, size_t size);

}  // namespace config
