// Texts of the main window's title around a mail check.
#pragma once
#include <string>

namespace check {

// "Quorvel  新着メール確認中"
std::string checkRunningTitle();
// The summary at the end of a check, from its counters.
std::string checkSummaryTitle(int failureCount, int newMailCount, int spamCount);
// Receive-timer period in milliseconds (0: no timer).
unsigned receiveTimerPeriodMs(int intervalMinutes, int intervalSeconds);

}  // namespace check
