// One received mail: its index summary, decoded header values, decoded body
// and attachment list. One object is reused for every mail.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mime/AttachmentEntry.h"
#include "mime/Charset.h"
#include "mime/MailIndexEntry.h"
#include "mime/MailLogReader.h"

namespace mime {

// Pending header field kinds (recogniseField's result).
enum FieldKind : int {
  kFieldNone = 0,
  kFieldFrom = 1,
  kFieldTo = 2,
  kFieldSubject = 3,
  kFieldDate = 4,
  kFieldContentType = 5,
  kFieldTransferEncoding = 6,
};

// What a part header says about its part.
struct PartInfo {
  ContentTypeCode type = 0;
  TransferEncodingCode encoding = 0;
  CharsetCode charset = 0;
  char subtype[20] = {};
};

// How the preview shows the mail that showMail decoded.
enum class PreviewResult {
  kEmpty,                // nothing to show (no body, or the log could not be read)
  kBody,                 // `body`, without the attachment strip
  kBodyWithAttachments,  // `body`, with the attachment strip (two parts or more)
  kOutOfMemory,          // the raw text could not be allocated
};

class MimeMessage : public MailIndexEntry {
 public:
  MimeMessage();

  // Parses one mail held in memory: its raw text as stored in the mail log
  // (dot-stuffed, ending with the line "."). Fills the MailIndexEntry fields,
  // contentType, boundary and headerCharset; releases body.
  void parseMail(const char* text, size_t size, int32_t logOffset, int32_t mailNumber);

  // The same parse over a text that arrives in pieces of any size (the index
  // rebuild reads the log this way): beginParse, feed until mailEnded(),
  // endParse. The result does not depend on where the pieces are cut. feed
  // returns how many of the bytes belong to the mail: all of them, or fewer
  // when the final "." line ended it; the next mail starts after them.
  void beginParse(int32_t logOffset, int32_t mailNumber);
  size_t feed(const char* data, size_t size);
  bool mailEnded() const { return ended_; }
  void endParse();

  // Steps of the header scan. `line` is without its line end.
  int recogniseField(const char* line, size_t length, int32_t lineOffset);
  void appendContinuation(int kind, const char* line, size_t length);
  void finishField(int kind);
  // Decodes the encoded words of a header value (or file name) in place and
  // sets headerCharset when the value holds "=?".
  void decodeEncodedWords(std::string& value, size_t width);

  // Fills body from a single-part mail: `mail` holds the mail's first
  // `mailLength` bytes plus one more (the entry's offsets point into it).
  void showSinglePartBody(char* mail, int32_t mailLength);
  // Fills body from the first part of a multipart mail: `length` bytes,
  // the buffer holding at least one more.
  void showFirstPart(char* text, int32_t length);
  // Lists `count` parts of the text that starts at the second delimiter line
  // (absolute log position `position`) as attachments.
  void buildAttachmentList(const char* text, int32_t length, int32_t position, int32_t count);
  // Writes the decoded attachment `number` into the temporary folder;
  // `outPath` gets its path. 1 on success, 0 on failure.
  int saveAttachment(int32_t number, MailLogReader& log, std::string* outPath);
  // Type, encoding, charset and subtype of a part header; sets attachmentName.
  PartInfo parsePartHeader(const char* header, size_t length);
  // The charset of the body of the mail just parsed from `text`.
  CharsetCode bodyCharset(const char* text, size_t size) const;

  // Shows one selected mail: reads it through `log` as its index entry
  // says, fills body and, for two parts or more, the attachment list.
  PreviewResult showMail(const MailIndexEntry& entry, MailLogReader& log);

  const MailIndexEntry& entry() const { return *this; }

  // Working fields, not stored in the index.
  std::string body;  // decoded body text
  int32_t bodyLength = 0;
  char attachmentName[256];
  CharsetCode headerCharset = 0;  // of the last header value that held an encoded word
  char contentType[1024];         // main Content-Type value, normalised
  char boundary[1024];            // multipart delimiter text without "--"
  int32_t boundarySeen = 0;
  std::vector<AttachmentEntry> attachments;

  // Told about each attachment as the list is built (the main window adds
  // it to the attachment strip); unset, nobody is told.
  std::function<void(const AttachmentEntry&)> onAttachmentFound;

 private:
  void processLine(const char* line, size_t length, size_t available);
  void setBody(const char* text, size_t length);

  int32_t offset_ = 0;    // running offset of the current line
  bool inHeader_ = true;
  bool ended_ = false;
  bool stopped_ = false;  // the text is too long for 32-bit offsets
  int pending_ = kFieldNone;
  std::string pendingValue_;  // the pending field's value, folded lines joined
  std::string partial_;       // the start of a line whose end has not arrived
  size_t partialLength_ = 0;  // its full length so far
  size_t boundaryLength_ = 0;
};

// Undoes the transfer encoding of `length` bytes at `data` (the buffer holds
// one byte more) and converts ISO-2022-JP text into Shift_JIS. Returns the
// length of the result, which is NUL-terminated.
int32_t decodeTransfer(char* data, int32_t length, TransferEncodingCode encoding, CharsetCode charset);

}  // namespace mime
