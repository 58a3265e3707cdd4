#include "ui/LogonStart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(LogonStart, SplitsCommandLinesAsWindowsDoes) {
  struct Row { const char* line; Args args; } rows[] = {
      {R"("C:\Program Files\q.exe" /workdir "C:\My Folder")", {R"(C:\Program Files\q.exe)", "/workdir", R"(C:\My Folder)"}},
      {R"(q.exe a  b	c)", {"q.exe", "a", "b", "c"}},
      // backslashes before a quote: 2n -> n and a quote mark, 2n+1 -> n and a literal quote
      {R"(q.exe "C:\\" x)", {"q.exe", R"(C:\)", "x"}},
      {R"(q.exe a\\\"b)", {"q.exe", R"(a\"b)"}},
      {R"(q.exe a\b\\c)", {"q.exe", R"(a\b\\c)"}},
      {R"(q.exe "a ""b"" c")", {"q.exe", R"(a "b" c)"}},
      {R"(q.exe "")", {"q.exe", ""}},
      // the program's name takes no escapes
      {R"("C:\dir\"q.exe)", {R"(C:\dir\)", "q.exe"}},
      {"  ", {}},
  };
  for (const Row& r : rows) EXPECT_EQ(ui::splitCommandLine(r.line), r.args) << r.line;
}

TEST(LogonStart, RunValueGivesProgramAndFolderBack) {
  // Non-ASCII names; a folder at a drive's root keeps its backslash.
  const char* folders[] = {R"(C:\Users\太郎\AppData\Local\Programs\Quorvel)", R"(D:\)", R"(C:\with space\)"};
  for (const char* folder : folders) {
    std::string program = R"(C:\Users\太郎\AppData\Local\Programs\Quorvel\quorvel.exe)";
    std::string line = ui::logonCommandLine(program, folder);
    Args args = ui::splitCommandLine(line);
    ASSERT_EQ(args.size(), 3u) << line;
    EXPECT_EQ(args[0], program);
    EXPECT_EQ(ui::workFolderArgument(args), folder) << line;
    EXPECT_TRUE(ui::runValueStarts(line, program));
  }
  EXPECT_EQ(ui::logonCommandLine(R"(C:\Q\quorvel.exe)", R"(C:\Q)"), R"("C:\Q\quorvel.exe" /workdir "C:\Q")");
}

TEST(LogonStart, WorkFolderOnlyFromTheOption) {
  struct Row { Args args; const char* folder; } rows[] = {
      {{"q.exe", "/WorkDir", R"(C:\A)"}, R"(C:\A)"},
      {{"q.exe", "/workdir"}, ""},               // no folder follows
      {{"/workdir", R"(C:\A)"}, ""},             // the program's own name is no option
      {{"q.exe", "-workdir", R"(C:\A)"}, ""},
      {{}, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(ui::workFolderArgument(r.args), r.folder);
}

TEST(LogonStart, RunValueStartsOnlyTheSameProgram) {
  struct Row { const char* value; bool starts; } rows[] = {
      {R"("c:\q\QUORVEL.EXE" /workdir "c:\q")", true},  // file names ignore case
      {R"(C:\Q\quorvel.exe)", true},
      {R"("C:\Other\quorvel.exe" /workdir "C:\Other")", false},
      {"", false},
  };
  for (const Row& r : rows) EXPECT_EQ(ui::runValueStarts(r.value, R"(C:\Q\quorvel.exe)"), r.starts) << r.value;
  EXPECT_FALSE(ui::runValueStarts(R"("" x)", ""));
}

}  // namespace
