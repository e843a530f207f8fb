#include <cstdio>
#include <exception>
#include <new>

#include "app/ProgramMain.h"
#include "platform/ConsoleStreams.h"
#include "platform/Fatal.h"
#include "platform/InterruptWatch.h"
#include "volume/HeapMatrix3D.h"

namespace {
// Made at start: after an allocation failure, the line must not need memory.
const char* const kOutOfMemory = "Out of memory: the run needs more memory than is available\n";
}  // namespace

// An allocation that fails anywhere ends the run with one line and status 1, never an
// abort; so does any other exception that no component handled. An interrupt ends it
// through the same fatal path, after the cleanups of the work under way.
int main(int argc, char** argv) {
  TrackConsoleStreams();  // before anything is printed
  ReserveMemoryForFatalEnd();
  StartInterruptWatch();  // before any other thread: every thread started later inherits its signal mask
  SetVolumeAllocationFailureFatal(true);
  int status = 1;
  try {
    status = ProgramMain(argc, argv);
  } catch (const std::bad_alloc&) {
    FatalExit(1, kOutOfMemory);
  } catch (const std::exception& e) {
    FatalExit(1, std::string("Internal error: ") + e.what() + "\n");
  }
  EndInterruptWatch();
  return status;
}
