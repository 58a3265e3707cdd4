// Whether a reply's attachment file can be sent: the camera's "snap.jpg" or
// screen capture, or the newest recording. A file that is empty, locked,
// or a picture cut off while it is written is never handed to the send
// library; the reply goes without it and says why.
#pragma once
#include <string>

namespace command {

enum class AttachmentState {
  kReady,
  kMissing,
  kEmpty,
  kUnreadable,  // cannot be opened or read (locked by its writer)
  kIncomplete,  // a JPEG that does not end with its end marker, or is not one
};

enum class AttachmentKindOfFile { kJpeg, kAnyFile };

// Checks the file by its Shift_JIS path. A JPEG is read whole and must be
// accepted by the stream analysis and end with its end marker.
AttachmentState checkAttachmentFile(const char* path, AttachmentKindOfFile kind);

// The result line for a file that could not be attached: `what` names the
// file ("スナップ画像ファイル", "録画ファイル") and the state the reason.
std::string attachmentFailureLine(const char* what, AttachmentState state);

}  // namespace command
