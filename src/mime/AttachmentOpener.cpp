#include "mime/AttachmentOpener.h"

#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Shell.h"

namespace mime {

void AttachmentOpener::removeLast() {
  if (!lastPath_.empty() && platform::fileExists(lastPath_.c_str())) platform::removeFile(lastPath_.c_str());
  lastPath_.clear();
}

bool AttachmentOpener::save(MimeMessage& message, int32_t number, MailLogReader& log) {
  removeLast();
  std::string path;
  if (!message.saveAttachment(number, log, &path)) {
    platform::messageBox("添付ファイルが取得できませんでした。", "障害報告",
                         platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
    return false;
  }
  lastPath_ = path;
  platform::markFromInternet(path.c_str());  // silently absent where the volume cannot keep it
  return true;
}

int AttachmentOpener::open(MimeMessage& message, int32_t number, MailLogReader& log) {
  if (!save(message, number, log)) return 0;
  if (!platform::shellOpen(lastPath_.c_str())) {
    platform::messageBox("表示失敗", "Quorvel", platform::kMbOk | platform::kMbIconExclamation);
    return 0;
  }
  return 1;
}

std::string AttachmentOpener::saveForDrag(MimeMessage& message, int32_t number, MailLogReader& log) {
  return save(message, number, log) ? lastPath_ : std::string();
}

}  // namespace mime
