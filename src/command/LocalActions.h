// The commands that act on the PC itself: power off, screen capture and the
// rotation of the reply picture. The Windows program implements
// LocalActions; tests use recorders.
#pragma once
#include <cstdint>

namespace command {

class LocalActions {
 public:
  virtual ~LocalActions() = default;
  // Asks the system to power off; false when the request failed.
  virtual bool shutdownPc() = 0;
  // Writes the screen to "snap.jpg": full size when targetWidth <= 0 or equals
  // the screen width, else scaled to targetWidth (height in proportion).
  // False when the machine has no screen to capture.
  virtual bool captureScreen(int32_t targetWidth) = 0;
  // Turns "snap.jpg" by 90 degrees counter-clockwise in place.
  virtual bool rotateSnapshot() = 0;
};

// The height of a width × height screen scaled to targetWidth, in
// proportion and truncated toward zero.
int32_t scaledHeight(int32_t targetWidth, int32_t width, int32_t height);

// Loads the JPEG file, turns it by 90 degrees counter-clockwise (the top
// edge becomes the left edge) and writes it back at quality 100 through the
// codec library. False, with the file untouched, when it is missing or
// cannot be loaded or written.
bool rotatePictureFile(const char* path);

}  // namespace command
