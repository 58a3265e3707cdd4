// Marks a saved file as downloaded (run under Wine by test_zone_wine.py):
// writes "<folder>\添付.txt", marks it and a file that does not exist, and
// prints "mark N" and "missing N" with the answers.
#include <cstdio>
#include <string>

#include "platform/File.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string path = std::string(argv[1]) + "\\添付.txt";
  if (!platform::writeWholeFile(path.c_str(), "data")) return 1;
  std::printf("mark %d\n", platform::markFromInternet(path.c_str()) ? 1 : 0);
  std::string missing = std::string(argv[1]) + "\\missing.txt";
  std::printf("missing %d\n", platform::markFromInternet(missing.c_str()) ? 1 : 0);
  return 0;
}
