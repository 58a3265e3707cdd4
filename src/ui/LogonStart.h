// Start at logon: the HKCU Run value "Quorvel". The registry is the only
// record of the choice. A program started from the Run key works in the
// system folder, so the value names the working folder too:
//   "C:\...\quorvel.exe" /workdir "C:\..."
// Texts here are UTF-8 (a path may hold any character).
#pragma once
#include <string>
#include <vector>

namespace ui {

constexpr char kRunValueName[] = "Quorvel";
constexpr char kWorkFolderOption[] = "/workdir";

// The Run value that starts `program` in `workFolder`.
std::string logonCommandLine(const std::string& program, const std::string& workFolder);

// The arguments of a command line, split as Windows programs split theirs:
// the first (the program) up to its closing quote or a blank; the others
// with the backslash and quote rules of CommandLineToArgvW.
std::vector<std::string> splitCommandLine(const std::string& line);

// The folder after /workdir (any case) among a command line's arguments,
// the program's name not counted; empty when there is none.
std::string workFolderArgument(const std::vector<std::string>& arguments);

// Whether a Run value starts `program` (the path compared without regard
// to the case of ASCII letters, as Windows compares file names).
bool runValueStarts(const std::string& runValue, const std::string& program);

#ifdef _WIN32
// Whether the Run value exists and starts this program.
bool logonStartEnabled();
// Writes the Run value for this program in `workFolder` (Shift_JIS), or
// removes it when it starts this program; false when the registry refused.
bool setLogonStart(bool on, const std::string& workFolder);
#endif

}  // namespace ui
