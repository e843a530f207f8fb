// Test-only driver of the volume readers and writers.
//
//   volume_tool read NAME [DUMP]   ReadVolume(NAME) into a 16-bit volume; prints
//                                  "dim0 dim1 dim2"; saves it as DUMP (layout by extension)
//   volume_tool write16 SRC DEST   loads the 16-bit volume file SRC, WriteAnalyze16(DEST)
//   volume_tool write8 SRC DEST    loads the byte volume file SRC, WriteVolume(DEST)
//
// Exit status 0 when the step did its job, 1 otherwise (with one line on stderr).
#include <cstdio>
#include <string>

#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace {

int Fail(const char* what, const std::string& name) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s %s\n", what, name.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "read" && (argc == 3 || argc == 4)) {
    HeapMatrix3D<short> volume;
    if (!ReadVolume(argv[2], volume)) return Fail("cannot read volume", argv[2]);
    std::printf("%d %d %d\n", volume.dim0(), volume.dim1(), volume.dim2());
    if (argc == 4 && !volume.Save(argv[3])) return Fail("cannot write volume", argv[3]);
    return 0;
  }
  if (command == "write16" && argc == 4) {
    HeapMatrix3D<short> volume;
    if (!volume.Load(argv[2])) return Fail("cannot read volume", argv[2]);
    if (WriteAnalyze16(argv[3], volume) != 1) return Fail("cannot write volume", argv[3]);
    return 0;
  }
  if (command == "write8" && argc == 4) {
    HeapMatrix3D<unsigned char> volume;
    if (!volume.Load(argv[2])) return Fail("cannot read volume", argv[2]);
    if (!WriteVolume(argv[3], volume)) return Fail("cannot write volume", argv[3]);
    return 0;
  }
  std::fprintf(stderr, "usage: volume_tool read NAME [DUMP] | write16 SRC DEST | write8 SRC DEST\n");
  return 1;
}
