// Replays the IMAP fuzzer's seed corpus and every crash it found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzTargets.h"

namespace {

TEST(ImapFuzzReplay, EveryCorpusInputRuns) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(QUORVEL_SOURCE_DIR) / "fuzz" / "imap" / "corpus" / "fuzz_imap_session";
  int inputs = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
    if (!file.is_regular_file()) continue;
    std::ifstream in(file.path(), std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.path().string());
    imapfuzz::session(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
