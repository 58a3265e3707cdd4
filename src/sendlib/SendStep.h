// The steps of one send in the order they happen. A failed send names the
// step that failed; each edition of the library maps steps to its result codes.
#pragma once

namespace sendlib {

enum class SendStep : int {
  kNone,  // sent and quit
  // Before the dialogue.
  kAttachment,
  kSocketStartup,
  kResolve,
  kCreateSocket,
  kConnect,
  // The dialogue.
  kGreeting,
  kHello,  // HELO, or EHLO and authentication
  kMailFrom,
  kMailFromRefused,
  kFirstRecipient,
  kFirstRecipientRefused,
  kFurtherRecipient,
  kData,
  // The message lines.
  kXMailer,
  kMimeVersion,
  kFromLine,
  kToLine,
  kCcLine,
  kSubjectLine,
  kMessageIdLine,
  kDateLine,
  kMultipartType,
  kBoundaryParameter,
  kEmptyAfterHeaders,
  kFirstBoundary,
  kTextType,
  kTextEncoding,
  kEmptyBeforeBody,
  kBodyLine,
  kEmptyAfterBody,
  kSecondBoundary,
  kAttachmentType,
  kAttachmentEncoding,
  kAttachmentDisposition,
  kEmptyBeforeData,
  kAttachmentData,
  kEmptyAfterData,
  kClosingBoundary,
  // After the message.
  kEndOfData,
  kQuit,
  // Transport security (after Quit, so that the codes above keep their numbers).
  kStartTls,      // STARTTLS not offered or refused
  kTlsHandshake,  // the handshake or the certificate check failed
};

}  // namespace sendlib
