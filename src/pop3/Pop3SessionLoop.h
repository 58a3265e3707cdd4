// Drives a session from a plain socket loop, where no window receives
// socket notifications (native tools, tests and benchmarks).
#pragma once
#include "pop3/Pop3Session.h"

namespace pop3 {

// Opens the session and runs it until it ends. Returns open()'s code.
int runSession(Pop3Session& session, const Pop3Account& account);

}  // namespace pop3
