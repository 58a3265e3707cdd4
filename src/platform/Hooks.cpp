#include "platform/Hooks.h"

#include <cstdio>

#include "platform/Text.h"

namespace platform {
namespace {
MessageBoxHook g_messageBox = nullptr;
PostHook g_post = nullptr;
}  // namespace

int messageBox(const char* text, const char* caption, unsigned flags) {
  if (g_messageBox) return g_messageBox(text, caption, flags);
  std::fprintf(stderr, "[%s] %s\n", cp932ToUtf8(caption ? caption : "").c_str(),
               cp932ToUtf8(text ? text : "").c_str());
  // Nobody can answer: a question is declined, never confirmed.
  switch (flags & 0xF) {
    case kMbYesNo: return kIdNo;
    case kMbYesNoCancel:
    case kMbOkCancel: return kIdCancel;
    default: return kIdOk;
  }
}

void setMessageBoxHook(MessageBoxHook hook) { g_messageBox = hook; }

void postToMainWindow(unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (g_post) g_post(message, wParam, lParam);
}

void setPostHook(PostHook hook) { g_post = hook; }

}  // namespace platform
