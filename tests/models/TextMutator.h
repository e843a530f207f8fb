#pragma once
// A deterministic mutation source for the fuzz tests of the model folder's text
// readers: each input is a seed text with one to four edits (bit flips, bytes and
// tokens that readers of numbers and keys trip on, deletions, duplications and cuts).
//
// The tests run a fixed number of inputs so that CTest stays fast; for a longer run
// (and build/asan/tests/app/app_tests for the label mapping):
//   SEGMENTER_FUZZ_ITERATIONS=1000000 SEGMENTER_FUZZ_SEED=7 build/asan/tests/models/models_tests --gtest_filter='*Fuzz*'

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

class TextMutator {
 public:
  explicit TextMutator(uint64_t seed) : state_(seed) {}

  // Iterations of a fuzz test: `fallback`, or SEGMENTER_FUZZ_ITERATIONS when set.
  static int Iterations(int fallback) {
    const char* text = std::getenv("SEGMENTER_FUZZ_ITERATIONS");
    const long n = text ? std::strtol(text, nullptr, 10) : 0;
    return n > 0 && n < 2000000000 ? static_cast<int>(n) : fallback;
  }
  // The seed of a fuzz test: `fallback`, or SEGMENTER_FUZZ_SEED when set.
  static uint64_t Seed(uint64_t fallback) {
    const char* text = std::getenv("SEGMENTER_FUZZ_SEED");
    return text ? std::strtoull(text, nullptr, 10) : fallback;
  }

  uint64_t Next() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

  std::string Mutate(const std::string& seed) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(Below(4));
    for (int e = 0; e < edits; ++e) Edit(text);
    return text;
  }

 private:
  void Edit(std::string& text) {
    static const char kBytes[] = " \t\n\r:-+.0123456789eEpxXnNaAiIfF#";
    static const std::vector<std::string> kTokens = {
        "2147483647", "-2147483648", "2147483648", "99999999999999999999", "-1", "0", "1", "10", "11", "255",
        "256", "nan", "-nan", "NAN(1)", "inf", "-inf", "infinity", "1e39", "1e-50", "0x1p3", "0x", "1.5", ".",
        "\n", "\r\n", ":", " : ", "ModelType:", "NumberofClasses:", "Radius:", "Sub-volume:", "IntensityType:",
        "ClassifierVersion:", "IntensityRange:", std::string(1, '\0'), "\xff\xfe", std::string(300, '7'),
        std::string(250, ' ')};
    switch (Below(7)) {
      case 0:
        if (!text.empty()) text[Below(text.size())] ^= static_cast<char>(1u << Below(8));
        break;
      case 1:
        if (!text.empty()) text[Below(text.size())] = kBytes[Below(sizeof kBytes - 1)];
        break;
      case 2:
      case 3:
        text.insert(Below(text.size() + 1), kTokens[Below(kTokens.size())]);
        break;
      case 4:
        if (!text.empty()) {
          const size_t at = Below(text.size());
          text.erase(at, 1 + Below(16));
        }
        break;
      case 5:
        if (!text.empty()) {
          const size_t at = Below(text.size());
          const std::string part = text.substr(at, 1 + Below(40));
          text.insert(Below(text.size() + 1), part);
        }
        break;
      default:
        text.resize(Below(text.size() + 1));
        break;
    }
  }

  uint64_t state_;
};
