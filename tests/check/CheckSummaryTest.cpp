#include <gtest/gtest.h>

#include "check/CheckSummary.h"

namespace {

TEST(CheckSummary, TitleFollowsFailuresNewMailAndSpam) {
  struct Row {
    int failures, fresh, spam, unreceivable;
    const char* title;
  } rows[] = {
      {1, 3, 0, 0, "Quorvel  新着メール 3通ありますが 障害が発生しています(詳細は通信ログを見てください)"},
      {2, 0, 5, 1, "Quorvel  障害が発生しています(詳細は通信ログを見てください)(受信できないメール 1件)"},
      {0, 2, 1, 0, "Quorvel  新着メールが 2通あります(迷惑メール 1件)"},
      {0, 0, 0, 0, "Quorvel  新着メールはありません(迷惑メール 0件)"},
      {0, 0, 0, 2, "Quorvel  新着メールはありません(迷惑メール 0件)(受信できないメール 2件)"},
  };
  for (const Row& r : rows) EXPECT_EQ(check::checkSummaryTitle(r.failures, r.fresh, r.spam, r.unreceivable), r.title);
  EXPECT_EQ(check::checkRunningTitle(), "Quorvel  新着メール確認中");
}

TEST(CheckSummary, TimerPeriod) {
  EXPECT_EQ(check::receiveTimerPeriodMs(10, 0), 600000u);
  EXPECT_EQ(check::receiveTimerPeriodMs(0, 59), 59000u);
  EXPECT_EQ(check::receiveTimerPeriodMs(0, 0), 0u);
  EXPECT_EQ(check::receiveTimerPeriodMs(0, -5), 0u);
}

}  // namespace
