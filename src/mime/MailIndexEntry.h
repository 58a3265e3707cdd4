// The fixed-size summary of one mail: the record of the mail index file
// and the data of one mail-list row.
#pragma once
#include <cstddef>
#include <cstdint>

namespace mime {

#pragma pack(push, 1)
// All offsets count from the mail's first byte in the mail log (0 = absent),
// except logOffset, which is absolute. Text fields are NUL-terminated
// Shift_JIS. Integers are stored little-endian.
struct MailIndexEntry {
  int32_t mailNumber;          // sequence number in the store
  int32_t logOffset;           // first byte of the mail in the log
  int32_t arrivalMark;         // a mime::ArrivalMark (ArrivalMark.h); 0 from a parse
  int32_t mimeVersionAt;       // MIME-Version line
  int32_t contentTypeAt;       // Content-Type line
  int32_t transferEncodingAt;  // Content-Transfer-Encoding line
  int32_t partCount;           // non-closing delimiter lines of the top-level multipart body
  int32_t headerLength;        // the empty line that ends the header
  int32_t firstPartStart;      // just after the first delimiter line
  int32_t firstPartEnd;        // the second delimiter line, else the closing one; 0 when neither
  int32_t mailEnd;             // the final "." line
  int32_t priority;            // X-Priority
  char from[100];
  char to[100];
  char date[100];
  char mailer[100];
  char sender[100];
  char subject[1024];
};
#pragma pack(pop)

static_assert(sizeof(MailIndexEntry) == 1572, "index record size");
static_assert(offsetof(MailIndexEntry, mailNumber) == 0);
static_assert(offsetof(MailIndexEntry, logOffset) == 4);
static_assert(offsetof(MailIndexEntry, arrivalMark) == 8);
static_assert(offsetof(MailIndexEntry, mimeVersionAt) == 12);
static_assert(offsetof(MailIndexEntry, contentTypeAt) == 16);
static_assert(offsetof(MailIndexEntry, transferEncodingAt) == 20);
static_assert(offsetof(MailIndexEntry, partCount) == 24);
static_assert(offsetof(MailIndexEntry, headerLength) == 28);
static_assert(offsetof(MailIndexEntry, firstPartStart) == 32);
static_assert(offsetof(MailIndexEntry, firstPartEnd) == 36);
static_assert(offsetof(MailIndexEntry, mailEnd) == 40);
static_assert(offsetof(MailIndexEntry, priority) == 44);
static_assert(offsetof(MailIndexEntry, from) == 48);
static_assert(offsetof(MailIndexEntry, to) == 148);
static_assert(offsetof(MailIndexEntry, date) == 248);
static_assert(offsetof(MailIndexEntry, mailer) == 348);
static_assert(offsetof(MailIndexEntry, sender) == 448);
static_assert(offsetof(MailIndexEntry, subject) == 548);

}  // namespace mime
