// Two pieces of work side by side: one on a second thread, one on the
// calling thread.
#pragma once
#include <functional>

namespace platform {

// Runs `beside` on a new thread and `here` on the calling thread, and returns
// when both are done. When no thread can be started, runs them one after the
// other on the calling thread. Neither may throw.
void runSideBySide(const std::function<void()>& beside, const std::function<void()>& here);

// Runs `work` on a new thread that nobody waits for (it must end by
// itself); false when no thread could be started.
bool startDetached(std::function<void()> work);

// The number of processors the program may use (at least 1).
unsigned processorCount();

}  // namespace platform
