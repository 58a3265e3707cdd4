#include "pop3/Pop3SessionLoop.h"

#include "platform/Clock.h"

namespace pop3 {

int runSession(Pop3Session& session, const Pop3Account& account) {
  int code = session.open(account);
  if (code) return code;
  while (session.isOpen()) {
    int ready = session.socket().waitReadable(200);
    if (ready > 0)
      session.onSocketEvent(kFdRead);
    else if (ready < 0)
      session.onSocketEvent(kFdClose);
    else
      session.onIdleCheck(platform::monotonicMs());
  }
  return 0;
}

}  // namespace pop3
