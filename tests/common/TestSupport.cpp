#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/ParallelFor.h"

namespace fs = std::filesystem;

namespace {
std::atomic<int> gFolderCounter{0};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// In a new child: the signals a test sends or a run meets at their default, none
// blocked. A test program started as a script's background job has SIGINT ignored, and
// exec keeps that.
void DefaultSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGALRM}) signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

void Collect(int status, ProcessResult& result) {
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// A pipe for a child's standard output as `output` says; {-1, -1} for a file. The
// parent keeps the reading end of a full pipe open (and never reads it) until the child
// ends.
struct OutputPipe {
  int read = -1;
  int write = -1;
};

OutputPipe MakeOutputPipe(ChildOutput output) {
  OutputPipe p;
  if (output == ChildOutput::kFile) return p;
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("no pipe");
  p.read = fds[0];
  p.write = fds[1];
  if (output == ChildOutput::kPipeReaderGone) {
    close(p.read);
    p.read = -1;
  } else {
    // One page holds it; a page of bytes fills it, and any later write blocks.
    const int size = fcntl(p.write, F_SETPIPE_SZ, 4096);
    const std::string page(static_cast<size_t>(size > 0 ? size : 65536), 'x');
    if (write(p.write, page.data(), page.size()) != static_cast<ssize_t>(page.size()))
      throw std::runtime_error("the pipe did not fill");
  }
  return p;
}
}  // namespace

TempFolder::TempFolder() {
  fs::path base(SEGMENTER_TEST_TMP);
  fs::create_directories(base);
  for (;;) {
    fs::path candidate =
        base / ("t" + std::to_string(getpid()) + "_" + std::to_string(gFolderCounter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempFolder::file(const std::string& name) const { return path_ + "/" + name; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFileText(const std::string& path) {
  std::vector<uint8_t> b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
  for (size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::string CopyTwoExampleSubjects(const std::string& folder) {
  const std::string example = std::string(SEGMENTER_SOURCE_DIR) + "/example/hippocampus";
  fs::create_directories(folder);
  for (const char* subject : {"hippocampus_001", "hippocampus_003"})
    for (const char* part : {".brain.hdr", ".brain.img", ".label.hdr", ".label.img"})
      fs::copy_file(example + "/train/" + subject + part, folder + "/" + subject + part);
  return example;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir) {
  return StartedProcess(argv, workDir).Wait();
}

ProcessResult RunInChild(const std::function<void()>& body, double seconds, ChildOutput output) {
  ProcessResult result;
  TempFolder capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  const OutputPipe outPipe = MakeOutputPipe(output);
  std::fflush(nullptr);
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    DefaultSignals();
    const int outFd = outPipe.write >= 0 ? outPipe.write : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(120);
    if (outPipe.read >= 0) close(outPipe.read);
    body();
    _exit(121);
  }
  if (outPipe.write >= 0) close(outPipe.write);
  if (pid > 0) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (done == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    } else {
      Collect(status, result);
      result.seconds = Now() - start;
      result.out = ReadFileText(outPath);
      result.err = ReadFileText(errPath);
    }
  }
  if (outPipe.read >= 0) close(outPipe.read);
  return result;
}

StartedProcess::StartedProcess(const std::vector<std::string>& argv, const std::string& workDir, bool ownGroup)
    : ownGroup_(ownGroup) {
  const std::string outPath = capture_.file("stdout");
  const std::string errPath = capture_.file("stderr");
  std::fflush(stdout);
  std::fflush(stderr);
  started_ = Now();
  pid_ = fork();
  if (pid_ == 0) {
    DefaultSignals();
    if (ownGroup && setpgid(0, 0) != 0) _exit(127);
    int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  // The group exists once either side has made it; the parent's call closes the race
  // with a signal sent to the group right after the start.
  if (pid_ > 0 && ownGroup) setpgid(pid_, pid_);
}

StartedProcess::~StartedProcess() {
  if (pid_ > 0 && !waited_) {
    // The leader is not collected yet, so its group is still its own.
    kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string StartedProcess::OutSoFar() const { return ReadFileText(capture_.file("stdout")); }

bool StartedProcess::WaitUntil(const std::function<bool()>& ready, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (ready()) return true;
    // Ended (reported, not yet collected) or not there at all.
    siginfo_t info{};
    if (pid_ <= 0 || waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0)
      return ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

void StartedProcess::InterruptWhereItIs(int signal) {
  if (pid_ <= 0 || waited_) return;
  if (kill(pid_, SIGSTOP) != 0) return;
  // The stop has taken effect once waitpid reports it; a program that ended meanwhile is
  // collected by Wait, and gets nothing.
  int status = 0;
  if (waitpid(pid_, &status, WUNTRACED) != pid_ || !WIFSTOPPED(status)) {
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      waited_ = true;
      stoppedResult_ = status;
    }
    return;
  }
  kill(pid_, signal);
  kill(pid_, SIGCONT);
}

void StartedProcess::SignalTwice(int first, int second) {
  // Until it is waited for, the pid is this program's, even once it has ended.
  if (pid_ <= 0 || waited_) return;
  kill(pid_, first);
  kill(pid_, second);
}

void StartedProcess::SignalGroup(int signal) {
  if (pid_ > 0 && ownGroup_ && !waited_) kill(-pid_, signal);
}

ProcessResult StartedProcess::Wait() {
  ProcessResult result;
  if (pid_ <= 0) return result;
  int status = stoppedResult_;
  if (!waited_) {
    while (waitpid(pid_, &status, 0) == pid_ && !WIFEXITED(status) && !WIFSIGNALED(status)) {
    }
  }
  waited_ = true;
  Collect(status, result);
  result.seconds = Now() - started_;
  result.out = ReadFileText(capture_.file("stdout"));
  result.err = ReadFileText(capture_.file("stderr"));
  return result;
}

std::string MaskTimeFields(const std::string& text) {
  std::string out;
  size_t at = 0;
  for (size_t hit; (hit = text.find("time=", at)) != std::string::npos;) {
    size_t end = hit + 5;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
    out += text.substr(at, hit + 5 - at) + "#";
    at = end;
  }
  return out + text.substr(at);
}

std::map<std::string, std::string> TreeContents(const std::string& root) {
  std::map<std::string, std::string> contents;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).generic_string();
    if (entry.is_symlink()) {
      contents[relative] = "<link>";
    } else if (entry.is_directory()) {
      contents[relative] = "<folder>";
    } else {
      const std::string bytes = ReadFileText(entry.path().string());
      contents[relative] = entry.path().filename() == "logfile.txt" ? MaskTimeFields(bytes) : bytes;
    }
  }
  return contents;
}

std::vector<std::string> Debris(const std::string& root) {
  std::vector<std::string> found;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    const bool emptyFolder = e.is_directory() && fs::is_empty(e.path());
    if (name.find(".partial") != std::string::npos || name == "top" || name == "training_done.txt" || emptyFolder)
      found.push_back(fs::relative(e.path(), root).string());
  }
  return found;
}

ProcessResult RunPython(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {SEGMENTER_PYTHON, "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

std::string MaskTimes(const std::string& text) {
  // A number is an optional '-', digits, '.', digits; masked when "s" or "min" follows.
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    if (text[j] == '-') ++j;
    size_t intStart = j;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    bool number = false;
    if (j > intStart && j < text.size() && text[j] == '.') {
      size_t fracStart = ++j;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
      number = j > fracStart;
    }
    if (number && (text.compare(j, 1, "s") == 0 || text.compare(j, 3, "min") == 0)) {
      out += '#';
      i = j;
    } else if (j > i) {
      out.append(text, i, j - i);
      i = j;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string MaskSourceLines(const std::string& text) {
  const std::string source = "img/AnalyzeHeader.cpp: ";
  std::string out;
  size_t at = 0;
  for (size_t hit; (hit = text.find(source, at)) != std::string::npos;) {
    size_t end = hit + source.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (text.compare(end, 2, ": ") != 0) {
      out += text.substr(at, end - at);
      at = end;
      continue;
    }
    out += text.substr(at, hit - at) + "P: ";
    at = end + 2;
  }
  return out + text.substr(at);
}

ScopedWorkerCount::ScopedWorkerCount(int workers) { SetWorkerCount(workers); }
ScopedWorkerCount::~ScopedWorkerCount() { SetWorkerCount(0); }

void ExpectDiceAtLeast(const std::string& segmentation, const std::string& reference, int labels, double floor) {
  const ProcessResult dice =
      RunProcess({SEGMENTER_PYTHON, std::string(SEGMENTER_SOURCE_DIR) + "/scripts/dice.py", segmentation, reference});
  ASSERT_EQ(dice.status, 0) << dice.err;
  const std::regex line("label (\\d+): Dice ([0-9.]+)");
  int labelsScored = 0;
  for (std::sregex_iterator it(dice.out.begin(), dice.out.end(), line), end; it != end; ++it) {
    EXPECT_GE(std::stod((*it)[2]), floor) << "label " << (*it)[1] << "\n" << dice.out;
    ++labelsScored;
  }
  EXPECT_EQ(labelsScored, labels) << dice.out;
}
