// Opening files with the user's programs.
#pragma once

namespace platform {

// Opens a file (Shift_JIS path) with the verb "open", shown normally.
// False when the shell could not (no file, no program for its type).
bool shellOpen(const char* path);

}  // namespace platform
