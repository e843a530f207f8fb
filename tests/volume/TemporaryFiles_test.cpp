#include "volume/TemporaryFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "platform/Fatal.h"
#include "platform/InterruptWatch.h"
#include "platform/NativePath.h"

namespace fs = std::filesystem;

// A temporary that took its final name is no longer the write's to remove: a file that
// another process makes under the temporary's name afterwards stays, whether the write
// ends on its own or the run ends on the fatal path. A temporary that was not renamed goes.
TEST(TemporaryFilesTest, ARenamedTemporaryIsNoLongerRemoved) {
  for (const bool fatal : {false, true}) {
    SCOPED_TRACE(fatal ? "fatal end" : "the write ends");
    TempFolder tmp;
    const std::string output = tmp.path() + "\\out.img";
    const auto write = [&] {
      auto temps = std::make_unique<TemporaryFiles>();
      const std::string renamed = temps->Make(output, ".img");
      const std::string left = temps->Make(output, ".hdr");
      const std::string partial = tmp.path() + "/out.partial-" + std::to_string(getpid());
      ASSERT_EQ(NativePath(renamed), partial + "-0.img");
      ASSERT_EQ(NativePath(left), partial + "-0.hdr");
      ASSERT_TRUE(temps->Rename(renamed, output));
      WriteFileText(partial + "-0.img", "another's");
      if (fatal) FatalExit(3, "");
      temps.reset();
    };
    if (fatal) {
      // The child's process id names its temporaries.
      const ProcessResult r = RunInChild(write);
      EXPECT_EQ(r.status, 3);
    } else {
      write();
    }
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(tmp.path())) names.push_back(e.path().filename());
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(fs::exists(tmp.file("out.img")));
    for (const std::string& name : names) {
      if (name != "out.img") {
        EXPECT_EQ(ReadFileText(tmp.file(name)), "another's") << name;
      }
    }
  }
}

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer refuses new threads after a fork
// An interrupt whose end does not wait for a step of another thread that makes a
// temporary (a second signal cuts the wait short; the step is stuck inside its held
// step) still removes that temporary: it is listed before it is made.
TEST(TemporaryFilesTest, AnEndThatCutsTheWaitForAStepStillRemovesItsTemporary) {
  TempFolder tmp;
  const std::string output = tmp.path() + "\\out.img";
  const ProcessResult r = RunInChild([&] {
    StartInterruptWatch();
    std::atomic<bool> made{false};
    WatchFileCreationForTesting([&](const std::string&) {
      made = true;
      std::this_thread::sleep_for(std::chrono::seconds(60));
    });
    TemporaryFiles temps;
    std::thread([&] { temps.Make(output, ".img"); }).detach();
    while (!made) std::this_thread::yield();
    kill(getpid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(getpid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::seconds(30));
  });
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_LT(r.seconds, 4.0);
  EXPECT_TRUE(fs::is_empty(tmp.path())) << fs::directory_iterator(tmp.path())->path();
}
#endif
