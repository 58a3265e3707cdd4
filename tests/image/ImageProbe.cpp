// Runs the bitmap buffer and the codec binding on files, for the tests that
// compare the Windows build (under Wine) with the native one and with
// reference decoders. Reads one command per line from a script file:
//   load <in> <orientation> <out.raw>      pixels as stored in the buffer
//   save24 <in> <orientation> <out.jpg>    load, then save24 from the buffer
//   jstream <in> <orientation> <out.jpg> <quality>
//   rotate <in> <out.jpg>                  load top first, rotate90, save24
// and prints one result line per command; message boxes print as
// "message <text in hex> <flags in hex>".
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/DibImage.h"
#include "image/ImageFailure.h"
#include "image/Imgvane.h"
#include "image/Pixels.h"
#include "platform/Hooks.h"

namespace {

// A failure the picture work notes; a message box would print "box".
void onFailure(const char* text) {
  std::printf("failure ");
  for (const char* p = text; *p; ++p) std::printf("%02X", static_cast<unsigned char>(*p));
  std::printf("\n");
}

int onMessageBox(const char*, const char*, unsigned) {
  std::printf("box\n");
  return platform::kIdOk;
}

bool writeBytes(const std::string& path, const void* data, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

std::string run(std::istringstream& args) {
  std::string command, in, out;
  int orientation = -1, quality = 100;
  args >> command >> in;
  image::DibPicture picture;
  if (command == "rotate") {
    args >> out;
    if (!picture.load(nullptr, in.c_str(), -1)) return "fail load";
    image::DibImage turned;
    if (!turned.create(nullptr, picture.height, picture.width, -1)) return "fail create";
    image::rotate90(turned.pixels, picture.pixels, picture.width, picture.height);
    return image::imgvane::save24(out.c_str(), turned.deviceContext, turned.width, turned.height, 100)
               ? "saved " + std::to_string(turned.width) + " " + std::to_string(turned.height)
               : "fail save24";
  }
  args >> orientation >> out >> quality;
  if (!picture.load(nullptr, in.c_str(), orientation)) return "fail load";
  const std::string size = std::to_string(picture.width) + " " + std::to_string(picture.height);
  if (command == "load")
    return writeBytes(out, picture.pixels, static_cast<size_t>(picture.byteSize)) ? "ok " + size : "fail write";
  if (command == "save24")
    return image::imgvane::save24(out.c_str(), picture.deviceContext, picture.width, picture.height, 100)
               ? "saved " + size
               : "fail save24";
  if (command == "jstream") {
    std::vector<uint8_t> stream;
    if (!image::imgvane::getJstream(picture.deviceContext, picture.width, picture.height, quality, &stream))
      return "fail jstream";
    return writeBytes(out, stream.data(), stream.size()) ? "stream " + std::to_string(stream.size()) : "fail write";
  }
  return "unknown command";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: image_probe SCRIPT\n");
    return 2;
  }
  platform::setMessageBoxHook(onMessageBox);
  image::setFailureHook(onFailure);
  std::ifstream script(argv[1]);
  std::string line;
  while (std::getline(script, line)) {
    if (line.empty()) continue;
    std::istringstream args(line);
    std::printf("%s\n", run(args).c_str());
    std::fflush(stdout);
  }
  return 0;
}
