#include "motion/MotionFiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>


namespace motion {
namespace {

uint64_t bigEndian(const unsigned char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

bool endsWith(const std::string& s, const char* tail) {
  std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

bool jpegComplete(const std::string& data) {
  return data.size() >= 4 && static_cast<unsigned char>(data[0]) == 0xFF &&
         static_cast<unsigned char>(data[1]) == 0xD8 &&
         static_cast<unsigned char>(data[data.size() - 2]) == 0xFF &&
         static_cast<unsigned char>(data[data.size() - 1]) == 0xD9;
}

bool movieComplete(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
  if (!endsWith(path, ".mp4") && !endsWith(path, ".mov")) return true;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint64_t at = 0;
  bool first = true, moov = false, whole = true;
  while (at < size) {
    unsigned char head[16];
    if (size - at < 8 || std::fseek(f, static_cast<long>(at), SEEK_SET) != 0 || std::fread(head, 1, 8, f) != 8) {
      whole = false;
      break;
    }
    uint64_t box = bigEndian(head, 4);
    std::string type(reinterpret_cast<char*>(head + 4), 4);
    if (box == 1) {
      if (std::fread(head + 8, 1, 8, f) != 8) {
        whole = false;
        break;
      }
      box = bigEndian(head + 8, 8);
    } else if (box == 0) {
      box = size - at;  // to the end of the file
    }
    if (box < 8 || box > size - at || (first && type != "ftyp")) {
      whole = false;
      break;
    }
    moov = moov || type == "moov";
    first = false;
    at += box;
  }
  std::fclose(f);
  return whole && moov;
}

int newestMovie(const std::string& listPath, int64_t sizeLimit, std::string* path) {
  path->clear();
  std::string list;
  FILE* f = std::fopen(listPath.c_str(), "rb");
  if (!f) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) list.append(buffer, n);
  std::fclose(f);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!movieComplete(*it)) continue;
    struct stat st;
    ::stat(it->c_str(), &st);
    *path = *it;
    return st.st_size <= sizeLimit ? 1 : 0;
  }
  return -1;
}

}  // namespace motion
