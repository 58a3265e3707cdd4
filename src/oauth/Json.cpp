#include "oauth/Json.h"

#include <cerrno>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace oauth {

std::string JsonObject::text(const std::string& key) const {
  auto it = members.find(key);
  return it == members.end() ? std::string() : it->second;
}

bool JsonObject::integer(const std::string& key, int64_t* value) const {
  auto it = members.find(key);
  if (it == members.end() || it->second.empty()) return false;
  const char* start = it->second.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(start, &end, 10);
  if (errno || *end != '\0') return false;
  *value = v;
  return true;
}

bool parseJsonObject(const std::string& text, JsonObject* object) {
  object->members.clear();
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return false;
  for (auto it = json.begin(); it != json.end(); ++it) {
    const nlohmann::json& v = it.value();
    if (v.is_string())
      object->members[it.key()] = v.get<std::string>();
    else if (v.is_number_integer())
      object->members[it.key()] = std::to_string(v.get<int64_t>());
    else if (v.is_number_unsigned())
      object->members[it.key()] = std::to_string(v.get<uint64_t>());
    else if (v.is_number_float() && v.get<double>() > -9e18 && v.get<double>() < 9e18)
      object->members[it.key()] = std::to_string(static_cast<int64_t>(v.get<double>()));
    else if (v.is_boolean())
      object->members[it.key()] = v.get<bool>() ? "true" : "false";
  }
  return true;
}

}  // namespace oauth
