// The message box nobody answers: questions are declined.
#include "platform/Hooks.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageBoxWithoutHook, DeclinesEveryQuestion) {
  platform::setMessageBoxHook(nullptr);
  struct Case {
    unsigned flags;
    int answer;
  } cases[] = {
      {platform::kMbYesNo | platform::kMbIconExclamation | platform::kMbJapanese, platform::kIdNo},
      {platform::kMbYesNoCancel | platform::kMbIconExclamation, platform::kIdCancel},
      {platform::kMbOkCancel, platform::kIdCancel},
      {platform::kMbOk | platform::kMbIconExclamation, platform::kIdOk},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::messageBox("削除しますか？", "Quorvel", c.flags), c.answer) << c.flags;
}

}  // namespace
