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
}

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

ProcessResult RunInChild(const std::function<void()>& body, double seconds) {
  ProcessResult result;
  TempFolder capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(120);
    body();
    _exit(121);
  }
  if (pid < 0) return result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFileText(outPath);
  result.err = ReadFileText(errPath);
  return result;
}

StartedProcess::StartedProcess(const std::vector<std::string>& argv, const std::string& workDir) {
  const std::string outPath = capture_.file("stdout");
  const std::string errPath = capture_.file("stderr");
  std::fflush(stdout);
  std::fflush(stderr);
  pid_ = fork();
  if (pid_ == 0) {
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
}

StartedProcess::~StartedProcess() {
  if (pid_ > 0 && !waited_) {
    kill(pid_, SIGKILL);
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
  kill(pid_, SIGSTOP);
  // The stop has taken effect once waitpid reports it.
  waitpid(pid_, nullptr, WUNTRACED);
  kill(pid_, signal);
  kill(pid_, SIGCONT);
}

ProcessResult StartedProcess::Wait() {
  ProcessResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  while (waitpid(pid_, &status, 0) == pid_ && !WIFEXITED(status) && !WIFSIGNALED(status)) {
  }
  waited_ = true;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
