// mailinfo: shows how Quorvel reads one raw mail file.
//
//   mailinfo record FILE        the 1572-byte index record (log offset 0, mail number 0)
//   mailinfo body FILE          the decoded preview text (Shift_JIS bytes)
//   mailinfo attachments FILE   one line per attachment: number, file name,
//                               length, type, encoding, charset (tab-separated)
//   mailinfo charsets FILE      the header charset and body charset codes
//   mailinfo save FILE N        decodes attachment N into the temporary
//                               folder ($TMPDIR) and prints its path
//
// The file is taken as the mail log would hold it: when it does not end
// with CR LF "." CR LF, those five bytes are appended (as an import does).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"
#include "platform/File.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: mailinfo record|body|attachments|charsets FILE\n"
               "       mailinfo save FILE NUMBER\n");
  return 2;
}

bool loadMail(const char* path, std::string* text) {
  FILE* file = std::fopen(path, "rb");
  if (!file) {
    std::fprintf(stderr, "mailinfo: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "mailinfo: cannot read %s\n", path);
    return false;
  }
  if (text->empty()) {
    std::fprintf(stderr, "mailinfo: %s is empty\n", path);
    return false;
  }
  if (text->size() > 0x7FFFFF00u) {
    std::fprintf(stderr, "mailinfo: %s is too large for the mail log\n", path);
    return false;
  }
  static const char kEnd[] = "\r\n.\r\n";
  if (text->size() < 5 || text->compare(text->size() - 5, 5, kEnd) != 0) text->append(kEnd);
  return true;
}

bool writeAll(const void* data, size_t size) {
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string command = argv[1];
  bool save = command == "save";
  if ((save && argc != 4) || (!save && argc != 3)) return usage();
  if (command != "record" && command != "body" && command != "attachments" && command != "charsets" && !save)
    return usage();

  std::string text;
  if (!loadMail(argv[2], &text)) return 1;
  mime::MimeMessage message;
  message.parseMail(text.data(), text.size(), 0, 0);

  if (command == "record") return writeAll(&message.entry(), sizeof(mime::MailIndexEntry)) ? 0 : 1;
  if (command == "charsets") {
    std::printf("header %d\nbody %d\n", message.headerCharset, message.bodyCharset(text.data(), text.size()));
    return 0;
  }

  mime::MemoryLogReader log(text);
  mime::MailIndexEntry entry = message.entry();
  message.onAttachmentFound = [](const mime::AttachmentEntry&) {};
  mime::PreviewResult shown = message.showMail(entry, log);
  if (shown == mime::PreviewResult::kOutOfMemory) {
    std::fprintf(stderr, "mailinfo: out of memory\n");
    return 1;
  }
  if (command == "body") return writeAll(message.body.data(), message.body.size()) ? 0 : 1;
  if (command == "attachments") {
    for (const mime::AttachmentEntry& a : message.attachments)
      std::printf("%d\t%s\t%d\t%d\t%d\t%d\n", a.number, a.fileName, a.length, a.contentType, a.transferEncoding,
                  a.charset);
    return 0;
  }
  char* end = nullptr;
  long number = std::strtol(argv[3], &end, 10);
  if (!*argv[3] || *end || number < 0 || number >= static_cast<long>(message.attachments.size())) {
    std::fprintf(stderr, "mailinfo: no attachment %s (the mail lists %zu)\n", argv[3], message.attachments.size());
    return 1;
  }
  std::string path;
  if (!message.saveAttachment(static_cast<int32_t>(number), log, &path)) {
    std::fprintf(stderr, "mailinfo: attachment %ld could not be saved\n", number);
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
