// The picture work never shows a message box: it runs on paths nobody
// watches (command replies, the send library). Each failure's text is noted
// here instead; the caller puts the last one in its log or reply.
#pragma once
#include <string>

namespace image {

using FailureHook = void (*)(const char* text);

// Notes a failure (Shift_JIS text): it becomes lastFailure(), and goes to
// the hook when one is set.
void noteFailure(const char* text);
// The text of the last failure noted since clearFailure(); empty when none.
const std::string& lastFailure();
void clearFailure();
// Tests and probes watch the failures through this.
void setFailureHook(FailureHook hook);

}  // namespace image
