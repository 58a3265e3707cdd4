#include "ui/DropFiles.h"

#include <gtest/gtest.h>

TEST(DropFiles, HeaderThenThePathWithTwoNuls) {
  std::string block = ui::dropFilesBlock("C:\\Temp\\件名(120000000).eml");
  std::string expected("\x14\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0", 20);
  expected += "C:\\Temp\\件名(120000000).eml";
  expected.append(2, '\0');
  EXPECT_EQ(block, expected);
  // No path (nothing was prepared): the empty list.
  EXPECT_EQ(ui::dropFilesBlock(""), std::string(20, '\0').replace(0, 1, "\x14") + std::string(2, '\0'));
}
