// The text forms of a mail-list row: status and attachment texts, the date
// for display, and the 18 columns of a MailIndexEntry both ways.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "mime/ArrivalMark.h"
#include "mime/MailIndexEntry.h"

namespace ui {

constexpr int kColumnCount = 18;
constexpr int kVisibleColumnCount = 8;
using RowTexts = std::array<std::string, kColumnCount>;

std::string statusText(int32_t arrivalMark);
int32_t statusFromText(const std::string& text);
std::string attachmentText(int32_t partCount);
int32_t attachmentFromText(const std::string& text);
// "Sun, 7 Dec 2008 09:05:03 +0900" -> "2008/12/07 09:05 +0900"; texts
// shorter than 25 bytes unchanged.
std::string displayDate(const char* date);

RowTexts rowTexts(const mime::MailIndexEntry& entry);
// Rebuilds an entry from a row; `date` holds the display form.
mime::MailIndexEntry entryFromRow(const RowTexts& row);

}  // namespace ui
