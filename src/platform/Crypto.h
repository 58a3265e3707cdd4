// Small cryptographic services of the system: SHA-256, random bytes and
// data protected for the current user (DPAPI on Windows; natively the data
// as it is, kept by the caller in a file only its owner can read).
#pragma once
#include <string>

namespace platform {

// The 32-byte digest.
std::string sha256(const std::string& data);
// `count` bytes from the system's cryptographic generator; false when it fails.
bool randomBytes(size_t count, std::string* out);
// CryptProtectData / CryptUnprotectData for the current user.
bool protectData(const std::string& plain, std::string* sealed);
bool unprotectData(const std::string& sealed, std::string* plain);
// Writes a file that only the current user may read (0600 natively; on
// Windows the file's default protection), replacing it whole.
bool writePrivateFile(const char* path, const std::string& data);

}  // namespace platform
