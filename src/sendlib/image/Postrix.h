// The one export of the Postrix library.
#pragma once
#include <cstdint>

#include "sendlib/SendSecurity.h"
#include "sendlib/image/ImageMailRequest.h"

// Sends one message with its picture or file attached; returns 0 on
// success, else the code of the step that failed (see ImageSendMail.h).
// Windows also exports it as "_EM_SendMail@2968".
extern "C" int32_t EM_SendMail(ImageMailRequest request);

// The same with transport security: the record by pointer, and `security`
// (nullptr: as EM_SendMail). Windows also exports "_EM_SendMailSecure@8".
extern "C" int32_t EM_SendMailSecure(const ImageMailRequest* request, const SendSecurity* security);
