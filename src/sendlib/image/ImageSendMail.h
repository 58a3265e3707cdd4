// One call of the image-attaching edition's EM_SendMail: the attachment is
// the file unchanged or its picture converted to a JPEG, then the session
// shared with Sendry runs, and every step that fails has its own code.
#pragma once
#include <cstdint>

#include "sendlib/SendMail.h"
#include "sendlib/image/ImageMailRequest.h"

namespace sendlib {

// Result codes: 0 sent; 1 the file could not be read; 2 the picture could
// not be loaded, scaled or encoded; 10 to 12 and 100 to 135 the step that
// failed (see imageResult); 136 STARTTLS not offered or refused; 137 the
// TLS handshake or certificate check failed.
enum ImageResult : int {
  kImageSent = 0,
  kFileUnreadable = 1,
  kPictureFailed = 2,
  kImageSocketStartup = 10,
  kImageServerNotFound = 11,
  kImageNoSocket = 12,
  kImageConnect = 100,
};

// The send log of this edition, in the current directory (Shift_JIS name).
extern const char kImageSendLogName[];

int imageResult(SendStep failed);

// The job of a request, without its attachment text.
SendJob imageJob(const ImageMailRequest& request);

// `security` nullptr: no TLS. A security mode that does not exist fails
// with the code of the TLS handshake step.
int sendImageMail(const ImageMailRequest& request, const SendSecurity* security);

}  // namespace sendlib
