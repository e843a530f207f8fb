#include "platform/SystemInfo.h"

#include <ctime>
#include <filesystem>

std::string CurrentFolder() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::current_path(ec);
  return ec ? std::string() : p.string();
}

double ProcessorMillis() { return std::clock() * 1000.0 / CLOCKS_PER_SEC; }
