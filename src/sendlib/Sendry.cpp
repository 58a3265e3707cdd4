// The export of the Sendry library.
#include "sendlib/SendMail.h"
#include "sendlib/Sendry.h"

extern "C" int32_t EM_SendMail(SendMailRequest request) { return sendlib::sendMail(request); }
