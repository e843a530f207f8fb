#include "app/IntensityNormalization.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "numerics/UniformRandom.h"

namespace {

using Volume16 = HeapMatrix3D<short>;
using Volume8 = HeapMatrix3D<unsigned char>;

Volume16 Make16(int nz, int ny, int nx, const std::function<int(int, int, int)>& value) {
  Volume16 v;
  v.SetSize(nz, ny, nx);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) v(z, y, x) = static_cast<short>(value(z, y, x));
  return v;
}

Volume8 Make8(const Volume16& v) {
  Volume8 out;
  out.SetSize(v.dim0(), v.dim1(), v.dim2());
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) out(z, y, x) = static_cast<unsigned char>(v(z, y, x));
  return out;
}

// Two-tissue phantom, 4 x 5 x 6: labels 1 (slices 0, 1) and 2 (slices 2, 3) in the
// first five columns, 50 voxels each; column 5 is background, label 0, intensity 0.
int Tissue(int z, int, int x) { return x == 5 ? 0 : z < 2 ? 1 : 2; }

}  // namespace

TEST(EstimateIntensityRangeTest, TemplateEqualToVolumeMapsOntoTheFullByteRange) {
  // The box holds 50 and 150 only; the voxels outside it show the whole mapping.
  Volume16 templ = Make16(4, 4, 6, [](int z, int, int x) { return x < 4 ? (z < 2 ? 50 : 150) : 0; });
  templ(0, 0, 4) = 100;
  templ(0, 0, 5) = 300;
  Volume16 volume = templ;
  testing::internal::CaptureStdout();
  EstimateIntensityRange(templ, volume, SubVolume(0, 0, 0, 3, 3, 3), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(volume(0, 0, 0), 0);
  EXPECT_EQ(volume(3, 3, 3), 255);
  EXPECT_EQ(volume(0, 0, 4), 127);  // (100 - 50) * 255 / 100 = 127.5
  EXPECT_EQ(volume(0, 0, 5), 255);  // clamped above
  EXPECT_EQ(volume(1, 1, 5), 0);    // clamped below
}

TEST(EstimateIntensityRangeTest, SmallTopBinsLowerTheUpperBound) {
  // Box: 40 voxels of 100, 20 of 150, 4 of 200. On the grid from 120 the smoothed
  // masses are 0.227, 0.227, 0.455 at 149..151 and 0.045 at 199, 200: the two small top
  // bins and the empty ones below them are cut, so maxT walks down to 151, and the top
  // peak is at 151.5 on both sides (ratio 1): v -> (v - 100) * 255 / 51.
  Volume16 templ = Make16(5, 4, 4, [](int z, int y, int x) {
    const int i = (z * 4 + y) * 4 + x;
    return z == 4 ? 0 : i < 40 ? 100 : i < 60 ? 150 : 200;
  });
  templ(4, 0, 0) = 110;
  Volume16 volume = templ;
  TempFolder folder;
  EstimateIntensityRange(templ, volume, SubVolume(0, 0, 0, 3, 3, 3), folder.path());
  EXPECT_EQ(ReadFileText(folder.file("setting.txt")),
            "IntensityRange:100 151\nIntensityType: 4\nClassifierVersion: 0\n");
  EXPECT_EQ(volume(0, 0, 0), 0);
  EXPECT_EQ(volume(4, 0, 0), 50);
  EXPECT_EQ(volume(2, 2, 2), 250);  // index 42: 150
  EXPECT_EQ(volume(3, 3, 3), 255);  // 200
}

TEST(NormalizeIntensityTest, TwoTissuePhantom) {
  // Template intensities 100 and 200, the volume's half of that: the scale fit finds 2,
  // the spreads then agree (b = 1) and both map onto 0..255 by the template's range.
  const Volume16 templ = Make16(4, 5, 6, [](int z, int y, int x) { return 100 * Tissue(z, y, x); });
  Volume16 volume = Make16(4, 5, 6, [](int z, int y, int x) { return 50 * Tissue(z, y, x); });
  const Volume16 labels16 = Make16(4, 5, 6, Tissue);
  const Volume8 labels8 = Make8(labels16);
  double deviation = 0;
  testing::internal::CaptureStdout();
  NormalizeIntensity(templ, volume, SubVolume(0, 0, 0, 5, 4, 3), labels16, labels8, 0, &deviation, 1, "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "num_structure_use_tonormalize = 3\n"
            "mx_a(0) = 2.000000\n"
            "mx_b(0) = 1.000000\n"
            "min_source = 0\n");
  EXPECT_EQ(volume(0, 0, 0), 127);  // 100 * 255 / 200
  EXPECT_EQ(volume(3, 4, 4), 255);
  EXPECT_EQ(volume(2, 2, 5), 0);
  // sqrt(devB[0]) * 255 / (maxS - minS) / b = 125 * 255 / 200
  EXPECT_DOUBLE_EQ(deviation, 159.375);
}

TEST(NormalizeIntensityTest, StoredValuesAboveTheSignedRangeHalveTheVolumeFirst) {
  const Volume16 templ = Make16(4, 5, 6, [](int z, int y, int x) { return 100 * Tissue(z, y, x); });
  Volume16 volume = Make16(4, 5, 6, [](int, int, int) { return 7; });
  volume(0, 0, 0) = -2;  // stored 65534
  const Volume16 labels16 = Make16(4, 5, 6, [](int, int, int) { return 1; });
  Volume8 labels8 = Make8(labels16);
  labels8(1, 1, 1) = 3;  // above the volume's largest label: stops after the halving
  testing::internal::CaptureStdout();
  NormalizeIntensity(templ, volume, SubVolume(0, 0, 0, 5, 4, 3), labels16, labels8, 0, nullptr, 1, "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid label found! Please check the label image.\n");
  EXPECT_EQ(volume(0, 0, 0), 32767);
  EXPECT_EQ(volume(1, 0, 0), 3);
}

TEST(NormalizeIntensityTest, LabelMissingFromTheTemplateIsLeftOutOfTheFit) {
  // Label 3 lies only in the volume's labels; the fit uses labels 0, 1, 2 as before.
  const Volume16 templ = Make16(4, 5, 6, [](int z, int y, int x) { return 100 * Tissue(z, y, x); });
  Volume16 volume = Make16(4, 5, 6, [](int z, int y, int x) { return 50 * Tissue(z, y, x); });
  Volume16 labels16 = Make16(4, 5, 6, Tissue);
  const Volume8 labels8 = Make8(labels16);
  labels16(0, 0, 5) = 3;
  testing::internal::CaptureStdout();
  NormalizeIntensity(templ, volume, SubVolume(0, 0, 0, 5, 4, 3), labels16, labels8, 0, nullptr, 1, "");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, out.find("mx_a")),
            "Label 3 has no voxel in the template's label volume; left out of the fit\n"
            "num_structure_use_tonormalize = 3\n");
  EXPECT_EQ(volume(0, 0, 0), 127);
  EXPECT_EQ(volume(3, 4, 4), 255);
}

TEST(FitIntensityMappingTest, OffsetAndPlainMappings) {
  // Template = 2 x volume on the labelled part, so c1 = 2 and c0 = 0 up to rounding;
  // the values are chosen so that rounding cannot move a result. Column 3 lies
  // beyond the label volume: mapped but not fitted.
  const int extra[2][3] = {{1000, 701, 961}, {962, 0, 101}};
  auto vol = [&](int z, int y, int x) { return x == 3 ? extra[z][y] : (y == 0 && x == 0) ? 0 : z == 0 ? 101 : 301; };
  const Volume16 templ = Make16(2, 3, 4, [&](int z, int y, int x) { return 2 * vol(z, y, x); });
  const Volume16 labels = Make16(2, 3, 3, [](int z, int y, int x) { return (y == 0 && x == 0) ? 0 : z + 1; });
  struct Case {
    int offset;
    std::vector<int> column3;  // (0,0) (0,1) (0,2) (1,0) (1,1) (1,2)
    int label1, label2;
  };
  const Case cases[] = {{0, {255, 200, 255, 255, 0, 0}, 0, 40}, {1, {255, 160, 254, 255, 0, 0}, 0, 14}};
  // A template larger than the volume is read at the same indices: its extra column
  // changes nothing.
  const Volume16 widerTempl = Make16(2, 3, 5, [&](int z, int y, int x) { return x == 4 ? 3000 : 2 * vol(z, y, x); });
  for (const Case& c : cases)
    for (const Volume16* t : {&templ, &widerTempl}) {
    SCOPED_TRACE(c.offset);
    SCOPED_TRACE(t->dim2());
    Volume16 volume = Make16(2, 3, 4, vol);
    FitIntensityMapping(*t, volume, labels, c.offset);
    std::vector<int> got;
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 3; ++y) got.push_back(volume(z, y, 3));
    EXPECT_EQ(got, c.column3);
    EXPECT_EQ(volume(0, 1, 1), c.label1);
    EXPECT_EQ(volume(1, 1, 1), c.label2);
    EXPECT_EQ(volume(0, 0, 0), 0);
    }
}

TEST(RefineIntensityMappingTest, ScaleFromLabelsAboveZero) {
  // Label 1: 20 -> 50, label 2: 50 -> 125 (50 voxels each): s = 2.5; label 0 ignored.
  const Volume16 labels = Make16(4, 5, 6, Tissue);
  const Volume16 templ = Make16(4, 5, 6, [](int z, int, int x) { return x == 5 ? 999 : z < 2 ? 50 : 125; });
  Volume16 volume = Make16(4, 5, 6, [](int z, int, int x) { return x == 5 ? 7 : z < 2 ? 20 : 50; });
  volume(0, 0, 5) = 103;
  RefineIntensityMapping(templ, volume, labels);
  EXPECT_EQ(volume(0, 0, 0), 50);
  EXPECT_EQ(volume(3, 0, 0), 125);
  EXPECT_EQ(volume(1, 1, 5), 17);   // 7 * 2.5
  EXPECT_EQ(volume(0, 0, 5), 255);  // 257.5 clamped
  // Labels on the first four columns only, and a template wider than the volume: the
  // same scale.
  const Volume16 narrowLabels = Make16(4, 5, 4, Tissue);
  const Volume16 widerTempl = Make16(4, 5, 8, [&](int z, int y, int x) { return x < 6 ? templ(z, y, x) : 4000; });
  Volume16 again = Make16(4, 5, 6, [](int z, int, int x) { return x == 5 ? 7 : z < 2 ? 20 : 50; });
  RefineIntensityMapping(widerTempl, again, narrowLabels);
  EXPECT_EQ(again(0, 0, 0), 50);
  EXPECT_EQ(again(3, 0, 0), 125);
  EXPECT_EQ(again(1, 1, 5), 17);
}

TEST(MatchIntensityHistogramsTest, RatioOfSmoothedModes) {
  // Template box: 60 voxels of 100, 40 of 200; volume box: 60 of 50, 40 of 100. After
  // smoothing with (0.25, 0.25, 0.5) the fullest bin is the one above each spike:
  // modes 103 and 53.
  auto split = [](int z, int, int) { return z < 3 ? 1 : 2; };
  const Volume16 templ = Make16(5, 4, 6, [&](int z, int y, int x) { return x < 5 ? 100 * split(z, y, x) : 0; });
  Volume16 volume = Make16(5, 4, 6, [&](int z, int y, int x) { return x < 5 ? 50 * split(z, y, x) : 0; });
  volume(0, 0, 5) = 200;
  MatchIntensityHistograms(templ, volume, Volume16(), SubVolume(0, 0, 0, 4, 3, 4));
  EXPECT_EQ(volume(0, 0, 0), 97);   // 50 * 103 / 53
  EXPECT_EQ(volume(4, 0, 0), 194);  // 100 * 103 / 53
  EXPECT_EQ(volume(0, 1, 5), 0);
  EXPECT_EQ(volume(0, 0, 5), 255);
}

TEST(IntensityNormalizationTest, DegenerateInputLeavesTheVolumeUnchanged) {
  const Volume16 labels16 = Make16(4, 5, 6, Tissue);
  const Volume8 labels8 = Make8(labels16);
  const Volume16 phantom = Make16(4, 5, 6, [](int z, int y, int x) { return 60 * Tissue(z, y, x) + x; });
  const Volume16 zero = Make16(4, 5, 6, [](int, int, int) { return 0; });
  const Volume16 narrow = Make16(4, 5, 6, [](int z, int, int) { return 50 + z; });
  const Volume16 flat = Make16(4, 5, 6, [](int, int, int) { return 80; });
  const Volume16 smaller = Make16(4, 5, 5, [](int, int, int) { return 80; });
  const Volume16 wider = Make16(4, 5, 7, Tissue);
  const Volume16 widest = Make16(4, 5, 8, [](int, int, int) { return 80; });
  const SubVolume box(0, 0, 0, 5, 4, 3);
  const SubVolume outside(0, 0, 0, 6, 4, 3);
  struct Case {
    const char* name;
    std::function<void(Volume16&)> run;
    Volume16 start;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"no positive voxel", [&](Volume16& v) { EstimateIntensityRange(phantom, v, box, ""); }, zero,
       "No positive voxel in the volume's box; intensities left unchanged\n"},
      {"range narrower than the offset", [&](Volume16& v) { EstimateIntensityRange(phantom, v, box, ""); }, narrow,
       "Intensity range of the volume is narrower than the histogram's offset of 20; intensities left unchanged\n"},
      {"flat template", [&](Volume16& v) { NormalizeIntensity(flat, v, box, labels16, labels8, 0, nullptr, 1, ""); },
       phantom, "num_structure_use_tonormalize = 3\nFlat template (maxT = minT); intensities left unchanged\n"},
      {"labels larger than the template", [&](Volume16& v) { FitIntensityMapping(smaller, v, labels16, 1); },
       phantom, "Label volume (6 x 5 x 4) is larger than the template (5 x 5 x 4); intensities left unchanged\n"},
      {"labels larger than the volume", [&](Volume16& v) { RefineIntensityMapping(widest, v, wider); }, phantom,
       "Label volume (7 x 5 x 4) is larger than the volume (6 x 5 x 4); intensities left unchanged\n"},
      {"box outside the volume", [&](Volume16& v) { MatchIntensityHistograms(phantom, v, labels16, outside); },
       phantom, "Box 0 0 0 6 4 3 lies outside the volume (6 x 5 x 4); intensities left unchanged\n"},
      {"box outside for the mean fit",
       [&](Volume16& v) { NormalizeIntensity(phantom, v, outside, labels16, labels8, 0, nullptr, 1, ""); }, phantom,
       "Box 0 0 0 6 4 3 lies outside the volume (6 x 5 x 4); intensities left unchanged\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Volume16 v = c.start;
    testing::internal::CaptureStdout();
    c.run(v);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    EXPECT_TRUE(SameVoxels(v, c.start));
  }
}

TEST(IntensityNormalizationTest, RefusedRangeEstimateStillWritesTheSettings) {
  TempFolder folder;
  const Volume16 templ = Make16(4, 5, 6, [](int z, int y, int x) { return 60 * Tissue(z, y, x) + x; });
  Volume16 volume = Make16(4, 5, 6, [](int, int, int) { return 0; });
  testing::internal::CaptureStdout();
  EstimateIntensityRange(templ, volume, SubVolume(0, 0, 0, 5, 4, 3), folder.path());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ReadFileText(folder.file("setting.txt")),
            "IntensityRange:5 124\nIntensityType: 4\nClassifierVersion: 0\n");
}

TEST(EstimateIntensityRangeTest, AHistogramWithoutABinOfFivePercentKeepsItsTop) {
  // 320 voxels of 100 + (i mod 200): the grid from 120 spreads them over 180 bins of
  // about 0.006 each, so no bin reaches 0.05 and nothing is trimmed. The top stays at
  // the highest voxel, 299, the peaks agree (ratio 1): v -> (v - 100) * 255 / 199.
  Volume16 templ = Make16(5, 8, 8, [](int z, int y, int x) { return 100 + ((z * 8 + y) * 8 + x) % 200; });
  Volume16 volume = templ;
  TempFolder folder;
  EstimateIntensityRange(templ, volume, SubVolume(0, 0, 0, 7, 7, 4), folder.path());
  EXPECT_EQ(ReadFileText(folder.file("setting.txt")),
            "IntensityRange:100 299\nIntensityType: 4\nClassifierVersion: 0\n");
  int saturated = 0;
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) saturated += volume(z, y, x) == 255;
  EXPECT_EQ(saturated, 1);                 // only the voxel of 299
  EXPECT_EQ(volume(0, 0, 0), 0);           // 100
  EXPECT_EQ(volume(1, 4, 4), 128);         // 200: 100 * 255 / 199 = 128.1
  EXPECT_EQ(volume(0, 2, 3), 24);          // 119: 19 * 255 / 199 = 24.3
  EXPECT_EQ(volume(3, 0, 7), 255);         // i = 199: 299
}

TEST(NormalizeIntensityTest, FewerThanTwoUsedLabelsFallBackBeforeAFlatTemplateIsRefused) {
  // One used label: the range estimate runs (its two histograms take their draws and it
  // writes the settings) even though the template is flat, which only the mean fit
  // could not use.
  const Volume16 flat = Make16(4, 5, 6, [](int, int, int) { return 80; });
  Volume16 volume = Make16(4, 5, 6, [](int z, int y, int x) { return 60 * Tissue(z, y, x) + x; });
  const Volume16 ones = Make16(4, 5, 6, [](int, int, int) { return 1; });
  TempFolder folder;
  ResetUniformRandomForTesting();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(NormalizeIntensity(flat, volume, SubVolume(0, 0, 0, 5, 4, 3), ones, Make8(ones), 0, nullptr, 1,
                                  folder.path()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "num_structure_use_tonormalize = 1\n"
            "Intensity range of the template is narrower than the histogram's offset of 20; intensities left "
            "unchanged\n");
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  EXPECT_EQ(ReadFileText(folder.file("setting.txt")), "IntensityRange:80 80\nIntensityType: 4\nClassifierVersion: 0\n");
}
