#include "models/Kro_ShapeGlobalPCA.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "models/Kro_3DTopology.h"
#include "models/Kro_ShapeGlobaAll.h"
#include "numerics/UniformRandom.h"
#include "platform/FileSearch.h"

namespace {

HeapMatrix3D<short> RandomGrid(int e0, int e1, int e2, std::mt19937& rng) {
  HeapMatrix3D<short> g;
  g.SetSize(e0, e1, e2);
  for (int a = 0; a < e0; ++a)
    for (int b = 0; b < e1; ++b)
      for (int c = 0; c < e2; ++c) g(a, b, c) = static_cast<short>(static_cast<int>(rng() % 21) - 10);
  return g;
}

// A label volume with an ellipsoid of `label` (semi-axes r0, r1, r2 around the centre).
HeapMatrix3D<unsigned char> Ellipsoid(int n, double r0, double r1, double r2, int label) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(n, n, n);
  const double c = (n - 1) / 2.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        double x = (i - c) / r0, y = (j - c) / r1, z = (k - c) / r2;
        v(i, j, k) = x * x + y * y + z * z <= 1.0 ? static_cast<unsigned char>(label) : 1;
      }
  return v;
}

TEST(Kro_ShapeGlobalPCA, SetGridRoundsDownToOddExtentsAndNumbersCells) {
  Kro_ShapeGlobalPCA m;
  EXPECT_EQ(m.gridExtents[0], 19);
  m.SetGrid(20, 18, 16);
  EXPECT_EQ(m.gridExtents[0], 19);
  EXPECT_EQ(m.gridExtents[1], 17);
  EXPECT_EQ(m.gridExtents[2], 15);
  EXPECT_EQ(m.halfExtents[0], 9);
  EXPECT_EQ(m.halfExtents[1], 8);
  EXPECT_EQ(m.halfExtents[2], 7);
  EXPECT_EQ(m.indexGrid(0, 0, 1), 1);
  EXPECT_EQ(m.indexGrid(0, 1, 0), 15);
  EXPECT_EQ(m.indexGrid(1, 0, 0), 255);
  EXPECT_EQ(m.indexGrid(18, 16, 14), 19 * 17 * 15 - 1);
  m.SetGrid(0, -3, 1);
  EXPECT_EQ(m.gridExtents[0], 1);
  EXPECT_EQ(m.gridExtents[1], 1);
  EXPECT_EQ(m.gridExtents[2], 1);
}

TEST(Kro_ShapeGlobalPCA, GridAndVectorRoundTrip) {
  Kro_ShapeGlobalPCA m;
  m.SetGrid(3, 5, 7);
  std::mt19937 rng(3);
  HeapMatrix3D<short> g = RandomGrid(3, 5, 7, rng), back;
  VectorQo<double> v;
  m.GridToVector(v, g);
  ASSERT_EQ(ElementCount(v), 105);
  EXPECT_EQ(v[m.indexGrid(2, 1, 3)], g(2, 1, 3));
  m.VectorToGrid(back, v);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 5; ++b)
      for (int c = 0; c < 7; ++c) EXPECT_EQ(back(a, b, c), g(a, b, c));
  HeapMatrix3D<short> other = RandomGrid(3, 5, 5, rng);
  m.GridToVector(v, other);
  EXPECT_EQ(ElementCount(v), 0);
}

// PropagateDistance against scipy's taxicab chamfer distance to the nearest 0 cell,
// clamped at 10, with each cell's sign kept.
TEST(Kro_ShapeGlobalPCA, PropagateDistanceMatchesTaxicabDistance) {
  std::mt19937 rng(8);
  std::ostringstream input;
  std::vector<HeapMatrix3D<short>> before, after;
  const int sizes[][3] = {{5, 6, 7}, {3, 3, 9}, {8, 4, 5}, {1, 12, 12}};
  for (const auto& s : sizes) {
    HeapMatrix3D<short> g;
    g.SetSize(s[0], s[1], s[2]);
    for (int a = 0; a < s[0]; ++a)
      for (int b = 0; b < s[1]; ++b)
        for (int c = 0; c < s[2]; ++c) g(a, b, c) = rng() % 12 == 0 ? 0 : (rng() % 2 ? 10 : -10);
    g(0, 0, 0) = 0;
    before.push_back(g);
    Kro_ShapeGlobalPCA m;
    HeapMatrix3D<short> one = g;
    m.PropagateDistance(one, 1);  // one pass: signs kept, magnitudes never raised
    for (int a = 0; a < s[0]; ++a)
      for (int b = 0; b < s[1]; ++b)
        for (int c = 0; c < s[2]; ++c) {
          EXPECT_LE(std::abs(one(a, b, c)), std::abs(g(a, b, c)));
          EXPECT_EQ((one(a, b, c) > 0) - (one(a, b, c) < 0), (g(a, b, c) > 0) - (g(a, b, c) < 0));
        }
    m.PropagateDistance(g, 30);
    after.push_back(g);
    input << s[0] << " " << s[1] << " " << s[2];
    for (int a = 0; a < s[0]; ++a)
      for (int b = 0; b < s[1]; ++b)
        for (int c = 0; c < s[2]; ++c) input << " " << (before.back()(a, b, c) != 0);
    input << "\n";
  }
  const char* script = R"(
import sys, numpy as np
from scipy import ndimage
for line in open(sys.argv[1]):
    f = [int(x) for x in line.split()]
    m = np.array(f[3:]).reshape(f[0], f[1], f[2])
    d = ndimage.distance_transform_cdt(m, metric='taxicab')
    print(" ".join(str(min(int(x), 10)) for x in d.ravel()))
)";
  TempFolder tmp;
  WriteFileText(tmp.file("grids.txt"), input.str());
  ProcessResult r = RunPython(script, {tmp.file("grids.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  for (size_t n = 0; n < after.size(); ++n) {
    const HeapMatrix3D<short>& g = after[n];
    for (int a = 0; a < g.dim0(); ++a)
      for (int b = 0; b < g.dim1(); ++b)
        for (int c = 0; c < g.dim2(); ++c) {
          int d = -1;
          out >> d;
          const int sign = before[n](a, b, c) < 0 ? -1 : 1;
          EXPECT_EQ(g(a, b, c), sign * d) << "grid " << n << " cell " << a << " " << b << " " << c;
        }
  }
}

TEST(Kro_ShapeGlobalPCA, IsolateLabelKeepsTheLargerBlob) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(6, 6, 12);
  auto block = [&](int i0, int j0, int k0, int n, unsigned char L) {
    for (int i = i0; i < i0 + n; ++i)
      for (int j = j0; j < j0 + n; ++j)
        for (int k = k0; k < k0 + n; ++k) v(i, j, k) = L;
  };
  block(0, 0, 0, 2, 4);  // 8 voxels
  block(2, 2, 7, 3, 4);  // 27 voxels
  block(4, 0, 0, 2, 2);  // another label
  Kro_ShapeGlobalPCA m;
  HeapMatrix3D<unsigned char> out;
  ASSERT_TRUE(m.IsolateLabel(out, v, 4));
  int kept = 0;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j)
      for (int k = 0; k < 12; ++k) {
        const bool inBig = i >= 2 && i < 5 && j >= 2 && j < 5 && k >= 7 && k < 10;
        EXPECT_EQ(out(i, j, k), inBig ? 4 : 0) << i << " " << j << " " << k;
        kept += out(i, j, k) != 0;
      }
  EXPECT_EQ(kept, 27);
  EXPECT_FALSE(m.IsolateLabel(out, v, 9));
}

// A model on a 5 x 3 x 3 grid trained on random grids, written to a ".pca" file.
class PcaFile : public testing::Test {
 protected:
  void SetUp() override {
    model.SetGrid(5, 3, 3);
    std::mt19937 rng(5);
    for (int n = 0; n < 4; ++n) model.AddGridSample(RandomGrid(5, 3, 3, rng));
    model.Fit(3);
    ASSERT_EQ(model.pca.NumModes(), 3);
    for (float& s : model.scale) s = 0.7f;
    model.meanVolume = 12.5;
    model.volumeSpread = 3.0;
    path = tmp.file("3.pca");
    ASSERT_TRUE(model.Write(path));
    bytes = ReadFileBytes(path);
  }
  // Offsets of the record's fields.
  static constexpr size_t kMean = 24, kModes = kMean + 8 + 45 * 8, kSigmas = kModes + 8 + 45 * 3 * 8,
                          kDimension = kSigmas + 8 + 3 * 8, kDefects = kDimension + 4;
  template <class T>
  std::vector<uint8_t> With(size_t offset, T value) const {
    std::vector<uint8_t> b = bytes;
    std::memcpy(&b[offset], &value, sizeof value);
    return b;
  }

  TempFolder tmp;
  Kro_ShapeGlobalPCA model;
  std::string path;
  std::vector<uint8_t> bytes;
};

TEST_F(PcaFile, RoundTripRestoresModelGeometryAndStatistics) {
  Kro_ShapeGlobalPCA back;
  ASSERT_TRUE(back.Read(path));
  EXPECT_EQ(back.gridExtents[0], 5);
  EXPECT_EQ(back.gridExtents[1], 3);
  EXPECT_EQ(back.gridExtents[2], 3);
  EXPECT_EQ(back.indexGrid(1, 0, 0), 9);  // renumbered for the file's extents
  EXPECT_EQ(back.scale[2], 0.7f);
  EXPECT_EQ(back.baseScale, 0.7f);
  EXPECT_EQ(back.meanVolume, 12.5);
  EXPECT_EQ(back.volumeSpread, 3.0);
  EXPECT_EQ(back.pca.dimension, 45);
  ASSERT_EQ(back.pca.NumModes(), 3);
  for (int r = 0; r < 45; ++r) EXPECT_EQ(back.pca.modes(r, 2), model.pca.modes(r, 2));
  EXPECT_EQ(back.pca.orthoDefects.values, model.pca.orthoDefects.values);
  ASSERT_GT(back.pca.orthoDefects.Count(), 0);
  EXPECT_EQ(ReadFileBytes(path).size(), kDefects + 4 + back.pca.orthoDefects.Count() * 12u + 16u);
}

TEST_F(PcaFile, CorruptFilesAreRejectedAndChangeNothing) {
  const float nan = std::nanf("");
  struct Case {
    const char* defect;
    std::vector<uint8_t> file;
  } cases[] = {
      {"empty file", {}},
      {"cut in the scales", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10)},
      {"cut in the mean", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100)},
      {"cut in the defects", std::vector<uint8_t>(bytes.begin(), bytes.begin() + kDefects + 10)},
      {"cut in the volumes", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)},
      {"scale 0", With(0, 0.0f)},
      {"negative scale", With(8, -0.5f)},
      {"NaN scale", With(4, nan)},
      {"even extent", With(12, int32_t{4})},
      {"extent 0", With(16, int32_t{0})},
      {"negative extent", With(20, int32_t{-3})},
      {"extent out of range", With(12, int32_t{2001})},
      {"extents not matching the dimension", With(12, int32_t{3})},
      {"mean of the wrong length", With(kMean, int32_t{44})},
      {"modes with the wrong rows", With(kModes, int32_t{15})},
      {"one sigma too few", With(kSigmas, int32_t{2})},
      {"dimension not matching the mean", With(kDimension, int32_t{46})},
      {"negative defect count", With(kDefects, int32_t{-1})},
      {"defect count beyond the file", With(kDefects, int32_t{1 << 28})},
      {"defect row out of range", With(kDefects + 4, int32_t{45})},
      {"defect column negative", With(kDefects + 4 + 4 * 0 + 4 * size_t(bytes[kDefects] | bytes[kDefects + 1] << 8), int32_t{-1})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.defect);
    WriteFileBytes(tmp.file("bad.pca"), c.file);
    Kro_ShapeGlobalPCA fresh;
    EXPECT_FALSE(fresh.Read(tmp.file("bad.pca")));
    EXPECT_EQ(fresh.gridExtents[0], 19);
    EXPECT_EQ(fresh.gridExtents[2], 15);
    EXPECT_EQ(fresh.pca.NumModes(), 0);
    EXPECT_EQ(fresh.pca.dimension, 0);
    EXPECT_EQ(fresh.baseScale, 0.5f);
    EXPECT_EQ(fresh.scale[0], 0.5f);
    EXPECT_EQ(fresh.meanVolume, 0.0);
  }
  EXPECT_FALSE(Kro_ShapeGlobalPCA().Read(tmp.file("missing.pca")));
}

TEST_F(PcaFile, LoadAllLoadsWhatReadsAndReportsWhatDoesNot) {
  TempFolder folder;
  WriteFileBytes(folder.file("3.pca"), bytes);
  WriteFileBytes(folder.file("4.pca"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 50));
  Kro_ShapeGlobaAll all;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(all.LoadAll(folder.path()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shape 3 loaded\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read shape model " + folder.path() + "/4.pca\n");
  for (int L = 0; L < 256; ++L) EXPECT_EQ(all.loaded[L], L == 3) << L;
  EXPECT_EQ(all.models[3].gridExtents[0], 5);

  TempFolder empty;
  Kro_ShapeGlobaAll none;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(none.LoadAll(empty.path()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Kro_ShapeGlobalPCA, LoadTrainingShapesGivesMeanAndVarianceOfVolumes) {
  TempFolder tmp;
  for (int n = 1; n <= 3; ++n) {
    HeapMatrix3D<unsigned char> v;
    v.SetSize(4, 5, 6);
    for (int x = 0; x < 10 * n; ++x) (&v(0, 0, 0))[x] = 7;
    ASSERT_TRUE(v.Save(tmp.file("case" + std::to_string(n) + ".3dm")));
  }
  WriteFileBytes(tmp.file("case4.3dm"), HexBytes("0400 0500 0600 0707"));  // truncated: not counted
  Kro_ShapeGlobalPCA m;
  m.LoadTrainingShapes(tmp.path(), 7);
  EXPECT_DOUBLE_EQ(m.meanVolume, 20.0);
  EXPECT_DOUBLE_EQ(m.volumeSpread, 200.0 / 3.0);
  TempFolder empty;
  Kro_ShapeGlobalPCA e;
  e.LoadTrainingShapes(empty.path(), 7);  // nothing to divide by: unchanged
  EXPECT_EQ(e.meanVolume, 0.0);
  EXPECT_EQ(e.volumeSpread, 0.0);
}

// Label volumes -> training grids -> fitted model -> ".pca" -> loaded, fitted to a
// region and evaluated at its faces.
TEST(Kro_ShapeGlobalPCA, BuildTrainFitAndEvaluate) {
  TempFolder tmp;
  const std::string src = tmp.file("src"), grids = tmp.file("grids"), models = tmp.file("models");
  std::filesystem::create_directories(src);
  std::filesystem::create_directories(models);
  const double radii[][3] = {{4, 5, 6}, {6, 4, 5}, {5, 6, 3}, {3, 4, 7}, {6, 6, 4}};
  for (int n = 0; n < 5; ++n) {
    HeapMatrix3D<unsigned char> v = Ellipsoid(18, radii[n][0], radii[n][1], radii[n][2], 3);
    v(0, 0, 0) = 3;  // a stray voxel that isolation removes
    ASSERT_TRUE(v.Save(src + "/case" + std::to_string(n) + ".3dm"));
  }
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(tmp.path());  // the build log "printf.txt" goes here
  Kro_ShapeGlobalPCA m;
  const bool trained = m.TrainFromFolder(grids, 3, true, src, true);
  std::filesystem::current_path(cwd);
  ASSERT_TRUE(trained);
  EXPECT_EQ(FindFiles(src + "/3/*.3dm").size(), 5u);
  EXPECT_EQ(FindFiles(grids + "/3/*.3dm").size(), 5u);
  EXPECT_NE(ReadFileText(tmp.file("printf.txt")).find("Number of faces: "), std::string::npos);
  ASSERT_GE(m.pca.NumModes(), 2);
  EXPECT_EQ(m.pca.dimension, 19 * 17 * 15);
  // Grids are signed distances: the centre is inside, the corners outside.
  ASSERT_EQ(m.trainingGrids.size(), 5u);
  EXPECT_GT(m.trainingGrids[0](9, 8, 7), 0);
  EXPECT_LT(m.trainingGrids[0](0, 0, 0), 0);

  ASSERT_TRUE(m.WriteMeanAndModes(tmp.path(), 2));
  EXPECT_EQ(FindFiles(tmp.path() + "/mode_*.3dm").size(), 2u * m.pca.NumModes());
  EXPECT_EQ(FindFiles(tmp.path() + "/rand_*.3dm").size(), 2u);
  HeapMatrix3D<short> mean;
  ASSERT_TRUE(mean.Load(tmp.path() + "/mean.3dm"));
  EXPECT_EQ(mean.Min(), -1);
  EXPECT_EQ(mean.Max(), 0);

  ASSERT_TRUE(m.Write(models + "/3.pca"));
  Kro_ShapeGlobaAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.LoadAll(models));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shape 3 loaded\n");
  Kro_3DTopology topology;
  ASSERT_TRUE(topology.Build(Ellipsoid(18, 5, 5, 5, 3)));
  all.topology = &topology;
  all.FitAll();
  EXPECT_TRUE(all.fitted[3]);
  EXPECT_EQ(all.models[3].scale[0], m.scale[0]);  // fitted at the scale it was trained with
  EXPECT_FALSE(all.fitted[1]);
  int i = 0, j = 0, k = 0;
  const int a = topology.Region(3).FirstFace(i, j, k);
  ASSERT_GE(a, 0);
  EXPECT_TRUE(std::isfinite(all.Energy(3, a, i, j, k)));
  EXPECT_EQ(all.Energy(1, a, i, j, k), 0.0);
  EXPECT_EQ(all.VolumeEnergy(3, a, i, j, k), 0.0);  // spread 0: no volume term
}

// A label volume holding labels 1 (a slab on the border), 3 and 7 on background 0.
HeapMatrix3D<unsigned char> ThreeLabels() {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(14, 13, 12);
  for (int i = 0; i < 14; ++i)
    for (int j = 0; j < 13; ++j)
      for (int k = 0; k < 12; ++k) {
        const double a = (i - 5.2) / 3.1, b = (j - 6.4) / 4.3, c = (k - 4.1) / 2.2;
        if (i < 2) v(i, j, k) = 1;
        else if (a * a + b * b + c * c <= 1.0) v(i, j, k) = 3;
        else if ((i >= 9 && i <= 12 && j >= 2 && j <= 5 && k >= 7 && k <= 10) || (i == 10 && j == 6 && k == 8))
          v(i, j, k) = 7;
      }
  return v;
}

// Each label's grid is placed at 0.5 * labelWeights[label] * 4 cells per voxel, and its
// ".pca" file (one training volume: no modes) matches shape_reference.py byte for byte.
TEST(Kro_ShapeGlobalPCA, BuildModelSamplesEachLabelAtItsOwnScale) {
  TempFolder tmp;
  const std::string src = tmp.file("src"), grids = tmp.file("grids");
  std::filesystem::create_directories(src);
  const HeapMatrix3D<unsigned char> v = ThreeLabels();
  ASSERT_TRUE(v.Save(src + "/case.3dm"));
  HeapMatrix3D<unsigned char> none;  // no voxel of any of the labels: gives no grid
  none.SetSize(6, 6, 6);
  ASSERT_TRUE(none.Save(src + "/empty.3dm"));
  std::ostringstream text;
  text << v.dim0() << " " << v.dim1() << " " << v.dim2() << "\n";
  for (int i = 0; i < v.dim0(); ++i)
    for (int j = 0; j < v.dim1(); ++j)
      for (int k = 0; k < v.dim2(); ++k) text << int(v(i, j, k)) << " ";
  WriteFileText(tmp.file("volume.txt"), text.str());

  struct Case {
    int label;
    const char* weight;  // labelWeights[label]
    const char* scaleHex;  // float32 0.5 * weight * 4, three times
  } cases[] = {
      {1, "0.35", "3333333f 3333333f 3333333f"},  // 0.7
      {3, "0.3", "9a99193f 9a99193f 9a99193f"},   // 0.6
      {7, "0.7", "3333b33f 3333b33f 3333b33f"},   // 1.4
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());  // the build log "printf.txt" goes here
    Kro_ShapeGlobalPCA m;
    const bool trained = m.TrainFromFolder(grids, c.label, true, src, false);
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(trained);
    EXPECT_EQ(FindFiles(grids + "/" + std::to_string(c.label) + "/*.3dm").size(), 1u);
    EXPECT_EQ(m.pca.NumSamples(), 1);
    EXPECT_EQ(m.pca.NumModes(), 0);
    const std::string path = tmp.file(std::to_string(c.label) + ".pca");
    ASSERT_TRUE(m.Write(path));
    const std::vector<uint8_t> got = ReadFileBytes(path);
    ASSERT_GE(got.size(), 12u);
    EXPECT_EQ(ToHex(std::vector<uint8_t>(got.begin(), got.begin() + 12)), ToHex(HexBytes(c.scaleHex)));

    const std::string expected = tmp.file("expected" + std::to_string(c.label) + ".pca");
    ProcessResult r = RunProcess({SEGMENTER_PYTHON, std::string(SEGMENTER_SOURCE_DIR) + "/tests/models/shape_reference.py",
                                  "pca", tmp.file("volume.txt"), std::to_string(c.label), c.weight, expected});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> want = ReadFileBytes(expected);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "first difference at byte "
                             << std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();

    Kro_ShapeGlobalPCA back;  // the record without modes reads back
    ASSERT_TRUE(back.Read(path));
    EXPECT_EQ(back.baseScale, m.scale[0]);
    EXPECT_EQ(back.pca.modes.rows, 19 * 17 * 15);
    EXPECT_EQ(back.pca.orthoDefects.Count(), 19 * 17 * 15);
  }
}

TEST(Kro_ShapeGlobalPCA, AssignmentCopiesTheGeometryAndKeepsItsOwnModel) {
  std::mt19937 rng(11);
  Kro_ShapeGlobalPCA from;
  from.SetGrid(5, 3, 3);
  for (float& s : from.scale) s = 0.9f;
  from.baseScale = 0.9f;
  from.gridCorner[0] = 4;
  from.meanVolume = 30.0;
  from.volumeSpread = 2.0;
  from.origin[1] = 1.5f;
  from.grid = RandomGrid(5, 3, 3, rng);
  from.trainingGrids.push_back(RandomGrid(5, 3, 3, rng));
  from.AddGridSample(from.trainingGrids[0]);
  from.labelWeights[2] = 0.9f;

  Kro_ShapeGlobalPCA to;
  to.baseScale = 0.25f;
  to.gridCorner[0] = -7;
  to.AddGridSample(RandomGrid(19, 17, 15, rng));
  to.AddGridSample(RandomGrid(19, 17, 15, rng));
  to = from;
  EXPECT_EQ(to.gridExtents[0], 5);
  EXPECT_EQ(to.halfExtents[1], 1);
  EXPECT_EQ(to.scale[2], 0.9f);
  EXPECT_EQ(to.meanVolume, 30.0);
  EXPECT_EQ(to.volumeSpread, 2.0);
  EXPECT_EQ(to.origin[1], 1.5f);
  EXPECT_EQ(to.grid(4, 2, 2), from.grid(4, 2, 2));
  ASSERT_EQ(to.trainingGrids.size(), 1u);
  // indexGrid follows the copied extents.
  EXPECT_EQ(to.indexGrid.dim0(), 5);
  EXPECT_EQ(to.indexGrid(4, 2, 2), 44);
  // Not copied:
  EXPECT_EQ(to.pca.NumSamples(), 2);
  EXPECT_EQ(to.baseScale, 0.25f);
  EXPECT_EQ(to.gridCorner[0], -7);
  EXPECT_EQ(to.labelWeights[2], 0.35f);

  Kro_ShapeGlobalPCA copy(from);  // copy construction copies everything
  EXPECT_EQ(copy.pca.NumSamples(), 1);
  EXPECT_EQ(copy.baseScale, 0.9f);
  EXPECT_EQ(copy.gridCorner[0], 4);
  EXPECT_EQ(copy.labelWeights[2], 0.9f);
}

TEST(Kro_ShapeGlobalPCA, ClearSamplesKeepsTheVectorsAndTrainingStartsAfresh) {
  std::mt19937 rng(12);
  Kro_ShapeGlobalPCA m;
  m.trainingGrids.push_back(RandomGrid(19, 17, 15, rng));
  m.AddGridSample(m.trainingGrids[0]);
  m.ClearSamples();
  EXPECT_TRUE(m.trainingGrids.empty());
  EXPECT_EQ(m.pca.NumSamples(), 1);

  TempFolder tmp;
  std::filesystem::create_directories(tmp.file("5"));
  for (int n = 0; n < 3; ++n) ASSERT_TRUE(RandomGrid(5, 3, 3, rng).Save(tmp.file("5/g" + std::to_string(n) + ".3dm")));
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(m.TrainFromFolder(tmp.path(), 5, false));
    EXPECT_EQ(m.pca.NumSamples(), 3) << "pass " << pass;
    EXPECT_EQ(m.pca.dimension, 45);
  }
}

TEST(Kro_ShapeGlobalPCA, ConstructionTakesNoDraw) {
  ResetUniformRandomForTesting();
  {
    Kro_ShapeGlobaAll all;
    Kro_3DTopology topology;
  }
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
}

}  // namespace
