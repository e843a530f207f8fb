// Fuzz runs of the text readers of a model folder on texts in memory: the settings
// "setting.txt" (with the check a load applies to them) and the lift factors
// "prob_lift.txt". Each reader gets a few thousand mutated good texts (TextMutator.h:
// a fixed seed, so every run sees the same inputs; the sanitizer build runs them too)
// and must either accept values in their documented ranges or refuse with one line
// naming the file; never crash.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TextMutator.h"
#include "models/AppearanceSettings.h"
#include "models/LiftFactors.h"

namespace {

bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

TEST(ModelFolderTextFuzz, SettingsReadAndCheckEitherAcceptOrRefuseWithOneLine) {
  const std::vector<std::string> seeds = {
      "ModelType: 3\nNumberofClasses: 3\nRadius: 5\nSub-volume: 0 0 0 34 53 39\nIntensityRange:4 23\n"
      "IntensityType: 4\nClassifierVersion: 0\n",
      "ModelType: 1\nNumberofClasses: 7\nRadius: 5\nSub-volume: 10 20 30 40 50 60\n",
      " ModelType : 2 \r\nRadius:1\nNumberofClasses:2\nSub-volume:-1+2-3 4 5 6\n",
  };
  const std::string path = "m\\appearance\\setting.txt";
  TextMutator mutator(TextMutator::Seed(29));
  const int n = TextMutator::Iterations(5000);
  int accepted = 0, refused = 0;
  for (int i = 0; i < n; ++i) {
    const std::string text = mutator.Mutate(seeds[static_cast<size_t>(i) % seeds.size()]);
    AppearanceSettings s;
    std::string error;
    if (!ReadAppearanceSettingsText(text, s)) {
      ASSERT_TRUE(text.empty()) << i;
      continue;
    }
    if (CheckAppearanceSettings(s, path, &error)) {
      ++accepted;
      ASSERT_TRUE(s.modelType >= 1 && s.modelType <= 3) << i;
      ASSERT_TRUE(s.numClasses >= 1 && s.numClasses <= kMaxModelClasses) << i;
      ASSERT_TRUE(s.radius >= kMinModelRadius && s.radius <= kMaxModelRadius) << i;
      ASSERT_FALSE(s.shortSubVolume) << i;
    } else {
      ++refused;
      ASSERT_TRUE(OneLine(error)) << i;
      ASSERT_TRUE(error == "invalid model settings in " + path ||
                  error.rfind(path + " names no model that can segment (ModelType ", 0) == 0)
          << error;
    }
  }
  // The inputs reach every outcome.
  EXPECT_GT(accepted, n / 10);
  EXPECT_GT(refused, n / 10);
}

TEST(ModelFolderTextFuzz, LiftFactorsEitherAcceptPositiveFactorsOrRefuseWithOneLine) {
  const std::vector<std::string> seeds = {"0 1.0\n1 1.2\n2 0.9\n", "7 9.0\n1 3.0\n", "2 1.5", "0 0x1p1 1 2.5e-1\n"};
  const std::string path = "m\\appearance\\prob_lift.txt";
  TextMutator mutator(TextMutator::Seed(27));
  const int n = TextMutator::Iterations(5000);
  int accepted = 0, refused = 0;
  for (int i = 0; i < n; ++i) {
    const std::string text = mutator.Mutate(seeds[static_cast<size_t>(i) % seeds.size()]);
    const int classes = 1 + static_cast<int>(mutator.Below(5));
    VectorQo<double> lift(1, -7.0);
    std::string error;
    if (ParseLiftFactors(text, classes, path, lift, &error)) {
      ++accepted;
      ASSERT_EQ(ElementCount(lift), classes) << i;
      for (int c = 0; c < classes; ++c) ASSERT_TRUE(std::isfinite(lift[c]) && lift[c] > 0.0) << i;
    } else {
      ++refused;
      ASSERT_TRUE(OneLine(error)) << i << ": " << error;
      ASSERT_NE(error.find(" in " + path), std::string::npos) << error;
      ASSERT_EQ(ElementCount(lift), 1) << i;  // unchanged
      ASSERT_EQ(lift[0], -7.0) << i;
    }
  }
  EXPECT_GT(accepted, n / 10);
  EXPECT_GT(refused, n / 10);
}

}  // namespace
