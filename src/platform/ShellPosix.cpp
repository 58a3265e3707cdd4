#include "platform/Shell.h"

namespace platform {

// Natively there is no desktop shell to hand files to.
bool shellOpen(const char*) { return false; }

}  // namespace platform
