// Test driver: sends the SendMailRequest stored in a file through libSendry.
//   sendry_client REQUEST_FILE [COUNT]
// Prints one result code per call.
#include <cstdio>
#include <cstdlib>

#include "RequestFile.h"
#include "sendlib/Sendry.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SendMailRequest request;
  if (!readRequestFile(argv[1], &request)) return 2;
  int count = argc > 2 ? std::atoi(argv[2]) : 1;
  for (int i = 0; i < count; ++i) std::printf("%d\n", static_cast<int>(EM_SendMail(request)));
  return 0;
}
