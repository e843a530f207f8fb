#include "platform/Fatal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "platform/ConsoleStreams.h"
#include "platform/ParallelFor.h"

namespace {

// Appends one line to a file with a single write, safe from any thread of a child.
void AppendLine(const std::string& path, const char* line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const ssize_t written = write(fd, line, std::char_traits<char>::length(line));
  static_cast<void>(written);  // a missing mark shows in the test
  close(fd);
}

}  // namespace

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer refuses new threads after a fork
// Every worker but the calling thread fails at the same moment while the calling thread
// still works: the process ends once, with one line, the status given and the cleanup
// run once, and no exit handler or static destructor runs under the live threads.
TEST(FatalExit, EndsTheProcessFromWorkersOfALoopWithOneLine) {
  TempFolder tmp;
  for (int run = 0; run < 100; ++run) {
    const int status = run % 2 == 0 ? 1 : -1;
    const std::string cleanupPath = tmp.file("cleanup" + std::to_string(run));
    const ProcessResult end = RunInChild([&] {
      std::atexit([] { std::fputs("exit handlers ran\n", stdout); });
      FatalCleanup cleanup([&] { AppendLine(cleanupPath, "cleanup\n"); });
      SetWorkerCount(8);
      std::atomic<int> arrived{0};
      ParallelFor(0, 64, [&](int, int worker) {
        if (worker == 0) {
          for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Wait (a bounded time) until every helper is here, then all fail together.
        arrived++;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (arrived.load() < 7 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        FatalExit(status, "Can not allocate memory size of 9 x 9 x 9\n");
      });
    });
    ASSERT_NE(end.status, -1) << "run " << run << ": a hang or a signal";
    ASSERT_EQ(end.status, status & 255) << "run " << run;
    ASSERT_EQ(end.out, "Can not allocate memory size of 9 x 9 x 9\n") << "run " << run;
    ASSERT_EQ(ReadFileText(cleanupPath), "cleanup\n") << "run " << run;
  }
}

// The cleanups registered at the end run once each, innermost first, before the line is
// written; one whose scope has ended does not run; a cleanup that throws does not stop
// the others; a fatal failure inside a cleanup ends the process with the first status
// and line only.
TEST(FatalExit, RunsTheRegisteredCleanupsOnceInnermostFirst) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  auto mark = [&](const char* line) { return [&marks, line] { AppendLine(marks, line); }; };
  auto end = [] { FatalExit(3, "Unable to write x\n"); };
  struct Case {
    const char* name;
    std::function<void()> body;
    const char* marksAfter;
  };
  // Marks whether the standard output (a file) is still empty when the cleanup runs.
  auto markConsole = [&] {
    return [&marks] { AppendLine(marks, lseek(1, 0, SEEK_END) == 0 ? "console empty\n" : "console written\n"); };
  };
  const Case cases[] = {
      {"one",
       [&] {
         FatalCleanup c(mark("cleanup\n"));
         end();
       },
       "cleanup\n"},
      {"before the line",
       [&] {
         FatalCleanup c(markConsole());
         end();
       },
       "console empty\n"},
      {"nested",
       [&] {
         FatalCleanup outer(mark("outer\n"));
         FatalCleanup inner(mark("inner\n"));
         end();
       },
       "inner\nouter\n"},
      {"ended scope",
       [&] {
         FatalCleanup kept(mark("kept\n"));
         { FatalCleanup gone(mark("gone\n")); }
         end();
       },
       "kept\n"},
      {"failing",
       [&] {
         FatalCleanup outer(mark("outer\n"));
         FatalCleanup inner([&] {
           AppendLine(marks, "cleanup\n");
           FatalExit(7, "a second line\n");
         });
         end();
       },
       "cleanup\n"},
      {"throwing",
       [&] {
         FatalCleanup outer(mark("outer\n"));
         FatalCleanup inner([] { throw std::runtime_error("cleanup"); });
         end();
       },
       "outer\n"},
      {"inside a held step",
       [&] {
         FatalCleanup c(mark("cleanup\n"));
         FatalExitHold hold;
         end();
       },
       "cleanup\n"},
  };
  for (const Case& c : cases) {
    std::remove(marks.c_str());
    const ProcessResult result = RunInChild(c.body);
    EXPECT_EQ(result.status, 3) << c.name;
    EXPECT_EQ(result.out, "Unable to write x\n") << c.name;
    EXPECT_EQ(ReadFileText(marks), c.marksAfter) << c.name;
  }
}

// A held step on another thread is finished before the line and the cleanups; a step
// begun once the end has begun never runs, and the thread's next line is never printed.
TEST(FatalExit, WaitsForAHeldStepAndStopsTheOtherThreads) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  const ProcessResult result = RunInChild([&] {
    std::atomic<bool> holding{false};
    // The cleanup takes long enough for the worker to reach its next line and step.
    FatalCleanup cleanup([&] {
      AppendLine(marks, "cleanup\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
    });
    std::thread worker([&] {
      {
        FatalExitHold hold;
        holding = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        AppendLine(marks, "step done\n");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::printf("a line after the end\n");
      FatalExitHold never;
      AppendLine(marks, "a step after the end\n");
    });
    while (!holding) std::this_thread::yield();
    worker.detach();
    FatalExit(4, "ending\n");
  });
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "ending\n");
  EXPECT_EQ(ReadFileText(marks), "step done\ncleanup\n");
}

// A thread stuck while it writes to the console (a pipe nobody reads) holds the stream:
// the end leaves the message out of that stream after a short wait and still runs the
// cleanups, instead of hanging.
TEST(FatalExit, EndsWhenAnotherThreadIsStuckOnTheConsole) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  const ProcessResult result = RunInChild(
      [&] {
        FatalCleanup cleanup([&] { AppendLine(marks, "cleanup\n"); });
        std::atomic<bool> stuck{false};
        std::thread([&] {
          flockfile(stdout);
          stuck = true;
          for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
        }).detach();
        while (!stuck) std::this_thread::yield();
        std::fputs("an error line\n", stderr);
        FatalExit(5, "Unable to write x\n");
      },
      20.0);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "an error line\n");
  EXPECT_EQ(ReadFileText(marks), "cleanup\n");
}

// The console cannot keep the end from its cleanups or hold it for long: a pipe whose
// reader is gone (SIGPIPE at its default) and a full pipe nobody reads; the status is
// the failure's own.
TEST(FatalExit, ABrokenOrFullConsoleNeitherEndsNorHoldsTheEnd) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  for (ChildOutput output : {ChildOutput::kPipeReaderGone, ChildOutput::kPipeFull}) {
    SCOPED_TRACE(output == ChildOutput::kPipeFull ? "full" : "reader gone");
    std::remove(marks.c_str());
    const ProcessResult result = RunInChild(
        [&] {
          FatalCleanup cleanup([&] { AppendLine(marks, "cleanup\n"); });
          std::fputs("progress that waits in the buffer\n", stdout);
          FatalExit(5, "Unable to write x\n");
        },
        30.0, output);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 5);
    EXPECT_LT(result.seconds, 8.0);
    EXPECT_EQ(ReadFileText(marks), "cleanup\n");
  }
}

// The line stands on a line of its own: a line end goes first where progress text left
// the console's line open, on the same file only.
TEST(FatalExit, TheLineStandsOnALineOfItsOwn) {
  const struct Case {
    const char* name;
    bool oneFile;  // stderr writes to the standard output's file
    const char* progress;
    std::FILE* (*stream)();
    std::string out;
    std::string err;
  } cases[] = {
      {"after progress", false, "01", [] { return stdout; }, "01\nUnable to write x\n", ""},
      {"after a whole line", false, "done\n", [] { return stdout; }, "done\nUnable to write x\n", ""},
      {"before anything", false, "", [] { return stdout; }, "Unable to write x\n", ""},
      {"on another file", false, "01", [] { return stderr; }, "01", "Unable to write x\n"},
      {"on the same file", true, "01", [] { return stderr; }, "01\nUnable to write x\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult result = RunInChild([&] {
      if (c.oneFile) dup2(1, 2);
      TrackConsoleStreams();
      std::fputs(c.progress, stdout);
      std::fflush(stdout);
      FatalExit(5, "Unable to write x\n", c.stream());
    });
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}
#endif
