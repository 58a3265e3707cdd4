#include "ui/DropFiles.h"

#include <gtest/gtest.h>

TEST(DropFiles, HeaderThenTheWidePathWithTwoNuls) {
  std::string header("\x14\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\x01\0\0\0", 20);
  EXPECT_EQ(ui::dropFilesBlock(u"C:\\件.eml"),
            header + std::string("C\0:\0\\\0\xF6\x4E.\0e\0m\0l\0\0\0\0\0", 20));
  // No path (nothing was prepared): the empty list.
  EXPECT_EQ(ui::dropFilesBlock(u""), header + std::string(4, '\0'));
}
