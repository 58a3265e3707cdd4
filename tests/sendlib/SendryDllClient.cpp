// Windows test driver: loads Sendry.dll by name, binds both export names and
// sends the SendMailRequest stored in a file once through each.
//   sendry_dll_client REQUEST_FILE
// Prints "same" when both names give one address, then the two result codes.
#include <windows.h>

#include <cstdio>

#include "RequestFile.h"
#include "sendlib/SendMailRequest.h"

using SendMailFunction = int32_t (*)(SendMailRequest);

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SendMailRequest request;
  if (!readRequestFile(argv[1], &request)) return 2;
  HMODULE library = LoadLibraryA("Sendry.dll");
  if (!library) return 3;
  // Through void* so the compiler does not judge the function type of FARPROC.
  auto plain = reinterpret_cast<SendMailFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "EM_SendMail")));
  auto decorated = reinterpret_cast<SendMailFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "_EM_SendMail@12176")));
  if (!plain || !decorated) return 4;
  std::printf("%s\n", plain == decorated ? "same" : "different");
  std::printf("%d\n", static_cast<int>(plain(request)));
  std::printf("%d\n", static_cast<int>(decorated(request)));
  FreeLibrary(library);
  return 0;
}
