#include "ui/LogonStart.h"

#include <cstddef>

namespace ui {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

// A quoted argument; backslashes before the closing quote are doubled so
// that they stay backslashes ("C:\" would otherwise swallow the quote).
std::string quoted(const std::string& text) {
  size_t trailing = 0;
  while (trailing < text.size() && text[text.size() - 1 - trailing] == '\\') ++trailing;
  return "\"" + text + std::string(trailing, '\\') + "\"";
}

}  // namespace

std::string logonCommandLine(const std::string& program, const std::string& workFolder) {
  return quoted(program) + " " + kWorkFolderOption + " " + quoted(workFolder);
}

std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0, n = line.size();
  // The program's name: no escapes.
  while (i < n && isBlank(line[i])) ++i;
  if (i == n) return out;
  std::string first;
  if (line[i] == '"') {
    size_t end = line.find('"', i + 1);
    first = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    i = end == std::string::npos ? n : end + 1;
  } else {
    while (i < n && !isBlank(line[i])) first += line[i++];
  }
  out.push_back(first);
  for (;;) {
    while (i < n && isBlank(line[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool inQuotes = false;
    while (i < n && (inQuotes || !isBlank(line[i]))) {
      size_t slashes = 0;
      while (i < n && line[i] == '\\') ++slashes, ++i;
      if (i < n && line[i] == '"') {
        // 2n backslashes and a quote: n backslashes and a quote mark;
        // 2n+1: n backslashes and a literal quote.
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else if (inQuotes && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes
          ++i;
        } else {
          inQuotes = !inQuotes;
        }
        ++i;
      } else {
        arg.append(slashes, '\\');
        if (i < n && (inQuotes || !isBlank(line[i]))) arg += line[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

std::string workFolderArgument(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i + 1 < arguments.size(); ++i)
    if (equalNoCase(arguments[i], kWorkFolderOption)) return arguments[i + 1];
  return {};
}

bool runValueStarts(const std::string& runValue, const std::string& program) {
  std::vector<std::string> args = splitCommandLine(runValue);
  return !args.empty() && !program.empty() && equalNoCase(args[0], program);
}

}  // namespace ui
