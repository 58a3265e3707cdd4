// The parameter record of EM_SendMail, the one export of the Sendry library.
// Passed by value; the layout is fixed (packed, little-endian).
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct SendMailRequest {
  uint16_t port;              // SMTP port
  uint16_t flags;             // kSendFlag... bits; zero for a plain message
  int32_t ccCount;            // used entries of ccAddresses, 0 to 20
  char server[76];            // host name or dotted IPv4 address
  char fromAddress[76];       // envelope sender and From address
  char toAddress[76];         // first recipient and To address
  char fromName[76];          // display name of the From header; may be empty
  char subject[256];
  char body[10240];           // sent base64-encoded as the text part
  char attachmentPath[260];   // empty = no attachment
  char ccAddresses[20][50];   // further recipients
  char userName[32];
  char password[32];
  char heloName[32];          // argument of HELO / EHLO
  int32_t useAuth;            // nonzero: EHLO and authenticate; zero: HELO
  int32_t writeLog;           // nonzero: write the send log
  int32_t deleteAttachment;   // nonzero: delete the attachment after the attempt
};
#pragma pack(pop)

static_assert(sizeof(SendMailRequest) == 12176, "SendMailRequest is 12176 bytes");
static_assert(offsetof(SendMailRequest, port) == 0, "port");
static_assert(offsetof(SendMailRequest, flags) == 2, "flags");

// flags: the message is an automatic reply (an "Auto-Submitted: auto-replied" line).
constexpr uint16_t kSendFlagAutoReplied = 0x0001;
static_assert(offsetof(SendMailRequest, ccCount) == 4, "ccCount");
static_assert(offsetof(SendMailRequest, server) == 8, "server");
static_assert(offsetof(SendMailRequest, fromAddress) == 84, "fromAddress");
static_assert(offsetof(SendMailRequest, toAddress) == 160, "toAddress");
static_assert(offsetof(SendMailRequest, fromName) == 236, "fromName");
static_assert(offsetof(SendMailRequest, subject) == 312, "subject");
static_assert(offsetof(SendMailRequest, body) == 568, "body");
static_assert(offsetof(SendMailRequest, attachmentPath) == 10808, "attachmentPath");
static_assert(offsetof(SendMailRequest, ccAddresses) == 11068, "ccAddresses");
static_assert(offsetof(SendMailRequest, userName) == 12068, "userName");
static_assert(offsetof(SendMailRequest, password) == 12100, "password");
static_assert(offsetof(SendMailRequest, heloName) == 12132, "heloName");
static_assert(offsetof(SendMailRequest, useAuth) == 12164, "useAuth");
static_assert(offsetof(SendMailRequest, writeLog) == 12168, "writeLog");
static_assert(offsetof(SendMailRequest, deleteAttachment) == 12172, "deleteAttachment");
