// The top level of a JSON object (token and device-authorization answers,
// SASL error challenges), through nlohmann::json.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace oauth {

struct JsonObject {
  // Every member whose value is a string, a number or a boolean, as text
  // (numbers in decimal, booleans "true"/"false"); nested values are left out.
  std::map<std::string, std::string> members;

  bool has(const std::string& key) const { return members.count(key) != 0; }
  std::string text(const std::string& key) const;
  // A whole number (also one given as a string); false when missing or not one.
  bool integer(const std::string& key, int64_t* value) const;
};

// False unless `text` is one well-formed JSON object.
bool parseJsonObject(const std::string& text, JsonObject* object);

}  // namespace oauth
