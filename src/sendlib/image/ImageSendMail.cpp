#include "sendlib/image/ImageSendMail.h"

#include <vector>

#include "platform/Base64.h"
#include "sendlib/Attachment.h"
#include "sendlib/image/PictureConversion.h"

namespace sendlib {

const char kImageSendLogName[] = "メール送信ログ.TXT";

namespace {

// From the connection on, every step has the next code.
static_assert(static_cast<int>(SendStep::kQuit) - static_cast<int>(SendStep::kConnect) == 135 - kImageConnect,
              "the steps from Connect to Quit have the codes 100 to 135");

int imageCall(const ImageMailRequest& request, const SendSecurity* security) {
  SendJob job = imageJob(request);
  if (!securityOf(security, &job)) return imageResult(SendStep::kTlsHandshake);
  const std::string path = fieldText(request.attachmentPath);
  if (request.sendFileAsIs == 0 && request.imageWidth != 0) {
    std::vector<uint8_t> jpeg;
    if (!convertPicture(path, request.imageWidth, request.jpegQuality, &jpeg)) return kPictureFailed;
    platform::base64Encode(jpeg.data(), jpeg.size(), &job.attachmentText);
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
    case SendStep::kNone: return kImageSent;
    case SendStep::kAttachment: return kFileUnreadable;
    case SendStep::kSocketStartup: return kImageSocketStartup;
    case SendStep::kResolve: return kImageServerNotFound;
    case SendStep::kCreateSocket: return kImageNoSocket;
    default:
      return kImageConnect + static_cast<int>(failed) - static_cast<int>(SendStep::kConnect);
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
