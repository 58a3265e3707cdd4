// Replays the fuzzers' seed corpora and every crash they found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzTargets.h"

namespace {

TEST(FuzzReplay, EveryCorpusInputRuns) {
  namespace fs = std::filesystem;
  fs::path root = fs::path(QUORVEL_SOURCE_DIR) / "fuzz" / "mime" / "corpus";
  for (const mimefuzz::Target& target : mimefuzz::kTargets) {
    fs::path folder = root / target.name;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    int inputs = 0;
    for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
      if (!file.is_regular_file()) continue;
      std::ifstream in(file.path(), std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      SCOPED_TRACE(file.path().string());
      target.run(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      ++inputs;
    }
    EXPECT_GT(inputs, 0) << target.name;
  }
}

}  // namespace
