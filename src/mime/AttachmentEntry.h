// Codes of media types and transfer encodings, and one listed attachment.
#pragma once
#include <cstdint>

#include "mime/Charset.h"

namespace mime {

using ContentTypeCode = int32_t;
enum : ContentTypeCode {
  kTypeOther = 1,
  kTypeMultipart = 2,
  kTypeText = 3,
  kTypeImage = 4,
  kTypeMessage = 5,
  kTypeAudio = 6,
  kTypeVideo = 7,
  kTypeApplication = 8,
};

using TransferEncodingCode = int32_t;
enum : TransferEncodingCode {
  kEncodingBase64 = 2,
  kEncodingQuotedPrintable = 3,
  kEncodingUuencode = 4,
  kEncoding8Bit = 5,
  kEncodingBinary = 6,
  kEncodingOther = 7,
};

// One part of a multipart mail after the first, listed as an attachment.
struct AttachmentEntry {
  int32_t number = 0;        // position in the list, from 0
  char fileName[256] = {};   // name under which the part is saved
  int32_t position = 0;      // first body byte of the part in the mail log
  int32_t length = 0;        // raw bytes of the part body
  ContentTypeCode contentType = 0;
  TransferEncodingCode transferEncoding = 0;
  CharsetCode charset = 0;
};

}  // namespace mime
