// The parameter record of EM_SendMail in the image-attaching edition,
// Postrix. Passed by value; the layout is fixed (packed, little-endian).
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ImageMailRequest {
  uint16_t port;              // SMTP port
  uint16_t reserved;          // zero; not read
  int32_t imageWidth;         // width of the JPEG to make; 0 = attach the file unchanged
  int32_t jpegQuality;        // 0 to 100, for the JPEG encoder
  int32_t ccCount;            // used entries of ccAddresses, 0 to 20
  char server[76];            // host name or dotted IPv4 address
  char fromAddress[76];       // envelope sender and From address
  char toAddress[76];         // first recipient and To address
  char fromName[76];          // display name of the From, To and Cc headers
  char subject[256];
  char body[1024];            // at most 765 bytes: its base64 form fits one line
  char attachmentPath[260];   // the picture or file to attach; required
  char ccAddresses[20][50];   // further recipients
  char userName[32];
  char password[32];
  char heloName[32];          // argument of HELO / EHLO
  int32_t useAuth;            // nonzero: EHLO and authenticate; zero: HELO
  int32_t sendFileAsIs;       // nonzero: attach the file without conversion
  int32_t writeLog;           // nonzero: write the send log
};
#pragma pack(pop)

static_assert(sizeof(ImageMailRequest) == 2968, "ImageMailRequest is 2968 bytes");
static_assert(offsetof(ImageMailRequest, port) == 0, "port");
static_assert(offsetof(ImageMailRequest, reserved) == 2, "reserved");
static_assert(offsetof(ImageMailRequest, imageWidth) == 4, "imageWidth");
static_assert(offsetof(ImageMailRequest, jpegQuality) == 8, "jpegQuality");
static_assert(offsetof(ImageMailRequest, ccCount) == 12, "ccCount");
static_assert(offsetof(ImageMailRequest, server) == 16, "server");
static_assert(offsetof(ImageMailRequest, fromAddress) == 92, "fromAddress");
static_assert(offsetof(ImageMailRequest, toAddress) == 168, "toAddress");
static_assert(offsetof(ImageMailRequest, fromName) == 244, "fromName");
static_assert(offsetof(ImageMailRequest, subject) == 320, "subject");
static_assert(offsetof(ImageMailRequest, body) == 576, "body");
static_assert(offsetof(ImageMailRequest, attachmentPath) == 1600, "attachmentPath");
static_assert(offsetof(ImageMailRequest, ccAddresses) == 1860, "ccAddresses");
static_assert(offsetof(ImageMailRequest, userName) == 2860, "userName");
static_assert(offsetof(ImageMailRequest, password) == 2892, "password");
static_assert(offsetof(ImageMailRequest, heloName) == 2924, "heloName");
static_assert(offsetof(ImageMailRequest, useAuth) == 2956, "useAuth");
static_assert(offsetof(ImageMailRequest, sendFileAsIs) == 2960, "sendFileAsIs");
static_assert(offsetof(ImageMailRequest, writeLog) == 2964, "writeLog");
