// Normalisation and classification of header text: Content-Type and
// Content-Transfer-Encoding values, part headers and file names.
#pragma once
#include <cstddef>
#include <string>

#include "mime/AttachmentEntry.h"
#include "mime/Charset.h"

namespace mime {

enum class HeaderRule {
  // The main Content-Type value: spaces, CR and LF removed everywhere;
  // upper case outside double quotes.
  kContentType,
  // Part headers and Content-Type blocks: outside double quotes spaces are
  // removed and letters upper-cased; quoted text, quotes, CR and LF stay.
  kPartHeader,
  // File names: spaces, CR and LF removed everywhere; upper case outside quotes.
  kFileName,
  // Content-Transfer-Encoding blocks: CR, LF, spaces and quotes removed; upper case.
  kTransferEncoding,
};

std::string normaliseHeader(const char* text, size_t length, HeaderRule rule);

// Where the byte at `index` of the normalised text came from in `text`
// (`length` when index is the normalised text's length or beyond).
size_t sourceIndex(const char* text, size_t length, HeaderRule rule, size_t index);

// Media type, subtype and charset of a normalised text that begins with
// "CONTENT-TYPE:". The subtype (at most 19 bytes, else empty) runs from the
// media type to ";", CR, LF or the end of the text.
struct ContentTypeInfo {
  ContentTypeCode type = kTypeOther;
  char subtype[20] = {};
  CharsetCode charset = kCharsetNone;
};
ContentTypeInfo classifyContentType(const char* text, size_t length);

// Transfer encoding of a normalised text that begins with
// "CONTENT-TRANSFER-ENCODING:" (white space before the value is skipped).
TransferEncodingCode classifyTransferEncoding(const char* text, size_t length);

// Removes from a Shift_JIS name the bytes that may not stand in a file name
// (LF, double quote, * / : < > ? \ |), keeping the second byte of every
// double-byte character.
void removeUnsafeNameBytes(std::string& name);

}  // namespace mime
