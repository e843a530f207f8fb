#include "platform/Fatal.h"

#include <cstdlib>

void FatalExit(int status, const std::string& message, std::FILE* stream) {
  std::fputs(message.c_str(), stream);
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}
