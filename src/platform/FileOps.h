// File operations beyond File.h that the mail store needs: the recycle bin,
// cutting a file short, moving a file to another volume, and the system's
// text for a failed deletion.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Moves a file (Shift_JIS path) to the user's recycle bin. `owner` is the
// window that owns any shell feedback (none is shown). False when the file
// was not moved; it then stays where it was.
bool moveToRecycleBin(const char* path, void* owner);

// Cuts a file to `size` bytes.
bool truncateFile(const char* path, int64_t size);

// Moves a file, replacing `to`, also to another volume (then by copying and
// deleting the original), flushed to disk before it returns.
bool moveFileReplacing(const char* from, const char* to);

// Deletes a file; on failure `errorText` (when given) gets the system's
// description of the error, in Shift_JIS.
bool deleteFileExplained(const char* path, std::string* errorText);

// The names (Shift_JIS, without the folder) of the files in `folder` whose
// names begin with `prefix` and end with `suffix`, in no particular order.
std::vector<std::string> filesInFolder(const char* folder, const char* prefix, const char* suffix);

}  // namespace platform
