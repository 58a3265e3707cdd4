// Reads a request record stored raw in a file (written by the pytest side).
#pragma once
#include <cstdio>

template <typename Record>
bool readRequestFile(const char* path, Record* request) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  size_t got = std::fread(request, 1, sizeof *request, f);
  std::fclose(f);
  return got == sizeof *request;
}
