// Loading, running and writing of the region competition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RegionCompetitionProbe.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "volume/AnalyzeVolume.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// ---- loading ----

// Source 6 slices x 7 rows x 8 columns, voxel 1 + 100 z + 10 y + x; label files of
// several extents whose label is the low byte of the stored value.
class RegionCompetitionLoad : public testing::Test {
 protected:
  void SetUp() override {
    HeapMatrix3D<short> source;
    source.SetSize(6, 7, 8);
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x) source[z][y][x] = static_cast<short>(1 + 100 * z + 10 * y + x);
    ASSERT_TRUE(source.Save(dir.file("src.3dm")));
    WriteLabels("whole.img", 6, 7, 8);
    WriteLabels("boxed.img", 4, 4, 5);
    WriteLabels("small.img", 3, 3, 3);
    WriteLabels("whole.3dm", 6, 7, 8);
    WriteLabels("boxed.3dm", 4, 4, 5);
  }
  static int LabelAt(int z, int y, int x) { return (z + 2 * y + 3 * x) % 5; }
  void WriteLabels(const std::string& name, int d0, int d1, int d2) {
    HeapMatrix3D<short> wide;
    HeapMatrix3D<unsigned char> bytes;
    wide.SetSize(d0, d1, d2);
    bytes.SetSize(d0, d1, d2);
    for (int z = 0; z < d0; ++z)
      for (int y = 0; y < d1; ++y)
        for (int x = 0; x < d2; ++x) {
          wide[z][y][x] = static_cast<short>(256 + LabelAt(z, y, x));  // the high byte is dropped
          bytes[z][y][x] = static_cast<unsigned char>(LabelAt(z, y, x));
        }
    if (name.find(".img") != std::string::npos)
      ASSERT_EQ(WriteAnalyze16(dir.file(name), wide), 1);
    else
      ASSERT_TRUE(bytes.Save(dir.file(name)));
  }

  TempFolder dir;
};

TEST_F(RegionCompetitionLoad, LabelsAreCutToTheBoxOrTakenWhole) {
  const SubVolume box(1, 2, 1, 5, 5, 4);  // 5 columns, 4 rows, 4 slices
  struct Case {
    const char* labels;
    bool withBox;
    int originZ, originY, originX;  // where label (0, 0, 0) comes from in the file
  };
  const Case cases[] = {
      {"whole.img", true, 1, 2, 1},   // larger ".img": the box is cut out
      {"boxed.img", true, 0, 0, 0},   // ".img" of the box's extents: taken from its origin
      {"boxed.3dm", true, 0, 0, 0},   // other files: taken whole
      {"whole.img", false, 0, 0, 0},  // no box: the whole volume
      {"whole.3dm", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    RegionCompetitionProbe rc;
    ASSERT_EQ(rc.LoadInputs(dir.file("src.3dm"), dir.file(c.labels), c.withBox ? &box : nullptr), 0) << c.labels;
    const int nz = c.withBox ? 4 : 6, ny = c.withBox ? 4 : 7, nx = c.withBox ? 5 : 8;
    const int z0 = c.withBox ? 1 : 0, y0 = c.withBox ? 2 : 0, x0 = c.withBox ? 1 : 0;
    ASSERT_EQ(rc.labels.dim0(), nz);
    ASSERT_EQ(rc.labels.dim1(), ny);
    ASSERT_EQ(rc.labels.dim2(), nx);
    ASSERT_EQ(rc.intensity.dim0(), nz);
    ASSERT_EQ(rc.intensity.dim2(), nx);
    for (int k = 0; k < nz; ++k)
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
          ASSERT_EQ(rc.intensity[k][j][i], 1 + 100 * (z0 + k) + 10 * (y0 + j) + (x0 + i));
          ASSERT_EQ(rc.labels[k][j][i], LabelAt(c.originZ + k, c.originY + j, c.originX + i))
              << c.labels << " at " << k << "," << j << "," << i;
        }
  }
}

TEST_F(RegionCompetitionLoad, UnusableInputsFailWithALineNamingThem) {
  const SubVolume box(1, 2, 1, 5, 5, 4);
  const std::string src = dir.file("src.3dm");
  struct Case {
    std::string source, labels;
    SubVolume box;
    bool withBox;
    std::string message;
  };
  const Case cases[] = {
      {src, dir.file("whole.3dm"), box, true,
       "Label volume " + dir.file("whole.3dm") + " is 8 x 7 x 6, the box needs 5 x 4 x 4\n"},
      {src, dir.file("small.img"), box, true,
       "Label volume " + dir.file("small.img") + " is 3 x 3 x 3, the box needs 5 x 4 x 4\n"},
      {src, dir.file("boxed.3dm"), box, false,
       "Label volume " + dir.file("boxed.3dm") + " is 5 x 4 x 4, the box needs 8 x 7 x 6\n"},
      {src, dir.file("missing.3dm"), box, true, "File " + dir.file("missing.3dm") + " does not exist!\n"},
      {src, dir.file("missing.img"), box, true, "File " + dir.file("missing.img") + " does not exist!\n"},
      {dir.file("missing.img"), dir.file("boxed.3dm"), box, true,
       "File " + dir.file("missing.img") + " does not exist!\n"},
      {dir.file("src.txt"), dir.file("boxed.3dm"), box, true, "File " + dir.file("src.txt") + " does not exist!\n"},
      {src, dir.file("boxed.3dm"), SubVolume(5, 2, 1, 1, 5, 4), true,
       "invalid box (5, 2, 1)-(1, 5, 4) for " + src + " of 8 x 7 x 6\n"},
      {src, dir.file("boxed.3dm"), SubVolume(1, 2, 1, 8, 5, 4), true,
       "invalid box (1, 2, 1)-(8, 5, 4) for " + src + " of 8 x 7 x 6\n"},
      {src, dir.file("boxed.3dm"), SubVolume(1, 2, -1, 5, 5, 4), true,
       "invalid box (1, 2, -1)-(5, 5, 4) for " + src + " of 8 x 7 x 6\n"},
  };
  for (const Case& c : cases) {
    RegionCompetitionProbe rc;
    CaptureStdout();
    const int result = rc.LoadInputs(c.source, c.labels, c.withBox ? &c.box : nullptr);
    EXPECT_EQ(GetCapturedStdout(), c.message);
    EXPECT_EQ(result, -1) << c.message;
  }
}

TEST_F(RegionCompetitionLoad, FailedRunWritesNothingAndDrawsNothing) {
  RegionCompetitionProbe rc;
  ResetUniformRandomForTesting();
  CaptureStdout();
  const std::string out = dir.file("out.3dm");
  EXPECT_EQ(rc.Run(dir.file("src.3dm"), dir.file("missing.3dm"), 15, out.c_str(), nullptr), -1);
  EXPECT_EQ(GetCapturedStdout(),
            "Initializing Region Competition...\nFile " + dir.file("missing.3dm") + " does not exist!\n");
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
}

TEST(RegionCompetitionSteps, SamplingStepGrowsWithTheLargestLabel) {
  const int cases[][2] = {{1, 2}, {2, 3}, {3, 4}, {4, 4}, {5, 5}, {31, 7}, {32, 7}, {33, 8}, {64, 8}, {255, 8}};
  for (const auto& c : cases) EXPECT_EQ(RegionCompetitionProbe::SamplingStep(c[0]), c[1]) << c[0];
}

// ---- running ----

// Two blobs (labels 7 and 8, so that the size terms weigh little) on a noisy
// background in a 24-cube, a slab of zero intensity along the
// x = 0 face and a zero-intensity cube inside; the atlas is the truth shifted by 2
// columns, with labels inside the zero-intensity parts.
struct Phantom {
  static constexpr int N = 24;
  static constexpr unsigned char kFirst = 7, kSecond = 8;
  HeapMatrix3D<short> volume;
  HeapMatrix3D<unsigned char> truth, atlas;

  Phantom() {
    volume.SetSize(N, N, N);
    truth.SetSize(N, N, N);
    atlas.SetSize(N, N, N);
    for (int z = 0; z < N; ++z)
      for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
          const int noise = static_cast<int>((static_cast<unsigned>(z * 7919 + y * 104729 + x * 1299709) * 2654435761u) >> 29);
          unsigned char label = Label(z, y, x);
          short v = static_cast<short>(label == kFirst ? 100 : label == kSecond ? 170 : 30);
          v = static_cast<short>(v + noise - 4);
          if (x < 3 || (z >= 10 && z <= 12 && y >= 3 && y <= 5 && x >= 10 && x <= 12)) v = 0;
          volume[z][y][x] = v;
          truth[z][y][x] = v == 0 ? 0 : label;
          atlas[z][y][x] = Label(z, y, x - 2);
          if (x < 3 && y < 6) atlas[z][y][x] = kSecond;
        }
  }
  static unsigned char Label(int z, int y, int x) {
    auto d2 = [&](int cz, int cy, int cx) { return (z - cz) * (z - cz) + (y - cy) * (y - cy) + (x - cx) * (x - cx); };
    if (d2(12, 12, 9) <= 25) return kFirst;
    if (d2(12, 11, 17) <= 16) return kSecond;
    return 0;
  }
  void Write(const TempFolder& dir) const {
    ASSERT_TRUE(volume.Save(dir.file("phantom.3dm")));
    ASSERT_TRUE(atlas.Save(dir.file("atlas.3dm")));
  }
  static int Mismatches(const HeapMatrix3D<unsigned char>& a, const HeapMatrix3D<unsigned char>& b) {
    int n = 0;
    for (int z = 0; z < N; ++z)
      for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) n += a[z][y][x] != b[z][y][x];
    return n;
  }
};

std::vector<int> ChangeCounts(const std::string& console) {
  std::vector<int> counts;
  std::istringstream lines(console);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Change ", 0) == 0) counts.push_back(std::stoi(line.substr(7)));
  return counts;
}

class RegionCompetitionRun : public testing::Test {
 protected:
  void SetUp() override { phantom.Write(dir); }
  int Run(RegionCompetitionProbe& rc, int iterations, const char* output = nullptr) {
    CaptureStdout();
    const int result = rc.Run(dir.file("phantom.3dm"), dir.file("atlas.3dm"), iterations, output, nullptr);
    console = GetCapturedStdout();
    return result;
  }
  Phantom phantom;
  TempFolder dir;
  std::string console;
};

TEST_F(RegionCompetitionRun, PhantomKeepsTheInvariantsAndMovesTowardsTheTruth) {
  RegionCompetitionProbe rc;
  ResetUniformRandomForTesting();
  ASSERT_EQ(Run(rc, 15), 0);
  const long long draws = UniformRandomDrawCountForTesting();
  const int N = Phantom::N;
  ASSERT_EQ(rc.labels.dim0(), N);
  for (int z = 0; z < N; ++z)
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        const bool nearFace = std::min({z, y, x, N - 1 - z, N - 1 - y, N - 1 - x}) < 4;
        if (phantom.volume[z][y][x] == 0) {
          ASSERT_EQ(rc.labels[z][y][x], 0) << z << "," << y << "," << x;
        } else if (nearFace) {
          ASSERT_EQ(rc.labels[z][y][x], phantom.atlas[z][y][x]) << z << "," << y << "," << x;
        }
      }
  // Better than the atlas even after its zero-intensity voxels are cleared.
  HeapMatrix3D<unsigned char> cleared = phantom.atlas;
  for (int z = 0; z < N; ++z)
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x)
        if (phantom.volume[z][y][x] == 0) cleared[z][y][x] = 0;
  EXPECT_LT(Phantom::Mismatches(rc.labels, phantom.truth), Phantom::Mismatches(cleared, phantom.truth) * 3 / 4);

  const std::vector<int> changes = ChangeCounts(console);
  ASSERT_GE(changes.size(), 2u);
  EXPECT_GT(changes.front(), 0);
  for (size_t i = 1; i < changes.size(); ++i) EXPECT_LE(changes[i], changes[i - 1]) << "iteration " << i + 1;

  std::string expected =
      "Initializing Region Competition...\nCalculating Canny Edge...\n"
      "#ite = 15,  edge = 4.00, intensity = 0.30, size = 1.40\nRegion Competition...\n";
  for (size_t i = 0; i < changes.size(); ++i)
    expected += "Complete iteration " + std::to_string(i + 1) + "\nChange " + std::to_string(changes[i]) + " voxels\n";
  expected += "Region Competition Complete!\n";
  EXPECT_EQ(console, expected);

  // Per label value 0..8 an initial, a current and a delta histogram; the labelled one;
  // one in the voxel sample; the neighbourhood one; two per evaluated candidate.
  EXPECT_GT(rc.histogramPairsDrawn, 0);
  EXPECT_EQ(draws, 3 * (8 + 1) + 1 + 1 + 1 + 2 * rc.histogramPairsDrawn);
}

TEST_F(RegionCompetitionRun, SeveralWorkersGiveTheOneWorkerLabelsLinesAndDraws) {
  struct Outcome {
    std::vector<unsigned char> labels;
    std::string console;
    long long draws;
  };
  auto runWith = [&](int workers) {
    ScopedWorkerCount scoped(workers);
    RegionCompetitionProbe rc;
    ResetUniformRandomForTesting();
    EXPECT_EQ(Run(rc, 15), 0);
    Outcome o{{}, console, UniformRandomDrawCountForTesting()};
    o.labels.assign(&rc.labels(0, 0, 0), &rc.labels(0, 0, 0) + rc.labels.NumElements());
    return o;
  };
  const Outcome one = runWith(1);
  for (const int workers : {2, 7}) {
    const Outcome many = runWith(workers);
    EXPECT_EQ(many.labels, one.labels) << workers;
    EXPECT_EQ(many.console, one.console) << workers;
    EXPECT_EQ(many.draws, one.draws) << workers;
  }
}

TEST_F(RegionCompetitionRun, IterationsZeroOrBelowMeanFifteen) {
  struct Case {
    int iterations;
    const char* header;
    size_t most;
  };
  const Case cases[] = {{0, "#ite = 15,", 15}, {-3, "#ite = 15,", 15}, {1, "#ite = 1,", 1}, {2, "#ite = 2,", 2}};
  for (const Case& c : cases) {
    RegionCompetitionProbe rc;
    ASSERT_EQ(Run(rc, c.iterations), 0);
    EXPECT_NE(console.find(c.header), std::string::npos) << c.iterations;
    const size_t done = ChangeCounts(console).size();
    EXPECT_GE(done, 1u);
    EXPECT_LE(done, c.most);
    if (c.iterations > 0) {
      EXPECT_EQ(done, c.most) << "the phantom changes in every early iteration";
    }
  }
}

TEST_F(RegionCompetitionRun, OutputIsWrittenByExactExtension) {
  struct Case {
    const char* output;
    std::vector<std::string> written;
  };
  const Case cases[] = {
      {"out.3dm", {"out.3dm"}},      {"out.img", {"out.hdr", "out.img"}}, {"out.IMG", {}},
      {"out", {}},                   {"a.b.3dm", {"a.b.3dm"}},             {"out.hdr", {}},
  };
  for (const Case& c : cases) {
    TempFolder outDir;
    RegionCompetitionProbe rc;
    const std::string path = outDir.file(c.output);
    ASSERT_EQ(Run(rc, 1, path.c_str()), 0) << c.output;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(outDir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.written) << c.output;
    if (c.written.empty()) continue;
    // A volume file of bytes, or a 16-bit Analyze pair.
    HeapMatrix3D<unsigned char> bytes;
    if (c.written.size() == 1) {
      ASSERT_TRUE(bytes.Load(path)) << c.output;
    } else {
      HeapMatrix3D<short> wide;
      ASSERT_TRUE(ReadVolume(path, wide)) << c.output;
      ConvertVolume(bytes, wide);
    }
    EXPECT_EQ(Phantom::Mismatches(bytes, rc.labels), 0) << c.output;
  }
}

TEST_F(RegionCompetitionRun, UnwritableOutputFails) {
  RegionCompetitionProbe rc;
  const std::string path = dir.file("no-such-folder/out.3dm");
  ASSERT_EQ(Run(rc, 1, path.c_str()), -1);
  EXPECT_NE(console.find("Cannot write " + path + "\n"), std::string::npos);
}

TEST_F(RegionCompetitionRun, SecondRunStartsAfresh) {
  RegionCompetitionProbe fresh;
  ASSERT_EQ(Run(fresh, 3), 0);
  RegionCompetitionProbe reused;
  // A first run on other inputs: a box of the phantom with its atlas cut to match.
  HeapMatrix3D<unsigned char> smallAtlas;
  ASSERT_TRUE(CropVolume(smallAtlas, phantom.atlas, SubVolume(2, 3, 4, 21, 20, 19)));
  ASSERT_TRUE(smallAtlas.Save(dir.file("small_atlas.3dm")));
  const SubVolume box(2, 3, 4, 21, 20, 19);
  CaptureStdout();
  ASSERT_EQ(reused.Run(dir.file("phantom.3dm"), dir.file("small_atlas.3dm"), 15, nullptr, &box), 0);
  GetCapturedStdout();
  const std::string first = console;
  ASSERT_EQ(Run(reused, 3), 0);
  EXPECT_EQ(console, first);
  EXPECT_EQ(Phantom::Mismatches(reused.labels, fresh.labels), 0);
}

TEST_F(RegionCompetitionRun, AtlasWithoutLabelsSkipsTheMixture) {
  HeapMatrix3D<unsigned char> empty;
  empty.SetSize(Phantom::N, Phantom::N, Phantom::N);
  ASSERT_TRUE(empty.Save(dir.file("atlas.3dm")));
  RegionCompetitionProbe rc;
  ASSERT_EQ(Run(rc, 15), 0);
  EXPECT_EQ(rc.numLabels, 0);
  EXPECT_EQ(Phantom::Mismatches(rc.labels, empty), 0);
  EXPECT_NE(console.find("Complete iteration 1\nChange 0 voxels\nRegion Competition Complete!\n"), std::string::npos);
}

// ---- against the reference ----

// data/region_competition_reference.txt, written by region_competition_reference.py
// beside this file (an implementation of its own): per phantom the parameters, input
// checksums, the change count of every iteration, the number of generator draws and the
// final labels. The phantoms (5 and 9 labels, atlases shifted by 1 or 2 voxels per axis)
// are built here by the same integer formulas. On each of them a change of the label or
// the background size term, the stop fraction, the backward sweep's direction along x,
// the count of non-empty labels or the sign of the first background size term changes
// the result.
struct ReferencePhantom {
  std::string name, labeller;
  int side = 0, seed = 0, gap = 0, spread = 0, shift[3] = {0, 0, 0};
  long long intensitySum = 0, atlasSum = 0, draws = 0;
  std::vector<int> changes;
  std::vector<std::string> slices;  // per slice: the label digits, rows blank-separated
};

std::vector<ReferencePhantom> LoadReferencePhantoms() {
  std::ifstream in(std::string(SEGMENTER_SOURCE_DIR) + "/tests/models/data/region_competition_reference.txt");
  std::vector<ReferencePhantom> out;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "phantom") {
      out.emplace_back();
      ReferencePhantom& p = out.back();
      words >> p.name >> p.side >> p.labeller >> p.seed >> p.gap >> p.spread >> p.shift[0] >> p.shift[1] >> p.shift[2];
    } else if (key == "input") {
      words >> out.back().intensitySum >> out.back().atlasSum;
    } else if (key == "changes") {
      for (int c; words >> c;) out.back().changes.push_back(c);
    } else if (key == "draws") {
      words >> out.back().draws;
    } else if (key == "slice") {
      int z;
      words >> z;
      std::string rest;
      std::getline(words, rest);
      out.back().slices.push_back(rest.substr(rest.find_first_not_of(' ')));
    }
  }
  return out;
}

// 0..255, a hash of the position.
int PhantomNoise(int seed, int z, int y, int x) {
  uint32_t h = static_cast<uint32_t>(z) * 7919u + static_cast<uint32_t>(y) * 104729u +
               static_cast<uint32_t>(x) * 1299709u + static_cast<uint32_t>(seed) * 15485863u;
  h *= 2654435761u;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  return static_cast<int>(h & 0xFF);
}

// Background below z = 7; above it four blocks with ragged borders, label 5 on top of 4.
int FiveLabels(int z, int y, int x) {
  const int w = (y + 2 * z) % 3 - 1;
  if (z < 7) return 0;
  if (x + w < 10) return y < 10 ? 1 : 2;
  if (y - w < 8) return 3;
  return z < 13 ? 4 : 5;
}

// Labels 1..9 as 3 x 3 ragged columns along z between background slabs.
int NineLabels(int z, int y, int x) {
  const int w = (x + 2 * z) % 3 - 1;
  if (z < 6 || z > 15) return 0;
  return 1 + 3 * std::min(2, std::max(0, (y + w - 4) / 4)) + std::min(2, std::max(0, (x - w - 4) / 4));
}

template <class T>
long long Checksum(const HeapMatrix3D<T>& v) {
  long long total = 0, n = 0;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x, ++n)
        total = (total * 31 + static_cast<long long>(v(z, y, x)) + n) % 2147483647;
  return total;
}

TEST(RegionCompetitionReference, PhantomsGiveTheReferenceLabelsChangesAndDraws) {
  const std::vector<ReferencePhantom> phantoms = LoadReferencePhantoms();
  ASSERT_EQ(phantoms.size(), 3u);
  for (const ReferencePhantom& p : phantoms) {
    SCOPED_TRACE(p.name);
    int (*labeller)(int, int, int) = p.labeller == "five_labels" ? FiveLabels : NineLabels;
    const int n = p.side;
    HeapMatrix3D<short> volume;
    HeapMatrix3D<unsigned char> atlas;
    volume.SetSize(n, n, n);
    atlas.SetSize(n, n, n);
    for (int z = 0; z < n; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const int noise = PhantomNoise(p.seed, z, y, x) * p.spread / 256;
          volume(z, y, x) = static_cast<short>(30 + p.gap * labeller(z, y, x) + noise);
          atlas(z, y, x) = static_cast<unsigned char>(
              labeller(std::max(z - p.shift[0], 0), std::max(y - p.shift[1], 0), std::max(x - p.shift[2], 0)));
        }
    ASSERT_EQ(Checksum(volume), p.intensitySum);
    ASSERT_EQ(Checksum(atlas), p.atlasSum);
    TempFolder dir;
    ASSERT_TRUE(volume.Save(dir.file("phantom.3dm")));
    ASSERT_TRUE(atlas.Save(dir.file("atlas.3dm")));

    RegionCompetitionProbe rc;
    ResetUniformRandomForTesting();
    CaptureStdout();
    ASSERT_EQ(rc.Run(dir.file("phantom.3dm"), dir.file("atlas.3dm"), 15, nullptr, nullptr), 0);
    const std::string console = GetCapturedStdout();
    EXPECT_EQ(UniformRandomDrawCountForTesting(), p.draws);
    EXPECT_EQ(ChangeCounts(console), p.changes);

    ASSERT_EQ(rc.labels.dim0(), n);
    ASSERT_EQ(static_cast<int>(p.slices.size()), n);
    int differ = 0;
    for (int z = 0; z < n; ++z) {
      std::string got;
      for (int y = 0; y < n; ++y) {
        if (y > 0) got += ' ';
        for (int x = 0; x < n; ++x) got += static_cast<char>('0' + rc.labels(z, y, x));
      }
      if (got != p.slices[static_cast<size_t>(z)] && ++differ <= 3)
        ADD_FAILURE() << "slice " << z << "\n  got      " << got << "\n  expected " << p.slices[static_cast<size_t>(z)];
    }
    EXPECT_EQ(differ, 0) << "slices whose labels differ";
  }
}

}  // namespace
