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

// A flag in `mode`: the record is the first part of a SendSecurityBearer,
// and AUTH uses its access token instead of the password.
enum : int32_t { kSendAuthBearer = 0x10000 };
enum : int32_t { kSendXoauth2 = 0, kSendOauthBearer = 1 };

#pragma pack(push, 1)
struct SendSecurity {
  int32_t mode;         // kSendPlain, kSendStartTls or kSendTls
  int32_t noVerify;     // nonzero: the server's certificate is not checked
  char trustFile[260];  // PEM certificates trusted besides the system's; empty = none
};
// The security record with an OAuth 2.0 access token; the user is the send
// record's userName. Read only when security.mode holds kSendAuthBearer.
struct SendSecurityBearer {
  SendSecurity security;
  int32_t mechanism;       // kSendXoauth2 or kSendOauthBearer, when the server offers both
  char bearerToken[8192];  // NUL-terminated
};
#pragma pack(pop)

static_assert(sizeof(SendSecurityBearer) == 8464, "SendSecurityBearer is 8464 bytes");
static_assert(offsetof(SendSecurityBearer, mechanism) == 268, "mechanism");
static_assert(offsetof(SendSecurityBearer, bearerToken) == 272, "bearerToken");
static_assert(sizeof(SendSecurity) == 268, "SendSecurity is 268 bytes");
static_assert(offsetof(SendSecurity, mode) == 0, "mode");
static_assert(offsetof(SendSecurity, noVerify) == 4, "noVerify");
static_assert(offsetof(SendSecurity, trustFile) == 8, "trustFile");
