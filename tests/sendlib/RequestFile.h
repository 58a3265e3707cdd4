// Reads a SendMailRequest stored raw in a file (written by the pytest side).
#pragma once
#include <cstdio>

#include "sendlib/SendMailRequest.h"

inline bool readRequestFile(const char* path, SendMailRequest* request) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  size_t got = std::fread(request, 1, sizeof *request, f);
  std::fclose(f);
  return got == sizeof *request;
}
