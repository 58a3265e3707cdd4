// The arrivalMark of a stored mail's index record: what it is and, for a
// command mail, how its processing ended. The mail list shows it as the
// status column.
#pragma once
#include <cstdint>

namespace mime {

enum ArrivalMark : int32_t {
  kMarkNone = 0,        // a fresh parse, or a record loaded from the index
  kMarkGeneral = 101,   // an ordinary mail
  kMarkWaiting = 102,   // a command mail not yet processed
  kMarkRejected = 103,  // processed: no command, or not allowed
  kMarkFailed = 104,    // processed: a command or the reply failed
  kMarkDone = 105,      // processed
  kMarkRefused = 106,   // a guard refused the mail; nothing of it ran
};

}  // namespace mime
