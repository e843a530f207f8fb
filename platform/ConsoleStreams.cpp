#include "platform/ConsoleStreams.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

struct Console {
  int fd;
  std::FILE* stream = nullptr;
  // Order of the last write that reached the file (0: none yet), and whether its last
  // byte left a line open. Written under the stream's lock, read by the fatal end.
  std::atomic<unsigned long long> lastWrite{0};
  std::atomic<bool> lineOpen{false};
  char buffer[BUFSIZ] = {};
};

Console gOut{1};
Console gErr{2};
std::atomic<unsigned long long> gWrites{0};
bool gOneFile = false;  // stdout and stderr write to the same file

// Writes the whole block as the library's own streams do. A write that fails (a reader
// that is gone, a full disk, a size limit, the fatal end's deadline) ends the block: the
// stream then reports the error, and the rest of the block is lost.
ssize_t WriteBlock(void* cookie, const char* data, size_t size) {
  Console& console = *static_cast<Console*>(cookie);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(console.fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done == 0) return -1;
  console.lineOpen.store(data[done - 1] != '\n');
  console.lastWrite.store(++gWrites);
  return static_cast<ssize_t>(done);
}

// The buffering the C library chooses for a stream on `fd`: lines on a terminal, else
// blocks of the file's block size (at most BUFSIZ).
bool Track(Console& console, bool unbuffered) {
  struct stat st {};
  if (fstat(console.fd, &st) != 0) return false;
  cookie_io_functions_t io{};
  io.write = WriteBlock;
  std::FILE* stream = fopencookie(&console, "w", io);
  if (stream == nullptr) return false;
  int status;
  if (unbuffered) {
    status = setvbuf(stream, nullptr, _IONBF, 0);
  } else {
    const bool terminal = S_ISCHR(st.st_mode) && isatty(console.fd);
    const size_t size = st.st_blksize > 0 && st.st_blksize < BUFSIZ ? static_cast<size_t>(st.st_blksize) : BUFSIZ;
    status = setvbuf(stream, console.buffer, terminal ? _IOLBF : _IOFBF, size);
  }
  if (status != 0) {
    std::fclose(stream);
    return false;
  }
  console.stream = stream;
  return true;
}

}  // namespace

void TrackConsoleStreams() {
  if (gOut.stream != nullptr || gErr.stream != nullptr) return;
  struct stat out {};
  struct stat err {};
  gOneFile = fstat(1, &out) == 0 && fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
  std::fflush(stdout);
  if (Track(gOut, false)) stdout = gOut.stream;
  if (Track(gErr, true)) stderr = gErr.stream;
}

bool ConsoleLineOpen(std::FILE* stream) {
  const Console* console = stream == nullptr               ? nullptr
                           : stream == gOut.stream         ? &gOut
                           : stream == gErr.stream         ? &gErr
                                                           : nullptr;
  if (console == nullptr) return false;
  const Console& other = console == &gOut ? gErr : gOut;
  if (gOneFile && other.stream != nullptr && other.lastWrite.load() > console->lastWrite.load()) console = &other;
  return console->lastWrite.load() != 0 && console->lineOpen.load();
}
