// A small streaming JSON writer producing UTF-8 from wide strings.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qvd {

inline std::string toUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

inline std::wstring fromUtf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

class Json {
 public:
  Json& beginObject() { open('{'); return *this; }
  Json& endObject() { close('}'); return *this; }
  Json& beginArray() { open('['); return *this; }
  Json& endArray() { close(']'); return *this; }

  Json& key(const char* name) {
    separate();
    quote(name);
    out_ += ':';
    afterKey_ = true;
    return *this;
  }
  Json& str(const std::wstring& w) { return raw(quoted(toUtf8(w))); }
  Json& str(const std::string& utf8) { return raw(quoted(utf8)); }
  Json& str(const char* utf8) { return raw(quoted(utf8)); }
  Json& num(long long v) { return raw(std::to_string(v)); }
  Json& unum(unsigned long long v) { return raw(std::to_string(v)); }
  Json& boolean(bool v) { return raw(v ? "true" : "false"); }
  Json& null() { return raw("null"); }
  Json& rect(const RECT& r) {
    beginArray().num(r.left).num(r.top).num(r.right).num(r.bottom);
    return endArray();
  }

  const std::string& text() const { return out_; }

 private:
  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  void open(char c) {
    separate();
    out_ += c;
    first_.push_back(true);
  }
  void close(char c) {
    out_ += c;
    first_.pop_back();
  }
  Json& raw(const std::string& s) {
    separate();
    out_ += s;
    return *this;
  }
  void quote(const std::string& s) { out_ += quoted(s); }
  static std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (unsigned char c : s) {
      switch (c) {
        case '"': q += "\\\""; break;
        case '\\': q += "\\\\"; break;
        case '\n': q += "\\n"; break;
        case '\r': q += "\\r"; break;
        case '\t': q += "\\t"; break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
          } else {
            q += static_cast<char>(c);
          }
      }
    }
    return q + "\"";
  }

  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

}  // namespace qvd
