#include "platform/Parallel.h"

#include <pthread.h>
#include <sched.h>

namespace platform {
namespace {

struct Start {
  const std::function<void()>* work;
  cpu_set_t allowed;  // the process's processors, given back once running
};

void* runWork(void* argument) {
  auto* start = static_cast<Start*>(argument);
  pthread_setaffinity_np(pthread_self(), sizeof start->allowed, &start->allowed);
  (*start->work)();
  return nullptr;
}

// A new thread would start queued on the processor of the busy thread that
// made it and wait for the scheduler to move it, milliseconds later; so it is
// started on another processor.
bool startElsewhere(Start* start, pthread_t* thread) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  cpu_set_t others = start->allowed;
  const int current = sched_getcpu();
  if (current >= 0) CPU_CLR(current, &others);
  if (CPU_COUNT(&others) > 0) pthread_attr_setaffinity_np(&attributes, sizeof others, &others);
  const bool started = pthread_create(thread, &attributes, runWork, start) == 0;
  pthread_attr_destroy(&attributes);
  return started;
}

}  // namespace

namespace {

void* runOwnedWork(void* work) {
  auto* owned = static_cast<std::function<void()>*>(work);
  (*owned)();
  delete owned;
  return nullptr;
}

}  // namespace

bool startDetached(std::function<void()> work) {
  auto* owned = new std::function<void()>(std::move(work));
  pthread_t thread;
  if (pthread_create(&thread, nullptr, runOwnedWork, owned) != 0) {
    delete owned;
    return false;
  }
  pthread_detach(thread);
  return true;
}

void runSideBySide(const std::function<void()>& beside, const std::function<void()>& here) {
  Start start{&beside, {}};
  pthread_t thread;
  const bool started = sched_getaffinity(0, sizeof start.allowed, &start.allowed) == 0 && startElsewhere(&start, &thread);
  if (!started) beside();
  here();
  if (started) pthread_join(thread, nullptr);
}

unsigned processorCount() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  const int n = CPU_COUNT(&allowed);
  return n > 0 ? static_cast<unsigned>(n) : 1;
}

}  // namespace platform
