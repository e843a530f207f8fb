// Case loading, the position record, the intensity range and the random draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "FeatureTestSupport.h"
#include "TestSupport.h"
#include "features/Object3DSample.h"
#include "numerics/UniformRandom.h"
#include "platform/NativePath.h"
#include "volume/AnalyzeVolume.h"

namespace {

// A training-data folder with case 3 complete (volume, four maps, atlas pair) and
// case 7 holding only its volume.
class CaseFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PatternVolume(6, 7, 8, 3).Save(tmp.file("I00003.3dm")));
    for (int i = 0; i < 4; ++i)
      ASSERT_TRUE(PatternVolume(6, 7, 8, 10 + i).Save(tmp.file("I00003_" + std::to_string(i) + "_prob.3dm")));
    HeapMatrix3D<short> atlas;
    atlas.SetSize(6, 7, 8);
    atlas.Fill(0);
    atlas(1, 2, 3) = 300;  // the low byte (44) is kept
    ASSERT_EQ(WriteAnalyze16(tmp.file("I00003_atlas.img"), atlas), 1);
    ASSERT_TRUE(PatternVolume(5, 5, 5, 7).Save(tmp.file("I00007.3dm")));
  }
  TempFolder tmp;
};

TEST_F(CaseFolder, OpensExactlyTheCaseFilesAndNoneWhenTheCaseStays) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(4, 2);
  sample.setDirectory(tmp.path().c_str());
  sample.setDirectory(nullptr);
  EXPECT_EQ(sample.folder, tmp.path());
  std::vector<std::string> opens;
  RecordInputOpensForTesting(&opens);
  sample.setPosition(Record(3, 2, 3, 4));
  std::vector<std::string> distinct = opens;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<std::string> expected = {tmp.file("I00003.3dm"),        tmp.file("I00003_0_prob.3dm"),
                                       tmp.file("I00003_1_prob.3dm"), tmp.file("I00003_2_prob.3dm"),
                                       tmp.file("I00003_3_prob.3dm"), tmp.file("I00003_atlas.hdr"),
                                       tmp.file("I00003_atlas.img")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(distinct, expected);
  opens.clear();
  sample.setPosition(Record(3, 1, 2, 3));
  RecordInputOpensForTesting(nullptr);
  EXPECT_TRUE(opens.empty());
  EXPECT_EQ(sample.loadedCase, 3);
  EXPECT_EQ(sample.z, 1);
  EXPECT_EQ(sample.boxOriginZ, -1);
  EXPECT_EQ(sample.boxOriginY, 0);
  EXPECT_EQ(sample.boxOriginX, 1);
  ASSERT_EQ(sample.contextVolumes.size(), 4u);
  EXPECT_EQ(sample.contextVolumes[2](1, 2, 3), PatternVolume(6, 7, 8, 12)(1, 2, 3));
  EXPECT_EQ(sample.volume(5, 6, 7), PatternVolume(6, 7, 8, 3)(5, 6, 7));
  EXPECT_EQ(sample.computeFeature(sample.featurePool[0]), 44.0f);  // atlas low byte
}

TEST_F(CaseFolder, FailedLoadLeavesNoStaleCase) {
  ScopedFeatureFlags flags(1, 1, "");
  Object3DSample sample(4, 1);
  sample.setDirectory(tmp.path().c_str());
  sample.setPosition(Record(3, 2, 2, 2));
  ASSERT_GT(sample.volume.NumElements(), 0);
  testing::internal::CaptureStdout();
  sample.setPosition(Record(4, 2, 2, 2));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Cannot read the case volume " + tmp.file("I00004.3dm") + "\n");
  EXPECT_EQ(sample.volume.NumElements(), 0);
  EXPECT_EQ(sample.atlas.NumElements(), 0);
  EXPECT_EQ(sample.intensityMean, 0.0f);
  EXPECT_EQ(sample.intensityScale, 0.0f);
  for (const HeapMatrix3D<unsigned char>& m : sample.contextVolumes) EXPECT_EQ(m.NumElements(), 0);
  testing::internal::CaptureStdout();
  std::string unexpected;
  for (const PbtFid& f : sample.featurePool) {
    const float v = sample.computeFeature(f);
    if (!(v == 0.0f || (f.kind == 'O' && v == -1.0f))) unexpected += std::string(f.getDescription()) + "\n";
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(unexpected, "");
  // A case with only its volume: maps and atlas empty, no message.
  testing::internal::CaptureStdout();
  sample.setPosition(Record(7, 1, 1, 1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(sample.volume.dim0(), 5);
}

TEST(Edg3DSample, SetVolumeKeptByCase65535AndOneDrawPerLoad) {
  ScopedFeatureFlags flags(0, 0);
  Object3DSample sample(4, 2);
  const HeapMatrix3D<unsigned char> v = PatternVolume(6, 6, 6);
  ResetUniformRandomForTesting();
  sample.setVolume(v);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  sample.invalidateCase();
  // The stored 65535 reads as case -1: nothing is loaded, no draw.
  sample.setPosition(VoxelSampleRecord::FromWords(0xFFFFu | (3u << 16), 4u | (5u << 16)));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  EXPECT_EQ(sample.z, 3);
  EXPECT_EQ(sample.y, 4);
  EXPECT_EQ(sample.x, 5);
  EXPECT_EQ(sample.boxOriginX, 3);
  EXPECT_EQ(sample.volume(3, 4, 5), v(3, 4, 5));
  // A case load takes one draw even when its file is missing.
  testing::internal::CaptureStdout();
  sample.setPosition(Record(9, 0, 0, 0));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
}

TEST(Edg3DSample, IntensityRange) {
  Edg3DSample sample;
  HeapMatrix3D<unsigned char> v;
  v.SetSize(3, 4, 5);
  // A constant on a bin centre has no spread; off the centre the spread is the
  // distance to the binned mean.
  v.Fill(76);
  sample.setVolume(v);
  EXPECT_EQ(sample.intensityMean, 76.0f);
  EXPECT_EQ(sample.intensityScale, 0.0f);
  v.Fill(77);
  sample.setVolume(v);
  EXPECT_EQ(sample.intensityScale, 1.0f);
  // The mean is that of the binned intensities (bin width 4); the spread is taken
  // around it over the voxel count.
  const HeapMatrix3D<unsigned char> p = PatternVolume(4, 5, 6);
  sample.setVolume(p);
  double mean = 0, n = 0;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const int bin = static_cast<int>(p(z, y, x) / 4.0 + 0.5);
        mean += bin * 4.0;
        ++n;
      }
  mean /= n;
  EXPECT_EQ(sample.intensityMean, float(mean));
  double squares = 0;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) squares += (p(z, y, x) - double(float(mean))) * (p(z, y, x) - double(float(mean)));
  EXPECT_EQ(sample.intensityScale, float(std::sqrt(squares / n)));
  EXPECT_GE(sample.peakScale, 1.0f);
  HeapMatrix3D<unsigned char> empty;
  sample.setVolume(empty);
  EXPECT_EQ(sample.intensityMean, 0.0f);
  EXPECT_EQ(sample.intensityScale, 0.0f);
}

// The summed tables are built on the workers; every entry must be the exact sum of the
// voxels (and of their squares) at or below it, whatever the worker count.
TEST(Edg3DSample, IntegralTablesHoldTheExactBoxSumsWithAnyWorkerCount) {
  const HeapMatrix3D<unsigned char> v = PatternVolume(13, 9, 17);
  for (int workers : {1, 3, 8}) {
    ScopedWorkerCount count(workers);
    Edg3DSample sample;
    sample.setVolume(v);
    ASSERT_EQ(sample.integral.sums.dim0(), 13);
    int mismatches = 0;
    for (int z = 0; z < 13; ++z)
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) {
          int64_t sum = 0, squares = 0;
          for (int c = 0; c <= z; ++c)
            for (int b = 0; b <= y; ++b)
              for (int a = 0; a <= x; ++a) {
                sum += v(c, b, a);
                squares += int64_t{v(c, b, a)} * v(c, b, a);
              }
          mismatches += sample.integral.sums(z, y, x) != static_cast<double>(sum);
          mismatches += sample.integral.squares(z, y, x) != static_cast<double>(squares);
        }
    EXPECT_EQ(mismatches, 0) << workers << " workers";
  }
}

// A worker copy reads its source's volumes, maps and Haar filters without holding them,
// and keeps a position of its own; it takes data of its own only when it is changed.
TEST(Edg3DSample, WorkerCopiesReadTheSourceDataAndKeepTheirOwnPosition) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(4, 2);
  sample.setVolume(PatternVolume(9, 10, 11));
  std::vector<HeapMatrix3D<unsigned char>> maps, others;
  for (int i = 0; i < 4; ++i) {
    maps.push_back(PatternVolume(9, 10, 11, 50u + i));
    others.push_back(PatternVolume(9, 10, 11, 90u + i));
  }
  sample.setContextVolumes(maps.data());
  sample.getAtlasVolume() = PatternVolume(9, 10, 11, 7u);
  sample.getDerivedVolumes().Volume() = PatternVolume(9, 10, 11, 8u);
  // The pool, and the curvature features (kind C) that the region competition reads.
  std::vector<PbtFid> features = sample.featurePool;
  for (int index : {0, 4, 14, 15}) {
    PbtFid c;
    c.kind = 'C';
    c.index = index;
    features.push_back(c);
  }
  const auto values = [&features](Object3DSample& s, int z, int y, int x) {
    s.setPosition(Record(-1, z, y, x));  // case -1: the volumes held stay
    std::vector<float> out;
    for (const PbtFid& f : features) out.push_back(s.computeFeature(f));
    return out;
  };

  std::unique_ptr<Object3DSample> copy(sample.workerCopy());
  ASSERT_TRUE(copy);
  std::unique_ptr<Object3DSample> copyOfCopy(copy->workerCopy());
  ASSERT_TRUE(copyOfCopy);
  for (const Object3DSample* c : {copy.get(), copyOfCopy.get()}) {
    EXPECT_EQ(c->volume.NumElements(), 0);
    EXPECT_EQ(c->integral.sums.NumElements(), 0);
    EXPECT_EQ(c->integral.squares.NumElements(), 0);
    EXPECT_TRUE(c->contextVolumes.empty());
    EXPECT_EQ(c->atlas.NumElements(), 0);
    EXPECT_TRUE(c->haarFilters.empty());
    EXPECT_EQ(const_cast<Object3DSample*>(c)->curvature.Volume().NumElements(), 0);
    EXPECT_EQ(c->dataStamp(), sample.dataStamp());
  }
  const int voxels[][3] = {{4, 5, 5}, {2, 2, 3}, {6, 7, 8}, {0, 9, 10}};
  for (const auto& v : voxels) {
    const std::vector<float> want = values(sample, v[0], v[1], v[2]);
    copy->setPosition(Record(-1, v[0], v[1], v[2]));
    sample.setPosition(Record(-1, 1, 1, 1));  // the source moves on; the copy stays
    std::vector<float> got;
    for (const PbtFid& f : features) got.push_back(copy->computeFeature(f));
    EXPECT_EQ(got, want) << v[0] << " " << v[1] << " " << v[2];
    EXPECT_EQ(values(*copyOfCopy, v[0], v[1], v[2]), want);
  }

  // New maps on the copy are the copy's own: the source keeps its maps and the copy
  // now holds its data (the volume among it).
  const std::vector<float> before = values(sample, 4, 5, 5);
  copy->setContextVolumes(others.data());
  EXPECT_EQ(copy->volume.NumElements(), sample.volume.NumElements());
  EXPECT_EQ(values(sample, 4, 5, 5), before);
  Object3DSample fresh(4, 2);
  fresh.setVolume(PatternVolume(9, 10, 11));
  fresh.setContextVolumes(others.data());
  fresh.getAtlasVolume() = PatternVolume(9, 10, 11, 7u);
  fresh.getDerivedVolumes().Volume() = PatternVolume(9, 10, 11, 8u);
  EXPECT_EQ(values(*copy, 4, 5, 5), values(fresh, 4, 5, 5));
  EXPECT_NE(values(*copy, 4, 5, 5), before);
}

TEST(VoxelSampleRecord, WordsMaskEachHalf) {
  const VoxelSampleRecord r = Record(-1, 12, -3, 40);
  EXPECT_EQ(r.firstWord(), 0x000CFFFFu);
  EXPECT_EQ(r.secondWord(), 0x0028FFFDu);
  const VoxelSampleRecord back = VoxelSampleRecord::FromWords(r.firstWord(), r.secondWord());
  EXPECT_EQ(back.caseNumber, -1);
  EXPECT_EQ(back.z, 12);
  EXPECT_EQ(back.y, -3);
  EXPECT_EQ(back.x, 40);
}

}  // namespace

TEST(Edg3DSample, CaseLoadedAgainKeepsItsIntensityFiguresAndItsDraw) {
  // Cases 0 and 1, then 0 again, then case 0 rewritten with other voxels: every load
  // takes its one draw, and the figures are those of the voxels just loaded.
  TempFolder tmp;
  HeapMatrix3D<unsigned char> a = PatternVolume(5, 6, 7), b = PatternVolume(5, 6, 7), c = PatternVolume(5, 6, 7);
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) {
        b(z, y, x) = static_cast<unsigned char>(255 - a(z, y, x));
        c(z, y, x) = static_cast<unsigned char>(a(z, y, x) / 2 + 9);
      }
  ASSERT_TRUE(a.Save(tmp.file("I00000.3dm")));
  ASSERT_TRUE(b.Save(tmp.file("I00001.3dm")));
  auto expected = [](const HeapMatrix3D<unsigned char>& v) {
    Edg3DSample fresh;
    fresh.setVolume(v);
    return std::vector<float>{fresh.intensityMean, fresh.intensityScale, fresh.peakScale};
  };
  const std::vector<float> ofA = expected(a), ofB = expected(b), ofC = expected(c);
  ASSERT_NE(ofA, ofB);
  ASSERT_NE(ofA, ofC);
  Edg3DSample sample;
  sample.setDirectory(tmp.path().c_str());
  struct Step {
    int caseNumber;
    const std::vector<float>* figures;
  };
  const Step steps[] = {{0, &ofA}, {1, &ofB}, {0, &ofA}, {0, &ofC}};
  for (size_t k = 0; k < 4; ++k) {
    if (k == 3) {
      ASSERT_TRUE(c.Save(tmp.file("I00000.3dm")));
      sample.invalidateCase();
    }
    ResetUniformRandomForTesting();
    testing::internal::CaptureStdout();
    sample.setPosition(Record(steps[k].caseNumber, 1, 1, 1));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(UniformRandomDrawCountForTesting(), 1) << k;
    EXPECT_EQ((std::vector<float>{sample.intensityMean, sample.intensityScale, sample.peakScale}), *steps[k].figures)
        << k;
  }
}

// Worker copies are kept while their stamp matches the shared sample's: two samples
// never share a stamp, even before any data is set, and writing through an accessor
// takes a new one, so a copy never reads another (possibly destroyed) sample's data.
TEST(Edg3DSample, EverySampleAndEveryWriteHasAStampOfItsOwn) {
  ScopedFeatureFlags flags(1, 1);
  auto first = std::make_unique<Object3DSample>(4, 2);
  std::vector<std::unique_ptr<PbtSample>> copies;
  ASSERT_TRUE(RefreshWorkerCopies(copies, *first, 3));
  for (const auto& c : copies) EXPECT_EQ(c->dataStamp(), first->dataStamp());
  Object3DSample second(4, 2);
  EXPECT_NE(second.dataStamp(), first->dataStamp());
  first.reset();
  ASSERT_TRUE(RefreshWorkerCopies(copies, second, 3));
  for (const auto& c : copies) EXPECT_EQ(c->dataStamp(), second.dataStamp());

  for (int accessor = 0; accessor < 2; ++accessor) {
    const uint64_t before = second.dataStamp();
    if (accessor == 0) second.getAtlasVolume() = PatternVolume(3, 3, 3);
    if (accessor == 1) second.getDerivedVolumes().Volume() = PatternVolume(3, 3, 3);
    EXPECT_NE(second.dataStamp(), before) << accessor;
  }
}
