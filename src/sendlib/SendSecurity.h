// The security record of the second export of Sendry and Postrix, passed by
// pointer beside the unchanged send record (packed, little-endian).
#pragma once
#include <cstddef>
#include <cstdint>

enum : int32_t {
  kSendPlain = 0,     // no TLS, as EM_SendMail
  kSendStartTls = 1,  // STARTTLS after the greeting (usually port 587)
  kSendTls = 2,       // TLS from the first byte (usually port 465)
};

#pragma pack(push, 1)
struct SendSecurity {
  int32_t mode;         // kSendPlain, kSendStartTls or kSendTls
  int32_t noVerify;     // nonzero: the server's certificate is not checked
  char trustFile[260];  // PEM certificates trusted besides the system's; empty = none
};
#pragma pack(pop)

static_assert(sizeof(SendSecurity) == 268, "SendSecurity is 268 bytes");
static_assert(offsetof(SendSecurity, mode) == 0, "mode");
static_assert(offsetof(SendSecurity, noVerify) == 4, "noVerify");
static_assert(offsetof(SendSecurity, trustFile) == 8, "trustFile");
