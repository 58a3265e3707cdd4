// The one export of the Sendry library.
#pragma once
#include <cstdint>

#include "sendlib/SendMailRequest.h"

// Sends one message; returns 0 on success, 1 to 4 on failure (see SendMail.h).
// Windows also exports it as "_EM_SendMail@12176".
extern "C" int32_t EM_SendMail(SendMailRequest request);
