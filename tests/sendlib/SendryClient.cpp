// Test driver: sends the SendMailRequest stored in a file through libSendry.
//   sendry_client REQUEST_FILE [COUNT]
// Prints one result code per call.
#include <cstdio>
#include <cstdlib>

#include "sendlib/SendMailRequest.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SendMailRequest request;
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 2;
  size_t got = std::fread(&request, 1, sizeof request, f);
  std::fclose(f);
  if (got != sizeof request) return 2;
  int count = argc > 2 ? std::atoi(argv[2]) : 1;
  for (int i = 0; i < count; ++i) std::printf("%d\n", static_cast<int>(EM_SendMail(request)));
  return 0;
}
