// The steps of one send in the order they happen. A failed send names the
// step that failed; each edition of the library maps steps to its result codes.
#pragma once

namespace sendlib {

enum class SendStep : int {
  None,  // sent and quit
  // Before the dialogue.
  Attachment,
  SocketStartup,
  Resolve,
  CreateSocket,
  Connect,
  // The dialogue.
  Greeting,
  Hello,  // HELO, or EHLO and authentication
  MailFrom,
  MailFromRefused,
  FirstRecipient,
  FirstRecipientRefused,
  FurtherRecipient,
  Data,
  // The message lines.
  XMailer,
  MimeVersion,
  FromLine,
  ToLine,
  CcLine,
  SubjectLine,
  MessageIdLine,
  DateLine,
  MultipartType,
  BoundaryParameter,
  EmptyAfterHeaders,
  FirstBoundary,
  TextType,
  TextEncoding,
  EmptyBeforeBody,
  BodyLine,
  EmptyAfterBody,
  SecondBoundary,
  AttachmentType,
  AttachmentEncoding,
  AttachmentDisposition,
  EmptyBeforeData,
  AttachmentData,
  EmptyAfterData,
  ClosingBoundary,
  // After the message.
  EndOfData,
  Quit,
  // Transport security (after Quit, so that the codes above keep their numbers).
  StartTls,      // STARTTLS not offered or refused
  TlsHandshake,  // the handshake or the certificate check failed
};

}  // namespace sendlib
