// The attachment: its name and its base64 text, made before connecting.
#pragma once
#include <string>

#include "sendlib/SendLog.h"

namespace sendlib {

// File name and extension of a Shift_JIS path, without drive or folder;
// at most 255 bytes.
std::string attachmentName(const std::string& path);
// The picture edition's name: the file name without its extension, then
// ".jpg"; at most 255 bytes, the ".jpg" kept.
std::string pictureAttachmentName(const std::string& path);
// The extension of the file name (from its last "."), lower-cased; empty
// when it has none.
std::string lowerExtension(const std::string& path);

// Reads the whole file and encodes it as one base64 text. On failure logs
// what the preparation logs and returns false.
bool prepareAttachment(const std::string& path, SendLog& log, std::string* text);

}  // namespace sendlib
