#include "platform/InterruptWatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "platform/Fatal.h"

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer refuses new threads after a fork
namespace {

void Mark(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) close(fd);
}

// Sends `signal` to the process and gives the watch time to end it.
void SignalSelfAndWait(int signal) {
  kill(getpid(), signal);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

}  // namespace

// Each watched signal ends the run with 128 + its number and its line, after the
// registered cleanups; a signal ignored before the watch starts stays ignored; once the
// watch has ended, a signal no longer ends the run.
TEST(InterruptWatch, EndsTheRunThroughTheFatalPath) {
  TempFolder tmp;
  const std::string mark = tmp.file("cleaned");
  const struct Case {
    const char* name;
    int signal;
    bool ignoredBefore;
    bool endedBefore;
    int status;
    std::string out;
    bool cleaned;
  } cases[] = {
      {"SIGINT", SIGINT, false, false, 130, "Interrupted by SIGINT: the run stopped before finishing its job\n", true},
      {"SIGTERM", SIGTERM, false, false, 143, "Interrupted by SIGTERM: the run stopped before finishing its job\n",
       true},
      {"SIGHUP", SIGHUP, false, false, 129, "Interrupted by SIGHUP: the run stopped before finishing its job\n", true},
      {"SIGHUP ignored, as under nohup", SIGHUP, true, false, 121, "", false},
      {"SIGINT after the end of the watch", SIGINT, false, true, 121, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(mark.c_str());
    const ProcessResult r = RunInChild([&] {
      if (c.ignoredBefore) signal(c.signal, SIG_IGN);
      StartInterruptWatch();
      FatalCleanup cleanup([&] { Mark(mark); });
      if (c.endedBefore) EndInterruptWatch();
      SignalSelfAndWait(c.signal);
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(access(mark.c_str(), F_OK) == 0, c.cleaned);
  }
}
#endif
