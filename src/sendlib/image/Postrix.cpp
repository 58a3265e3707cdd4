// The export of the Postrix library.
#include "sendlib/image/ImageSendMail.h"
#include "sendlib/image/Postrix.h"

extern "C" int32_t EM_SendMail(ImageMailRequest request) { return sendlib::sendImageMail(request, nullptr); }

extern "C" int32_t EM_SendMailSecure(const ImageMailRequest* request, const SendSecurity* security) {
  if (!request) return sendlib::kImageConnect;
  return sendlib::sendImageMail(*request, security);
}
