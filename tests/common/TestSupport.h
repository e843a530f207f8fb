#pragma once
// Helpers shared by the test programs: scratch folders, file bytes, child processes.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A fresh empty folder under the build tree's test-tmp, removed again on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
std::string ReadFileText(const std::string& path);
// Bytes from a hex text such as "02000000 0300"; blanks are ignored.
std::vector<uint8_t> HexBytes(const std::string& hex);
std::string ToHex(const std::vector<uint8_t>& bytes);

struct ProcessResult {
  int status = -1;  // exit status 0..255, or -1 when the process did not exit normally
  int signal = 0;   // the signal that ended the process, 0 when it exited (or hung)
  double seconds = 0;  // wall time from the start to the end
  std::string out;
  std::string err;
};

// Copies the example's training subjects "hippocampus_001" and "hippocampus_003" (their
// brain and label pairs) into `folder`, made when missing; returns the example's folder.
std::string CopyTwoExampleSubjects(const std::string& folder);

// Runs a program with arguments (no shell), optionally in another working folder,
// and collects its exit status and both output streams.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir = "");

// Where a child's standard output goes: a file (collected), a pipe whose reader is gone,
// or a pipe that is full and that nobody reads.
enum class ChildOutput { kFile, kPipeReaderGone, kPipeFull };

// Runs `body` in a child made by fork, with its standard error going to a file and its
// standard output as `output` says, and waits up to `seconds` for it (killing it after
// that: a hang, status -1 and signal 0). The body is to end the process; status 121 when
// it returns. The child starts with every signal at its default and none blocked.
ProcessResult RunInChild(const std::function<void()>& body, double seconds = 30.0,
                         ChildOutput output = ChildOutput::kFile);

// A program started in the background (no shell), its output streams going to files,
// optionally in another working folder and as the leader of a process group of its own
// (as a shell's job is). It starts with every signal at its default and none blocked (a
// script's background job would have SIGINT ignored). Waited for (or killed) on
// destruction.
class StartedProcess {
 public:
  StartedProcess(const std::vector<std::string>& argv, const std::string& workDir = "", bool ownGroup = false);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;
  int pid() const { return pid_; }
  // What the program has written to its standard output so far.
  std::string OutSoFar() const;
  // Polls (every millisecond, for at most `seconds`) until `ready` holds; false when the
  // program ended first or the time ran out.
  bool WaitUntil(const std::function<bool()>& ready, double seconds = 60.0);
  // Stops the program, sends it `signal` and lets it go on, so that the signal finds it
  // exactly where it was stopped. Nothing is sent when the program was not started or has
  // already ended.
  void InterruptWhereItIs(int signal);
  // Sends `first` and then `second` to the program at once, as `kill -HUP $pid; kill
  // -TERM $pid` does. Nothing is sent when the program was not started or has been
  // waited for.
  void SignalTwice(int first, int second);
  // Sends `signal` to the program's process group (started with ownGroup), as a
  // terminal's Ctrl-C does; nothing when there is no such group.
  void SignalGroup(int signal);
  // Waits for the end; the status as for RunProcess.
  ProcessResult Wait();

 private:
  TempFolder capture_;
  int pid_ = -1;
  bool ownGroup_ = false;
  bool waited_ = false;
  int stoppedResult_ = 0;  // the status collected by InterruptWhereItIs, once waited_
  double started_ = 0;
};

// Runs Debian's python3 on a script text with arguments; the result as for RunProcess.
ProcessResult RunPython(const std::string& script, const std::vector<std::string>& args = {});

// Scores a label volume (Analyze header) against its reference with scripts/dice.py and
// expects a score line for each of `labels` labels, each at least `floor`.
void ExpectDiceAtLeast(const std::string& segmentation, const std::string& reference, int labels, double floor);

// Replaces every decimal number directly followed by "s" or "min" with "#", so
// log lines that carry processor times can be compared as text.
std::string MaskTimes(const std::string& text);

// Replaces every "img/AnalyzeHeader.cpp: <line>: " prefix of the header layer's
// messages with "P: ", so messages compare without their line numbers.
std::string MaskSourceLines(const std::string& text);

// Every file and folder under `root` by its relative path: a file maps to its bytes
// (with the number after each "time=" replaced by "#" in the training logs,
// "logfile.txt"), a folder to "<folder>", a link (not followed) to "<link>".
std::map<std::string, std::string> TreeContents(const std::string& root);

// Names under `root` (relative) that a failed or interrupted run must not leave: a
// temporary ".partial" file, a tree's "top" folder of node folders, an empty folder and
// "training_done.txt".
std::vector<std::string> Debris(const std::string& root);

// The text with the number after every "time=" replaced by "#".
std::string MaskTimeFields(const std::string& text);

// Sets the parallel-for worker count for a scope, back to the default afterwards.
class ScopedWorkerCount {
 public:
  explicit ScopedWorkerCount(int workers);
  ~ScopedWorkerCount();
  ScopedWorkerCount(const ScopedWorkerCount&) = delete;
  ScopedWorkerCount& operator=(const ScopedWorkerCount&) = delete;
};

// True when two volumes have the same extents and the same element at every voxel.
template <class Volume>
bool SameVoxels(const Volume& a, const Volume& b) {
  if (a.dim0() != b.dim0() || a.dim1() != b.dim1() || a.dim2() != b.dim2()) return false;
  for (int z = 0; z < a.dim0(); ++z)
    for (int y = 0; y < a.dim1(); ++y)
      for (int x = 0; x < a.dim2(); ++x)
        if (a(z, y, x) != b(z, y, x)) return false;
  return true;
}
