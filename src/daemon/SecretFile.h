// Passwords kept in files of their own, readable only by the service user.
#pragma once
#include <string>

namespace service {

// Reads the first line of the file (without its line end). Refused, with
// a message for the administrator: a file that cannot be opened, is not a
// regular file, can be read or written by others than its owner and group
// (world-readable), or whose first line is empty.
bool readSecretFile(const std::string& path, std::string* secret, std::string* error);

}  // namespace service
