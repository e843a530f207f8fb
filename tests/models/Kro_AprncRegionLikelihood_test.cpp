#include "models/Kro_AprncRegionLikelihood.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "models/Kro_AppearanceAll.h"
#include "platform/NativePath.h"

namespace {

Kro_AprncRegionLikelihood Trained() {
  Kro_AprncRegionLikelihood r;
  r.histogram.Init(0.0, 255.0, 5.0);
  r.histogram.Fill(0.0);
  r.histogram.Add(100.0, 3.0);
  r.histogram.Add(105.0, 1.0);
  r.histogram.Normalize();
  r.Likelihood();
  return r;
}

TEST(AprncRegionLikelihood, LikelihoodIsNegativeLogOnTheGridPlusOneBin) {
  Kro_AprncRegionLikelihood r = Trained();
  EXPECT_EQ(r.histogram.bins, 52);
  EXPECT_EQ(r.cost.bins, 53);
  EXPECT_NEAR(r.cost.Pdf(100.0), -std::log(0.75), 1e-12);
  EXPECT_NEAR(r.cost.Pdf(105.0), -std::log(0.25), 1e-12);
  EXPECT_EQ(r.cost.Pdf(0.0), 1000.0);
  EXPECT_EQ(r.cost.Pdf(260.0), 1000.0);  // the extra bin lies beyond the histogram

  Kro_AprncRegionLikelihood empty;
  empty.histogram.Init(0.0, 255.0, 5.0);
  EXPECT_FALSE(empty.histogram.Normalize());
  empty.Likelihood();
  for (int i = 0; i < empty.cost.bins; ++i) EXPECT_EQ(empty.cost.pdf[i], 1000.0);
}

TEST(AprncRegionLikelihood, RecordRoundTrip) {
  TempFolder tmp;
  const Kro_AprncRegionLikelihood r = Trained();
  ASSERT_TRUE(r.Write(tmp.file("3.apr")));
  EXPECT_EQ(ReadFileBytes(tmp.file("3.apr")).size(), static_cast<size_t>(28 + 52 * 8 + 28 + 53 * 8));
  Kro_AprncRegionLikelihood back;
  ASSERT_TRUE(back.Read(tmp.file("3.apr")));
  ASSERT_TRUE(back.Write(tmp.file("again.apr")));
  EXPECT_EQ(ReadFileBytes(tmp.file("again.apr")), ReadFileBytes(tmp.file("3.apr")));
  EXPECT_EQ(back.cost.Pdf(100.0), r.cost.Pdf(100.0));
}

// Each case edits the bytes of a good record; the reader must refuse it and leave the
// object as it was.
TEST(AprncRegionLikelihood, CorruptRecordsAreRejected) {
  TempFolder tmp;
  ASSERT_TRUE(Trained().Write(tmp.file("good.apr")));
  const std::vector<uint8_t> good = ReadFileBytes(tmp.file("good.apr"));
  const size_t costAt = 28 + 52 * 8;
  auto putI32 = [](std::vector<uint8_t>& b, size_t at, int32_t v) { std::memcpy(&b[at], &v, 4); };
  auto putF64 = [](std::vector<uint8_t>& b, size_t at, double v) { std::memcpy(&b[at], &v, 8); };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
  };
  const Case cases[] = {
      {"empty file", [](std::vector<uint8_t>& b) { b.clear(); }},
      {"truncated cost", [](std::vector<uint8_t>& b) { b.resize(b.size() - 4); }},
      {"trailing byte", [](std::vector<uint8_t>& b) { b.push_back(0); }},
      {"two rows", [&](std::vector<uint8_t>& b) { putI32(b, 0, 2); }},
      {"huge mass count", [&](std::vector<uint8_t>& b) { putI32(b, 4, 0x7fffffff); }},
      {"negative mass count", [&](std::vector<uint8_t>& b) { putI32(b, 4, -5); }},
      {"bin count not the mass count", [&](std::vector<uint8_t>& b) { putI32(b, 8 + 52 * 8, 51); }},
      {"zero width", [&](std::vector<uint8_t>& b) { putF64(b, 8 + 52 * 8 + 12, 0.0); }},
      {"NaN minimum", [&](std::vector<uint8_t>& b) { putF64(b, 8 + 52 * 8 + 4, std::nan("")); }},
      {"cost grid not one bin longer", [&](std::vector<uint8_t>& b) { putF64(b, costAt + 8 + 53 * 8 + 4, 1.0); }},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.edit(bytes);
    WriteFileBytes(tmp.file("bad.apr"), bytes);
    Kro_AprncRegionLikelihood r;
    std::string error;
    EXPECT_FALSE(r.Read(tmp.file("bad.apr"), &error)) << c.name;
    EXPECT_EQ(error, "invalid appearance record " + tmp.file("bad.apr")) << c.name;
    EXPECT_EQ(r.histogram.bins, 0) << c.name;
  }
}

TEST(AppearanceAllGenerative, EstimateWriteAndReadBack) {
  TempFolder tmp;
  HeapMatrix3D<short> intensities, labels;
  intensities.SetSize(2, 2, 2);
  labels.SetSize(2, 2, 2);
  intensities.Fill(100);
  labels.Fill(1);
  labels(0, 0, 0) = 2;
  intensities(0, 0, 0) = 30;
  labels(1, 1, 1) = 300;  // outside the 256 labels: ignored
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.EstimateGenerative(intensities, labels, tmp.path().c_str(), 1, 2, 10));
  EXPECT_TRUE(all.Present(1));
  EXPECT_TRUE(all.Present(2));
  EXPECT_FALSE(all.Present(0));
  EXPECT_TRUE(PathExists(tmp.file("11.apr")));
  EXPECT_TRUE(PathExists(tmp.file("12.apr")));
  ASSERT_TRUE(all.WriteGenerative(tmp.path().c_str()));
  EXPECT_TRUE(ReadFileBytes(tmp.file("appearance.mod")).empty());

  Kro_AppearanceAll back;
  ASSERT_TRUE(back.ReadGenerative(tmp.path().c_str()));
  EXPECT_TRUE(back.Present(1));
  EXPECT_TRUE(back.Present(2));
  EXPECT_FALSE(back.Present(3));
  EXPECT_EQ(back.Likelihood(2).cost.Pdf(30.0), all.Likelihood(2).cost.Pdf(30.0));

  // A corrupt record fails the whole read and changes nothing.
  WriteFileBytes(tmp.file("5.apr"), {1, 0, 0, 0});
  Kro_AppearanceAll third;
  EXPECT_FALSE(third.ReadGenerative(tmp.path().c_str()));
  EXPECT_FALSE(third.Present(1));
  // A marker that is not empty is not one this program writes.
  WriteFileText(tmp.file("appearance.mod"), "x");
  EXPECT_FALSE(third.ReadGenerative(tmp.path().c_str()));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("invalid appearance record " + tmp.file("5.apr")), std::string::npos) << out;
  EXPECT_NE(out.find("invalid appearance model marker"), std::string::npos) << out;
}

TEST(AppearanceAllGenerative, FaceTerms) {
  Kro_AppearanceAll all;
  HeapMatrix3D<short> intensities, labels;
  intensities.SetSize(1, 1, 2);
  labels.SetSize(1, 1, 2);
  intensities(0, 0, 0) = 100;
  intensities(0, 0, 1) = 200;
  labels(0, 0, 0) = 0;
  labels(0, 0, 1) = 1;
  TempFolder tmp;
  ASSERT_TRUE(all.EstimateGenerative(intensities, labels, tmp.path().c_str(), 0, -1, 0));
  HeapMatrix3D<unsigned char> volume, labelVolume;
  volume.SetSize(1, 1, 2);
  volume(0, 0, 0) = 100;
  volume(0, 0, 1) = 200;
  labelVolume.SetSize(1, 1, 2);
  labelVolume(0, 0, 0) = 0;
  labelVolume(0, 0, 1) = 1;
  all.SetVolume(volume, nullptr, nullptr);
  all.SetLabelVolume(&labelVolume);
  int p[3], q[3];
  EXPECT_FALSE(all.NeighbourBox(p[0], p[1], p[2], q[0], q[1], q[2], 0, 0, 0, 1));  // z = 0 on axis 0
  EXPECT_TRUE(all.NeighbourBox(p[0], p[1], p[2], q[0], q[1], q[2], 2, 0, 0, 1));
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(q[2], 1);
  // Label 1 sits on the q side (A); B is label 0, whose cost is weighted by 0.75.
  const double a = all.Likelihood(1).cost.Pdf(200.0);
  const double b = all.Likelihood(0).cost.Pdf(100.0);
  EXPECT_FLOAT_EQ(all.RegionLikelihood(1, 2, 0, 0, 1), static_cast<float>(0.75 * b - a));
  EXPECT_EQ(all.VoxelLikelihood(1, 2, 0, 0, 1), static_cast<double>(all.RegionLikelihood(1, 2, 0, 0, 1)));
  EXPECT_EQ(all.ComputeEdgeTerms(1, 2, 0, 0, 1), 0.0);  // no model
  EXPECT_EQ(all.PosteriorLikelihood(1, 2, 0, 0, 1), 0.0);
}

}  // namespace
