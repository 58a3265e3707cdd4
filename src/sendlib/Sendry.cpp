// The exports of the Sendry library.
#include "sendlib/SendMail.h"
#include "sendlib/Sendry.h"

extern "C" int32_t EM_SendMail(SendMailRequest request) { return sendlib::sendMail(request); }

extern "C" int32_t EM_SendMailSecure(const SendMailRequest* request, const SendSecurity* security) {
  if (!request) return sendlib::kSendFailed;
  return sendlib::sendMailSecure(*request, security);
}
