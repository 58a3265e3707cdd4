// The program's own window messages (WM_USER = 0x400 and up). Portable code
// posts some of them through platform::postToMainWindow, so they live here.
#pragma once

namespace appmsg {

constexpr unsigned kWmUser = 0x400;

constexpr unsigned kStartup = kWmUser + 1;             // show the window, open the store, arm the timer
constexpr unsigned kSocket = kWmUser + 2;              // POP3 socket event (low word of lParam)
constexpr unsigned kCheckFinished = kWmUser + 3;       // the POP3 session has ended
constexpr unsigned kLoadIndex = kWmUser + 4;           // the index is ready for the mail list
constexpr unsigned kShowMail = kWmUser + 5;            // a list row was activated
constexpr unsigned kOpenAttachment = kWmUser + 6;      // wParam: attachment number
constexpr unsigned kAddAttachment = kWmUser + 7;       // not used: the preview adds its attachments itself
constexpr unsigned kIntervalChanged = kWmUser + 8;     // re-arm the receive timer
constexpr unsigned kNextCommand = kWmUser + 9;         // unused: commands follow each other by timer steps
constexpr unsigned kProcessingFinished = kWmUser + 10;  // clear busy
constexpr unsigned kOpenHomePage = kWmUser + 11;       // wParam 0: home page, 1: mirror
constexpr unsigned kSaveSettings = kWmUser + 12;       // write quorvel.ini
constexpr unsigned kSelectAll = kWmUser + 13;          // to the mail panel
constexpr unsigned kExport = kWmUser + 14;
constexpr unsigned kExportAndMove = kWmUser + 15;
constexpr unsigned kDeleteSelected = kWmUser + 16;
constexpr unsigned kReloadStore = kWmUser + 17;        // reopen the store from the switched folder
constexpr unsigned kDragEntered = kWmUser + 20;        // to the mail panel: a drag entered it
constexpr unsigned kDragLeft = kWmUser + 21;           // the drag left it
constexpr unsigned kImportMail = kWmUser + 22;         // a dropped file waits (ui::takeDroppedFile)
constexpr unsigned kTextDropped = kWmUser + 23;        // text was dropped (not used)
constexpr unsigned kNothingDropped = kWmUser + 24;     // a drop without usable data
constexpr unsigned kPrepareAttachmentDrag = kWmUser + 25;
constexpr unsigned kPrepareMailDrag = kWmUser + 26;
constexpr unsigned kTokenReady = kWmUser + 27;         // the check's access token was fetched (MainWindow::TokenJob)

}  // namespace appmsg
