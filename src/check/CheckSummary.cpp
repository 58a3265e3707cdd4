#include "check/CheckSummary.h"

#include <cstdio>

#include "config/AppSettings.h"

namespace check {

std::string checkRunningTitle() {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s  新着メール確認中", config::kProductName);
  return buf;
}

std::string checkSummaryTitle(int failureCount, int newMailCount, int spamCount, int unreceivableCount) {
  char buf[320];
  if (failureCount > 0 && newMailCount > 0)
    std::snprintf(buf, sizeof buf,
                  "%s  新着メール %d通ありますが 障害が発生しています(詳細は通信ログを見てください)",
                  config::kProductName, newMailCount);
  else if (failureCount > 0)
    std::snprintf(buf, sizeof buf, "%s  障害が発生しています(詳細は通信ログを見てください)",
                  config::kProductName);
  else if (newMailCount > 0)
    std::snprintf(buf, sizeof buf, "%s  新着メールが %d通あります(迷惑メール %d件)", config::kProductName,
                  newMailCount, spamCount);
  else
    std::snprintf(buf, sizeof buf, "%s  新着メールはありません(迷惑メール %d件)", config::kProductName,
                  spamCount);
  std::string title = buf;
  if (unreceivableCount > 0) {
    std::snprintf(buf, sizeof buf, "(受信できないメール %d件)", unreceivableCount);
    title += buf;
  }
  return title;
}

std::string signInNeededTitle() {
  return std::string(config::kProductName) + "  サインインが必要です(設定のサインインからやり直してください)";
}

unsigned receiveTimerPeriodMs(int intervalMinutes, int intervalSeconds) {
  long long seconds = static_cast<long long>(intervalSeconds) + 60LL * intervalMinutes;
  if (seconds <= 0) return 0;
  if (seconds > 0xFFFFFFFFLL / 1000) seconds = 0xFFFFFFFFLL / 1000;
  return static_cast<unsigned>(seconds * 1000);
}

}  // namespace check
