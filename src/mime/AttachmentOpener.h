// Opening an attachment of the shown mail from the preview, and saving one
// for dragging out. The file of the last one stays until the next one is
// saved or the program ends (removeLast).
#pragma once
#include <cstdint>
#include <string>

#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"

namespace mime {

class AttachmentOpener {
 public:
  // Saves attachment `number` into the temporary folder and opens it with
  // the shell. A failure to save or to open is shown in a message box.
  // Returns 1 when the shell opened the file.
  int open(MimeMessage& message, int32_t number, MailLogReader& log);
  // Saves attachment `number` for a drag; its path, or empty (after the
  // message box) when it could not be saved.
  std::string saveForDrag(MimeMessage& message, int32_t number, MailLogReader& log);
  // Deletes the file of the last saved attachment, if it still exists.
  void removeLast();
  const std::string& lastPath() const { return lastPath_; }

 private:
  bool save(MimeMessage& message, int32_t number, MailLogReader& log);
  std::string lastPath_;
};

}  // namespace mime
