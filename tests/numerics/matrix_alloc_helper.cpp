// Runs one matrix sizing path into an allocation failure; the matrix code must end
// the process with its message and status -1. Prints "survived" if it does not.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

namespace {

// Caps the address space a little above what the process uses now, so that the
// next large allocation fails with std::bad_alloc.
void CapAddressSpace(long long extraBytes) {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0;
  statm >> pages;
  rlimit limit;
  limit.rlim_cur = static_cast<rlim_t>(pages * 4096 + extraBytes);
  limit.rlim_max = RLIM_INFINITY;
  setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "construct") {
    Matrix<double> m(65536, 65536);  // more elements than an int index reaches
  } else if (mode == "setsize") {
    VectorQo<float> v;
    v.SetSize(70000, 70000);
  } else if (mode == "copy") {
    Matrix<double> source(2000, 2000);  // 32 MB
    CapAddressSpace(16 << 20);
    Matrix<double> copy(source);
  } else if (mode == "assign") {
    Matrix<double> source(2000, 2000);
    Matrix<double> target(2, 2);
    CapAddressSpace(16 << 20);
    target = source;
  } else {
    return 2;
  }
  std::printf("survived\n");
  return 0;
}
