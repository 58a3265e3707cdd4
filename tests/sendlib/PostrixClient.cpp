// Test driver: sends the ImageMailRequest stored in a file through Postrix
// and prints the result code. Natively it is linked against libPostrix; on
// Windows it loads Postrix.dll by name, checks that both export names give
// one address (printing "same"), and calls it.
//   postrix_client REQUEST_FILE
#include <cstdio>

#include "RequestFile.h"
#include "sendlib/image/ImageMailRequest.h"

#ifdef _WIN32
#include <windows.h>

using SendMailFunction = int32_t (*)(ImageMailRequest);

int main(int argc, char** argv) {
  ImageMailRequest request;
  if (argc < 2 || !readRequestFile(argv[1], &request)) return 2;
  HMODULE library = LoadLibraryA("Postrix.dll");
  if (!library) return 3;
  // Through void* so the compiler does not judge the function type of FARPROC.
  auto plain = reinterpret_cast<SendMailFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "EM_SendMail")));
  auto decorated = reinterpret_cast<SendMailFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "_EM_SendMail@2968")));
  if (!plain || !decorated) return 4;
  std::printf("%s\n%d\n", plain == decorated ? "same" : "different", static_cast<int>(decorated(request)));
  FreeLibrary(library);
  return 0;
}
#else
#include "sendlib/image/Postrix.h"

int main(int argc, char** argv) {
  ImageMailRequest request;
  if (argc < 2 || !readRequestFile(argv[1], &request)) return 2;
  std::printf("%d\n", static_cast<int>(EM_SendMail(request)));
  return 0;
}
#endif
