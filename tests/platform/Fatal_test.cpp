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
#include "platform/ParallelFor.h"

namespace {

struct ChildEnd {
  bool exited = false;  // ended through exit, not a signal, within the time allowed
  int status = -1;
  std::string out;
};

// Runs `body` in a child made by fork with its standard output going to `outPath`,
// waits up to 30 s for it and kills it after that (a hang).
ChildEnd RunChild(const std::string& outPath, const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(120);
    body();
    _exit(121);  // the body was to end the process
  }
  ChildEnd end;
  if (pid < 0) return end;
  int wstatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  pid_t done = 0;
  while ((done = waitpid(pid, &wstatus, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
    return end;
  }
  end.exited = WIFEXITED(wstatus);
  end.status = end.exited ? WEXITSTATUS(wstatus) : -1;
  end.out = ReadFileText(outPath);
  return end;
}

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
    const ChildEnd end = RunChild(tmp.file("out"), [&] {
      std::atexit([] { std::fputs("exit handlers ran\n", stdout); });
      SetFatalCleanup([&] { AppendLine(cleanupPath, "cleanup\n"); });
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
    ASSERT_TRUE(end.exited) << "run " << run << ": a hang or a signal";
    ASSERT_EQ(end.status, status & 255) << "run " << run;
    ASSERT_EQ(end.out, "Can not allocate memory size of 9 x 9 x 9\n") << "run " << run;
    ASSERT_EQ(ReadFileText(cleanupPath), "cleanup\n") << "run " << run;
  }
}

// The cleanup runs after the line is out; a cleared one does not run; a fatal failure
// inside the cleanup ends the process with the first status and line only.
TEST(FatalExit, RunsTheRegisteredCleanupOnce) {
  TempFolder tmp;
  const std::string marks = tmp.file("marks");
  struct Case {
    const char* name;
    std::function<void()> setUp;
    const char* marksAfter;
  };
  const Case cases[] = {
      {"registered", [&] { SetFatalCleanup([&] { AppendLine(marks, "cleanup\n"); }); }, "cleanup\n"},
      {"replaced",
       [&] {
         SetFatalCleanup([&] { AppendLine(marks, "first\n"); });
         SetFatalCleanup([&] { AppendLine(marks, "second\n"); });
       },
       "second\n"},
      {"cleared",
       [&] {
         SetFatalCleanup([&] { AppendLine(marks, "cleanup\n"); });
         SetFatalCleanup(nullptr);
       },
       ""},
      {"failing",
       [&] {
         SetFatalCleanup([&] {
           AppendLine(marks, "cleanup\n");
           FatalExit(7, "a second line\n");
         });
       },
       "cleanup\n"},
      {"throwing", [&] { SetFatalCleanup([] { throw std::runtime_error("cleanup"); }); }, ""},
  };
  for (const Case& c : cases) {
    std::remove(marks.c_str());
    const ChildEnd end = RunChild(tmp.file("out"), [&] {
      c.setUp();
      FatalExit(3, "Unable to write x\n");
    });
    EXPECT_TRUE(end.exited) << c.name;
    EXPECT_EQ(end.status, 3) << c.name;
    EXPECT_EQ(end.out, "Unable to write x\n") << c.name;
    EXPECT_EQ(ReadFileText(marks), c.marksAfter) << c.name;
  }
}
#endif
