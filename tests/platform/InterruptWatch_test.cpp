#include "platform/InterruptWatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "platform/Fatal.h"

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer refuses new threads after a fork
namespace {

// Appends `line` to the file with one write, safe from any thread.
void AppendMark(const std::string& path, const char* line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const ssize_t written = write(fd, line, std::char_traits<char>::length(line));
  static_cast<void>(written);  // a missing mark shows in the test
  close(fd);
}

void Mark(const std::string& path) { AppendMark(path, ""); }

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::string Line(const char* name) {
  return std::string("Interrupted by ") + name + ": the run stopped before finishing its job\n";
}

}  // namespace

// Each watched signal ends the run after the registered cleanups with its line, and then
// by that same signal, so that a calling shell sees the death by the signal; a signal
// ignored before the watch starts stays ignored; once the watch has ended, a signal has
// its default effect at once (there is nothing left to clean up); a write that finds the
// console's reader gone ends the run the same way, by SIGPIPE.
TEST(InterruptWatch, EndsTheRunThroughTheFatalPathAndThenByTheSignal) {
  TempFolder tmp;
  const std::string mark = tmp.file("cleaned");
  const struct Case {
    const char* name;
    int signal;  // sent to the process; 0: a line written to stdout instead
    bool ignoredBefore;
    bool endedBefore;
    ChildOutput output;
    int diedOf;  // 0: the body returned (status 121)
    std::string out;
    bool cleaned;
  } cases[] = {
      {"SIGINT", SIGINT, false, false, ChildOutput::kFile, SIGINT, Line("SIGINT"), true},
      {"SIGTERM", SIGTERM, false, false, ChildOutput::kFile, SIGTERM, Line("SIGTERM"), true},
      {"SIGHUP", SIGHUP, false, false, ChildOutput::kFile, SIGHUP, Line("SIGHUP"), true},
      {"SIGHUP ignored, as under nohup", SIGHUP, true, false, ChildOutput::kFile, 0, "", false},
      {"SIGINT after the end of the watch", SIGINT, false, true, ChildOutput::kFile, SIGINT, "", false},
      {"a console whose reader is gone", 0, false, false, ChildOutput::kPipeReaderGone, SIGPIPE, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(mark.c_str());
    const ProcessResult r = RunInChild(
        [&] {
          if (c.ignoredBefore) signal(c.signal, SIG_IGN);
          StartInterruptWatch();
          FatalCleanup cleanup([&] { Mark(mark); });
          if (c.endedBefore) EndInterruptWatch();
          if (c.signal != 0) {
            kill(getpid(), c.signal);
          } else {
            std::puts("a line");
            std::fflush(stdout);
          }
          Sleep(300);
        },
        30.0, c.output);
    EXPECT_EQ(r.signal, c.diedOf);
    EXPECT_EQ(r.status, c.diedOf == 0 ? 121 : -1);
    if (c.output == ChildOutput::kFile) {
      EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(access(mark.c_str(), F_OK) == 0, c.cleaned);
  }
}

// The end does not hang on a console that takes nothing (a full pipe nobody reads): it
// cleans up first and gives up on the line after a few seconds. A second signal while it
// waits cuts that short; the run still ends by the first signal, cleanup done.
TEST(InterruptWatch, AnEndThatWaitsOnTheConsoleIsBoundedAndASecondSignalCutsItShort) {
  TempFolder tmp;
  const std::string mark = tmp.file("cleaned");
  const struct Case {
    const char* name;
    int second;  // sent half a second after the first, 0 for none
    double within;
  } cases[] = {
      {"a full pipe", 0, 8.0},
      {"a full pipe and a second signal", SIGTERM, 2.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(mark.c_str());
    const ProcessResult r = RunInChild(
        [&] {
          StartInterruptWatch();
          FatalCleanup cleanup([&] { Mark(mark); });
          kill(getpid(), SIGINT);
          Sleep(500);
          if (c.second != 0) kill(getpid(), c.second);
          Sleep(30000);
        },
        30.0, ChildOutput::kPipeFull);
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_LT(r.seconds, c.within);
    EXPECT_TRUE(access(mark.c_str(), F_OK) == 0);
  }
}

// A held step of another thread that never ends keeps the end waiting a few seconds at
// most; a second signal ends that wait at once, and the cleanups still run and the line
// still goes to a console that takes it.
TEST(InterruptWatch, ASecondSignalEndsTheWaitForAStuckStep) {
  TempFolder tmp;
  const std::string mark = tmp.file("cleaned");
  const ProcessResult r = RunInChild([&] {
    StartInterruptWatch();
    FatalCleanup cleanup([&] { Mark(mark); });
    std::thread([] {
      FatalExitHold stuck;
      Sleep(60000);
    }).detach();
    Sleep(100);
    kill(getpid(), SIGTERM);
    Sleep(500);
    kill(getpid(), SIGINT);
    Sleep(30000);
  });
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_LT(r.seconds, 2.5);
  EXPECT_EQ(r.out, Line("SIGTERM"));
  EXPECT_TRUE(access(mark.c_str(), F_OK) == 0);
}
// A second signal is the end's own unless it comes while the end waits: during the
// cleanups (the same signal again or another one, or a SIGALRM from outside, the signal
// that bounds the end's writes) it neither costs the line nor the console text still
// buffered; while the end waits for a console line or a held step of another thread
// that is about to end, it leaves that line or step the moment it needs. Each run dies
// by the first signal, after its cleanup.
TEST(InterruptWatch, ASecondSignalDuringTheEndKeepsTheLineAndTheCleanup) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  enum Holder { kNothing, kConsole, kHeldStep };  // what another thread holds for 100 ms
  const struct Case {
    const char* name;
    int first;
    int second;
    bool slowCleanup;  // the cleanup takes 300 ms; the second signal comes during it
    Holder holder;     // held from before the first signal until 20 ms after the second
    const char* marksAfter;
  } cases[] = {
      {"the same signal during the cleanup", SIGHUP, SIGHUP, true, kNothing, "cleanup\n"},
      {"another signal during the cleanup", SIGHUP, SIGTERM, true, kNothing, "cleanup\n"},
      {"SIGALRM during the cleanup", SIGINT, SIGALRM, true, kNothing, "cleanup\n"},
      {"while another thread ends its console line", SIGHUP, SIGTERM, false, kConsole, "cleanup\n"},
      {"while another thread ends a held step", SIGINT, SIGINT, false, kHeldStep, "step done\ncleanup\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(marks.c_str());
    const ProcessResult r = RunInChild([&] {
      StartInterruptWatch();
      FatalCleanup cleanup([&] {
        if (c.slowCleanup) Sleep(300);
        AppendMark(marks, "cleanup\n");
      });
      std::fputs("progress still in the buffer\n", stdout);
      std::atomic<bool> holding{false};
      std::atomic<bool> sent{false};
      const auto holdUntilSent = [&] {
        holding = true;
        while (!sent) Sleep(1);
        Sleep(20);
      };
      if (c.holder != kNothing) {
        std::thread([&] {
          if (c.holder == kConsole) {
            flockfile(stdout);
            holdUntilSent();
            std::fputs("a line of another thread\n", stdout);
            funlockfile(stdout);
          } else {
            FatalExitHold step;
            holdUntilSent();
            AppendMark(marks, "step done\n");
          }
          Sleep(30000);
        }).detach();
        while (!holding) std::this_thread::yield();
        Sleep(10);
      }
      kill(getpid(), c.first);
      Sleep(c.slowCleanup ? 100 : 30);
      kill(getpid(), c.second);
      sent = true;
      Sleep(30000);
    });
    EXPECT_EQ(r.signal, c.first);
    EXPECT_LT(r.seconds, 4.0);
    const std::string line = Line(c.first == SIGHUP ? "SIGHUP" : "SIGINT");
    EXPECT_TRUE(r.out.size() >= line.size() && r.out.compare(r.out.size() - line.size(), line.size(), line) == 0)
        << r.out;
    EXPECT_EQ(r.out.find("progress still in the buffer\n"), 0u) << r.out;
    EXPECT_EQ(ReadFileText(marks), c.marksAfter);
  }
}
#endif
