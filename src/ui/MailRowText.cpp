#include "ui/MailRowText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Text.h"

namespace ui {
namespace {

struct Status {
  int32_t mark;
  const char* text;
};
const Status kStatuses[] = {
    {mime::kMarkGeneral, "一 般"}, {mime::kMarkWaiting, "待 機"}, {mime::kMarkRejected, "無 効"},
    {mime::kMarkFailed, "失 敗"},  {mime::kMarkDone, "完 了"},    {mime::kMarkRefused, "拒 否"},
};
constexpr char kNoStatus[] = "-----";
constexpr char kNoAttachment[] = "なし";
constexpr char kMultipart[] = "マルチ";

int32_t decimal(const std::string& text) {
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

std::string field(const char* text, size_t width) {
  return platform::fieldText(text, width);
}

}  // namespace

std::string statusText(int32_t arrivalMark) {
  for (const Status& s : kStatuses)
    if (s.mark == arrivalMark) return s.text;
  return kNoStatus;
}

int32_t statusFromText(const std::string& text) {
  for (const Status& s : kStatuses)
    if (text == s.text) return s.mark;
  return 0;
}

std::string attachmentText(int32_t partCount) {
  if (partCount == 0) return kNoAttachment;
  if (partCount == 1) return kMultipart;
  return std::to_string(partCount - 1);
}

int32_t attachmentFromText(const std::string& text) {
  if (text == kNoAttachment) return 0;
  if (text == kMultipart) return 1;
  return decimal(text) + 1;
}

std::string displayDate(const char* date) {
  std::string text = platform::fieldText(date, 99);
  if (text.size() < 25) return text;
  const char* p = text.c_str();
  const char* end = p + text.size();
  if (p[3] == ',') p += 5;
  char day[3] = {};
  if (p[0] == ' ') {
    day[0] = '0', day[1] = p[1];
    p += 3;
  } else if (p[1] == ' ') {
    day[0] = '0', day[1] = p[0];
    p += 2;
  } else {
    day[0] = p[0], day[1] = p[1];
    p += 3;
  }
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  int month = 0;
  for (int m = 0; m < 12 && end - p >= 3; ++m) {
    bool same = true;
    for (int k = 0; k < 3; ++k)
      same = same && (p[k] & ~0x20) == kMonths[m][k];
    if (same) {
      month = m + 1;
      break;
    }
  }
  // Fixed offsets from the month; a text cut short gives shorter pieces.
  auto piece = [&](size_t at, size_t length) {
    size_t left = static_cast<size_t>(end - p);
    if (at >= left) return std::string();
    return std::string(p + at, std::min(length, left - at));
  };
  std::string zone = piece(18, std::string::npos);
  if (zone.size() > 20) zone.resize(19);
  char out[160];
  std::snprintf(out, sizeof out, "%s/%02d/%s %s %s", piece(4, 4).c_str(), month, day,
                piece(9, 5).c_str(), zone.c_str());
  return out;
}

RowTexts rowTexts(const mime::MailIndexEntry& e) {
  return RowTexts{
      statusText(e.arrivalMark),
      displayDate(e.date),
      field(e.subject, sizeof e.subject),
      field(e.from, sizeof e.from),
      field(e.to, sizeof e.to),
      field(e.mailer, sizeof e.mailer),
      field(e.sender, sizeof e.sender),
      attachmentText(e.partCount),
      std::to_string(e.mailNumber),
      std::to_string(e.logOffset),
      std::to_string(e.mimeVersionAt),
      std::to_string(e.contentTypeAt),
      std::to_string(e.transferEncodingAt),
      std::to_string(e.headerLength),
      std::to_string(e.firstPartStart),
      std::to_string(e.firstPartEnd),
      std::to_string(e.mailEnd),
      std::to_string(e.priority),
  };
}

mime::MailIndexEntry entryFromRow(const RowTexts& row) {
  mime::MailIndexEntry e;
  std::memset(&e, 0, sizeof e);
  e.arrivalMark = statusFromText(row[0]);
  platform::copyField(e.date, row[1].c_str());
  platform::copyField(e.subject, row[2].c_str());
  platform::copyField(e.from, row[3].c_str());
  platform::copyField(e.to, row[4].c_str());
  platform::copyField(e.mailer, row[5].c_str());
  platform::copyField(e.sender, row[6].c_str());
  e.partCount = attachmentFromText(row[7]);
  e.mailNumber = decimal(row[8]);
  e.logOffset = decimal(row[9]);
  e.mimeVersionAt = decimal(row[10]);
  e.contentTypeAt = decimal(row[11]);
  e.transferEncodingAt = decimal(row[12]);
  e.headerLength = decimal(row[13]);
  e.firstPartStart = decimal(row[14]);
  e.firstPartEnd = decimal(row[15]);
  e.mailEnd = decimal(row[16]);
  e.priority = decimal(row[17]);
  return e;
}

}  // namespace ui
