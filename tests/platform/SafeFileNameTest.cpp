#include <gtest/gtest.h>

#include <string>

#include "platform/SafeFileName.h"

namespace {

TEST(SafeFileName, DeviceNamesGetThePrefixOthersStay) {
  const struct {
    const char* name;
    const char* safe;
  } cases[] = {
      {"con", "_con"},
      {"NUL.txt", "_NUL.txt"},
      {"Aux.tar.gz", "_Aux.tar.gz"},
      {"prn", "_prn"},
      {"COM1.jpg", "_COM1.jpg"},
      {"lpt9", "_lpt9"},
      {"con .txt", "_con .txt"},  // blanks before the first dot do not count
      {"nul:stream", "_nul:stream"},
      {"con.", "_con"},  // trailing dots and blanks go first
      {"aux . .", "_aux"},
      {"report.txt. ", "report.txt"},
      {"console.txt", "console.txt"},
      {"xcon.txt", "xcon.txt"},
      {"con_1.txt", "con_1.txt"},
      {".con", ".con"},
      {"COM0.txt", "COM0.txt"},
      {"LPT10", "LPT10"},
      {"COM", "COM"},
      {"ＣＯＮ.txt", "ＣＯＮ.txt"},  // full-width letters and digits are no device
      {"COM１", "COM１"},
      {"COMｹ.txt", "COMｹ.txt"},  // B9: half-width katakana here, not "¹"
      {"LPTｲ", "LPTｲ"},
      {"..", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::safeFileName(c.name), c.safe) << c.name;
}

TEST(SafeFileName, SuperscriptDigitsNameDevicesInUtf16) {
  const struct {
    std::u16string name;
    bool device;
  } cases[] = {
      {u"COM\u00B9", true},   {u"lpt\u00B2.txt", true}, {u"Com\u00B3 .x", true}, {u"COM\u2074", false},
      {u"COM\uFF79", false},  {u"LPT\u00B9\u00B9", false}, {u"AUX", true},       {u"AUXX", false},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::namesDevice(c.name), c.device) << c.name.size();
}

}  // namespace
