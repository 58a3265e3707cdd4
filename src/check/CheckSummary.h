// Texts of the main window's title around a mail check.
#pragma once
#include <string>

namespace check {

// "Quorvel  新着メール確認中"
std::string checkRunningTitle();
// The summary at the end of a check, from its counters; mails left on the
// server because they do not fit add "(受信できないメール N件)".
std::string checkSummaryTitle(int failureCount, int newMailCount, int spamCount, int unreceivableCount = 0);
// The check could not sign in: the grant was revoked or expired.
std::string signInNeededTitle();
// Receive-timer period in milliseconds (0: no timer).
unsigned receiveTimerPeriodMs(int intervalMinutes, int intervalSeconds);

}  // namespace check
