#include "pbt/PbtMSampleSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "PbtMTestSets.h"
#include "platform/NativePath.h"
#include "volume/Raster.h"
#include "tests/common/TestSupport.h"

namespace {

std::vector<double> Values(const VectorQo<double>& v) {
  std::vector<double> out;
  for (int i = 0; i < v.rows * v.cols; ++i) out.push_back(v[i]);
  return out;
}

// Rows of one feature whose value names the sample: class c, index i -> 100c + i.
MVectorSampleSet* NamedSet(const std::vector<int>& counts, std::vector<float> classWeight = {}) {
  std::vector<std::vector<float>> values(counts.size());
  for (size_t c = 0; c < counts.size(); ++c) {
    for (int i = 0; i < counts[c]; ++i) values[c].push_back(100.0f * c + i);
  }
  return MVectorSampleSet::singleFeature(values, std::move(classWeight));
}

struct Visit {
  int c, i;
  float value;
  double weight;
};

std::vector<Visit> Walk(PbtMSampleSet& set) {
  std::vector<Visit> out;
  int c = 0, i = 0;
  set.reset();
  while (set.next(c, i)) {
    PbtSample* s = set.current();
    out.push_back({c, i, s->getFeatureValue(s->featurePool[0]), set.currentWeight()});
  }
  return out;
}

}  // namespace

TEST(PbtMSampleSetTest, ClassCountsGiveWeightsEntriesAndMasses) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 4}, {0.5f, 0.5f}));
  EXPECT_EQ(Values(set->weights[0]), (std::vector<double>{0.25, 0.25}));
  EXPECT_EQ(Values(set->weights[1]), (std::vector<double>{0.125, 0.125, 0.125, 0.125}));
  EXPECT_EQ(Values(set->classMass), (std::vector<double>{1.0, 1.0}));
  EXPECT_EQ(std::string(set->getText()), "SampleSet Parameters\n numFeatures=1\n");

  const std::vector<Visit> visits = Walk(*set);
  ASSERT_EQ(visits.size(), 6u);
  const int classes[] = {0, 0, 1, 1, 1, 1}, indices[] = {0, 1, 0, 1, 2, 3};
  for (size_t e = 0; e < visits.size(); ++e) {
    EXPECT_EQ(visits[e].c, classes[e]);
    EXPECT_EQ(visits[e].i, indices[e]);
    EXPECT_EQ(visits[e].value, 100.0f * classes[e] + indices[e]);
  }
  int c = 0, i = 0;
  EXPECT_FALSE(set->next(c, i));

  // The current weight is the stored one, writable in place.
  set->reset();
  set->next(c, i);
  set->currentWeight() *= 2.0;
  EXPECT_EQ(set->weights[0][0], 0.5);
}

TEST(PbtMSampleSetTest, ClassesBelowTheMinimumKeepTheirEntriesButHaveNoSlot) {
  ScopedMinClassSamples min(50);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({49, 0, 50, 60}));
  EXPECT_EQ(set->numClasses(), 2);
  EXPECT_EQ(set->classOfSlot, (std::vector<int>{2, 3}));
  EXPECT_EQ(set->slotOfClass, (std::vector<int>{-1, -1, 0, 1}));
  EXPECT_FALSE(set->isActiveClass(0));
  EXPECT_TRUE(set->isActiveClass(2));
  EXPECT_EQ(set->numEntries(), 159);
  EXPECT_EQ(set->weights[0].cols, 49);

  // The cache covers the active classes only; an entry of an inactive class is still
  // served, computed.
  set->calculateAllFeatures();
  EXPECT_EQ(set->tableSample()->computeCalls, 110);
  ASSERT_NE(set->cacheOfSlot(1), nullptr);
  EXPECT_EQ(set->cacheOfSlot(1)[0][59], 359.0f);
  EXPECT_EQ(set->cacheOfSlot(2), nullptr);
  EXPECT_EQ(set->featureMin[0], 200.0);
  EXPECT_EQ(set->featureMax[0], 359.0);
  const std::vector<Visit> visits = Walk(*set);
  EXPECT_EQ(visits[10].value, 10.0f);
  EXPECT_EQ(visits[49].value, 200.0f);
  EXPECT_EQ(set->tableSample()->computeCalls, 110 + 49);

  set->freeFeatures();
  EXPECT_FALSE(set->tableSample()->isCached());
  EXPECT_EQ(set->cacheOfSlot(0), nullptr);
}

// A derived set may sort its entries; cached values must still be read at each
// sample's own index.
TEST(PbtMSampleSetTest, CacheColumnsFollowSampleIndicesWhateverTheEntryOrder) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({3, 4}));
  std::reverse(set->entryClass.begin(), set->entryClass.end());
  std::reverse(set->entryIndex.begin(), set->entryIndex.end());
  set->calculateAllFeatures();
  EXPECT_EQ(set->cacheOfSlot(0)[0][0], 0.0f);
  EXPECT_EQ(set->cacheOfSlot(1)[0][3], 103.0f);
  for (const Visit& v : Walk(*set)) EXPECT_EQ(v.value, 100.0f * v.c + v.i);
  EXPECT_EQ(set->tableSample()->computeCalls, 7);
}

TEST(PbtMSampleSetTest, MaskMarksRareClasses) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({5, 10, 20}));
  set->maskRareClasses(10);
  const VectorQo<unsigned char> mask = set->getClassMask();
  ASSERT_EQ(mask.cols, 3);
  EXPECT_EQ(mask[0], 1);
  EXPECT_EQ(mask[1], 0);
  EXPECT_EQ(mask[2], 0);
  EXPECT_TRUE(set->isClassOn(0));
  EXPECT_FALSE(set->isClassOn(1));
  VectorQo<unsigned char> on(3, 1);
  set->setClassMask(on);
  EXPECT_TRUE(set->isClassOn(2));
}

TEST(PbtMSampleSetTest, WeightBookkeeping) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3}, {0.25f, 0.75f}));
  VectorQo<double> masses;
  set->classWeightMasses(masses);
  EXPECT_EQ(Values(masses), (std::vector<double>{0.25, 0.75}));

  // The totals divide by the class sum taken in single precision: 3 x 0.1 sums to
  // 0.30000000000000004, which becomes 0.3f.
  set->weights[1].Fill(0.1);
  VectorQo<double> target(2);
  target[0] = 3.0;
  target[1] = 1.0;
  set->setClassTotals(target);
  EXPECT_EQ(Values(set->weights[0]), (std::vector<double>{1.5, 1.5}));
  EXPECT_EQ(set->weights[1][2], 0.1 * (1.0 / static_cast<double>(0.3f)));

  set->normalizeWeights();
  double total = 0;
  for (const auto& w : set->weights) total += w.Sum();
  EXPECT_NEAR(total, 1.0, 1e-15);

  set->saveWeights();
  set->weights[0][1] = 9.0;
  set->restoreWeights();
  EXPECT_NE(set->weights[0][1], 9.0);

  // All-zero weights stay zero and are left alone by setClassTotals.
  for (auto& w : set->weights) w.Fill(0.0);
  set->normalizeWeights();
  set->setClassTotals(target);
  EXPECT_EQ(set->weights[1][2], 0.0);
}

TEST(PbtMSampleSetDeathTest, RestoringWeightsThatNoLongerFitEndsTheRun) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3}));
  EXPECT_EXIT(set->restoreWeights(), testing::ExitedWithCode(1),
              "^PbtMSampleSet::restoreWeights: the saved weights do not fit the classes\n$");
  set->saveWeights();
  VectorQo<double> sel0(2, 1.0), sel1(3, 0.0);
  sel1[0] = 1.0;
  set->selectSamples({sel0, sel1});
  EXPECT_EXIT(set->restoreWeights(), testing::ExitedWithCode(1), "do not fit");
}

TEST(PbtMSampleSetDeathTest, SlotOfAnInactiveClassEndsTheRun) {
  ScopedMinClassSamples min(3);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3, 4}));
  set->chooseClassSplit(VectorQo<double>(3, 0.5), false);
  EXPECT_FALSE(set->isPositiveClass(1));
  EXPECT_TRUE(set->isPositiveClass(2));
  EXPECT_EXIT(set->isPositiveClass(0), testing::ExitedWithCode(1),
              "^PbtMSampleSet::isPositiveClass: class 0 is not active\n$");
  EXPECT_EXIT(set->isPositiveClass(3), testing::ExitedWithCode(1),
              "^PbtMSampleSet::isPositiveClass: class 3 outside 0..2\n$");
}

TEST(PbtMSampleSetDeathTest, ClassQueriesOutsideTheLabelsEndTheRun) {
  ScopedMinClassSamples min(3);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3, 4}));
  // Inside the labels: answered, also beyond a mask that was never set.
  EXPECT_FALSE(set->isActiveClass(0));
  EXPECT_TRUE(set->isActiveClass(2));
  EXPECT_FALSE(set->isClassOn(2));
  for (int c : {-1, 3}) {
    const std::string tail = " " + std::to_string(c) + " outside 0..2\n$";
    EXPECT_EXIT(set->isActiveClass(c), testing::ExitedWithCode(1), "^PbtMSampleSet::isActiveClass: class" + tail);
    EXPECT_EXIT(set->isClassOn(c), testing::ExitedWithCode(1), "^PbtMSampleSet::isClassOn: class" + tail);
  }
}

TEST(PbtMSampleSetTest, AssignedCopySharesTheSampleWithoutOwningItOrTheCache) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3}));
  set->calculateAllFeatures();
  set->saveWeights();
  std::unique_ptr<PbtMSampleSet> copy(set->clone());
  EXPECT_EQ(copy->getSampleObject(), set->getSampleObject());
  EXPECT_FALSE(copy->featuresAreCached());
  EXPECT_EQ(copy->classOfSlot, set->classOfSlot);
  EXPECT_EQ(copy->numEntries(), 5);
  EXPECT_EQ(std::string(copy->getText()), "");
  // The copy serves computed values while the original still holds its cache.
  const std::vector<Visit> visits = Walk(*copy);
  EXPECT_EQ(visits[3].value, 101.0f);
  EXPECT_EQ(Walk(*set)[3].value, 101.0f);
  copy.reset();  // must not delete the shared sample (the sanitizer build checks)
  EXPECT_EQ(Walk(*set)[4].value, 102.0f);

  // deleteSample deletes only an owned sample.
  std::unique_ptr<PbtMSampleSet> other(set->clone());
  other->deleteSample();
  EXPECT_EQ(other->getSampleObject(), set->getSampleObject());
  set->deleteSample();
  EXPECT_EQ(set->getSampleObject(), nullptr);
}

TEST(PbtMSampleSetTest, ClearEmptiesTheClassesButKeepsMaskAndSavedWeights) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3}));
  set->maskRareClasses(3);
  set->saveWeights();
  set->clear(false);
  EXPECT_NE(set->getSampleObject(), nullptr);
  EXPECT_EQ(set->numLabels(), 0);
  EXPECT_EQ(set->numClasses(), 0);
  EXPECT_EQ(set->numEntries(), 0);
  EXPECT_TRUE(set->isClassOn(0));  // the kept mask still answers
  EXPECT_FALSE(set->isClassOn(1));
  EXPECT_EXIT(set->isClassOn(2), testing::ExitedWithCode(1), "^PbtMSampleSet::isClassOn: class 2 outside 0..1\n$");
  set->calculateAllFeatures();  // an empty set caches nothing
  EXPECT_FALSE(set->featuresAreCached());
  set->normalizeWeights();
  set->clear(true);
  EXPECT_EQ(set->getSampleObject(), nullptr);
}


TEST(PbtMSampleSetTest, SaveSamplesCreatesClassFoldersAndWritesTheDrawnSamples) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 0, 4}));
  TempFolder tmp;
  // Samples that draw nothing: only the folders.
  set->saveSamples(tmp.file("plain").c_str());
  for (const char* c : {"0", "1", "2"}) EXPECT_TRUE(PathExists(tmp.file("plain/") + c)) << c;
  EXPECT_FALSE(PathExists(tmp.file("plain/3")));
  EXPECT_FALSE(PathExists(tmp.file("plain/0/sample000000.tif")));
  set->saveSamples(nullptr);

  // Values 1, 201 and 203 draw; each class counts the images it writes.
  set->setSample(new DrawingSample());
  set->saveSamples(tmp.file("node").c_str());
  EXPECT_TRUE(PathExists(tmp.file("node/0/sample000000.tif")));
  EXPECT_FALSE(PathExists(tmp.file("node/0/sample000001.tif")));
  EXPECT_TRUE(PathExists(tmp.file("node/2/sample000001.tif")));
  EXPECT_FALSE(PathExists(tmp.file("node/2/sample000002.tif")));
  const ProcessResult py = RunPython(
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "print(im.mode, im.size[0], im.size[1], im.getpixel((2, 1)))\n",
      {tmp.file("node/2/sample000001.tif")});
  ASSERT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out, "L 3 2 203\n");
  EXPECT_EQ(PbtMSampleSet::sampleImageName("out/node", 2, 7), "out/node/2/sample000007.tif");
}
