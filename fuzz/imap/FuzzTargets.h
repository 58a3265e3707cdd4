// The IMAP fuzz target as a plain function, so that the fuzzer and the
// native replay test run the same code on the same inputs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace imapfuzz {

// The first byte chooses the piece size and whether the session stays
// connected; the rest is what the server sends. Traps when a message is
// marked deleted that was not handed on first.
void session(const uint8_t* data, size_t size);

}  // namespace imapfuzz
