// The exports of the Sendry library.
#pragma once
#include <cstdint>

#include "sendlib/SendMailRequest.h"
#include "sendlib/SendSecurity.h"

// Sends one message; returns 0 on success, 1 to 4 on failure (see SendMail.h).
// Windows also exports it as "_EM_SendMail@12176".
extern "C" int32_t EM_SendMail(SendMailRequest request);

// The same with transport security: the record by pointer, and `security`
// (nullptr: as EM_SendMail). Windows also exports "_EM_SendMailSecure@8".
extern "C" int32_t EM_SendMailSecure(const SendMailRequest* request, const SendSecurity* security);
