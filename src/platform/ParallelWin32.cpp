#include "platform/Parallel.h"

#include <windows.h>

namespace platform {
namespace {
DWORD WINAPI runWork(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}
}  // namespace

void runSideBySide(const std::function<void()>& beside, const std::function<void()>& here) {
  HANDLE other = CreateThread(nullptr, 0, runWork, const_cast<std::function<void()>*>(&beside), 0, nullptr);
  if (!other) beside();
  here();
  if (other) {
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
  }
}

namespace {

DWORD WINAPI runOwnedWork(void* work) {
  auto* owned = static_cast<std::function<void()>*>(work);
  (*owned)();
  delete owned;
  return 0;
}

}  // namespace

bool startDetached(std::function<void()> work) {
  auto* owned = new std::function<void()>(std::move(work));
  HANDLE thread = CreateThread(nullptr, 0, runOwnedWork, owned, 0, nullptr);
  if (!thread) {
    delete owned;
    return false;
  }
  CloseHandle(thread);
  return true;
}

unsigned processorCount() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || !process) return 1;
  unsigned n = 0;
  for (; process; process &= process - 1) ++n;
  return n;
}

}  // namespace platform
