// Large blocks and work side by side.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/Memory.h"
#include "platform/Parallel.h"

namespace {

TEST(MemoryTest, LargeBlocksAreZeroedWritableAndAlignedToHugePages) {
  const size_t hugePage = size_t{2} << 20;
  for (size_t bytes : {size_t{1}, size_t{4096}, hugePage - 1, hugePage, 8 * hugePage + 8}) {
    auto* block = static_cast<uint8_t*>(platform::allocateLarge(bytes));
    ASSERT_NE(block, nullptr) << bytes;
    EXPECT_EQ(block[0], 0) << bytes;
    EXPECT_EQ(block[bytes - 1], 0) << bytes;
    block[0] = block[bytes - 1] = 0xA5;
    if (bytes >= hugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % hugePage, 0u) << bytes;
    }
    platform::releaseLarge(block, bytes);
  }
  EXPECT_EQ(platform::allocateLarge(0), nullptr);
}

TEST(ParallelTest, RunsBothPiecesAndReturnsWhenBothAreDone) {
  std::atomic<int> done{0};
  std::thread::id beside, here;
  platform::runSideBySide([&] { beside = std::this_thread::get_id(); ++done; },
                          [&] { here = std::this_thread::get_id(); ++done; });
  EXPECT_EQ(done.load(), 2);
  EXPECT_EQ(here, std::this_thread::get_id());
  if (platform::processorCount() >= 2) {
    EXPECT_NE(beside, here);
  }
}

}  // namespace
