// The few calls portable code makes toward the user interface. The Windows
// program installs real implementations; tests install recorders.
#pragma once
#include <cstdint>

namespace platform {

// Message box flags and answers, with the Windows values.
enum : unsigned {
  kMbOk = 0x0, kMbOkCancel = 0x1, kMbYesNoCancel = 0x3, kMbYesNo = 0x4,
  kMbIconError = 0x10, kMbIconQuestion = 0x20, kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
  // Not a Windows flag: show the box with the Japanese language.
  kMbJapanese = 0x80000000u,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

using MessageBoxHook = int (*)(const char* text, const char* caption, unsigned flags);
using PostHook = void (*)(unsigned message, uintptr_t wParam, intptr_t lParam);

// Shows a message box (text and caption are Shift_JIS); returns the answer.
// Without a hook the text goes to standard error and a question is
// declined: No for Yes/No, Cancel for Yes/No/Cancel and OK/Cancel, OK for OK.
int messageBox(const char* text, const char* caption, unsigned flags);
void setMessageBoxHook(MessageBoxHook hook);

// Posts a message to the main window (WM_USER+n). Without a hook it is dropped.
void postToMainWindow(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);
void setPostHook(PostHook hook);

}  // namespace platform
