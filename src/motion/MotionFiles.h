// What the motion bridge checks in the files motion leaves: a snapshot
// written whole, a movie closed whole, the newest movie of the list that
// motion's on_movie_end hook appends to.
#pragma once
#include <cstdint>
#include <string>

namespace motion {

// Whether the bytes are one whole JPEG stream: SOI first, EOI last.
bool jpegComplete(const std::string& data);

// Whether an MP4 file is closed whole: its top-level boxes cover the file
// exactly, the first is "ftyp" and one is "moov" (written at the end).
// Other containers are taken as whole when they are not empty.
bool movieComplete(const std::string& path);

// The newest recording named in the list (one path a line, oldest first):
// the last line whose file exists and is complete. 1 found within
// `sizeLimit` bytes, 0 found but larger, -1 none.
int newestMovie(const std::string& listPath, int64_t sizeLimit, std::string* path);

}  // namespace motion
