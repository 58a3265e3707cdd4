// Base64 for SASL messages (RFC 4648 section 4) and its URL form without
// padding for PKCE (section 5).
#pragma once
#include <string>

namespace oauth {

std::string base64Encode(const std::string& data);
std::string base64UrlEncode(const std::string& data);
// Decodes the standard alphabet, skipping blanks; false on any other byte.
bool base64Decode(const std::string& text, std::string* data);

}  // namespace oauth
