#include "platform/File.h"

namespace platform {

bool closeFile(UniqueFile& file) {
  FILE* f = file.release();
  return f && std::fclose(f) == 0;
}

bool readWholeFile(const char* path, std::string* data) {
  UniqueFile f = openUniqueFile(path, "rb");
  if (!f) return false;
  data->clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) data->append(buf, n);
  return !std::ferror(f.get());
}

bool writeWholeFile(const char* path, const std::string& data) {
  UniqueFile f = openUniqueFile(path, "wb");
  if (!f) return false;
  bool written = std::fwrite(data.data(), 1, data.size(), f.get()) == data.size();
  return closeFile(f) && written;
}

}  // namespace platform
