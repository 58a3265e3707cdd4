#include "sendlib/image/ImageSendMail.h"

#include <vector>

#include "sendlib/Attachment.h"
#include "sendlib/Base64.h"
#include "sendlib/image/PictureConversion.h"

namespace sendlib {

const char kImageSendLogName[] = "メール送信ログ.TXT";

namespace {

// From the connection on, every step has the next code.
static_assert(static_cast<int>(SendStep::Quit) - static_cast<int>(SendStep::Connect) == 135 - kImageConnect,
              "the steps from Connect to Quit have the codes 100 to 135");

int imageCall(const ImageMailRequest& request, const SendSecurity* security) {
  SendJob job = imageJob(request);
  if (!tlsSettings(security, &job.tls)) return imageResult(SendStep::TlsHandshake);
  const std::string path = fieldText(request.attachmentPath);
  if (request.sendFileAsIs == 0 && request.imageWidth != 0) {
    std::vector<uint8_t> jpeg;
    if (!convertPicture(path, request.imageWidth, request.jpegQuality, &jpeg)) return kPictureFailed;
    base64Encode(jpeg.data(), jpeg.size(), &job.attachmentText);
  } else {
    SilentSendLog silent;
    if (!prepareAttachment(path, silent, &job.attachmentText)) return kFileUnreadable;
  }
  OpenSendLog log(kImageSendLogName, request.writeLog != 0);
  return imageResult(runSession(job, log));
}

}  // namespace

int imageResult(SendStep failed) {
  switch (failed) {
    case SendStep::None: return kImageSent;
    case SendStep::Attachment: return kFileUnreadable;
    case SendStep::SocketStartup: return kImageSocketStartup;
    case SendStep::Resolve: return kImageServerNotFound;
    case SendStep::CreateSocket: return kImageNoSocket;
    default:
      return kImageConnect + static_cast<int>(failed) - static_cast<int>(SendStep::Connect);
  }
}

SendJob imageJob(const ImageMailRequest& request) {
  SendJob job = commonJob(request);
  const std::string name = pictureAttachmentName(fieldText(request.attachmentPath));
  job.fields.hasAttachment = true;
  job.fields.attachmentName = lineText(name.c_str(), name.size());
  job.style.nameOnRecipients = true;
  job.style.attachmentType = "text/plain";
  return job;
}

int sendImageMail(const ImageMailRequest& request, const SendSecurity* security) {
  // Only memory can run out; a failure before the connection is the
  // attachment's, and the session cleans up after itself.
  return guardedCall([&request, security] { return imageCall(request, security); }, kPictureFailed);
}

}  // namespace sendlib
