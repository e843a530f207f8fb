#include "models/LabelsFromProbabilities.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using Volume = HeapMatrix3D<unsigned char>;

std::vector<Volume> Probs(int n, int d0, int d1, int d2, unsigned char value = 0) {
  std::vector<Volume> probs(n);
  for (auto& p : probs) {
    p.SetSize(d0, d1, d2);
    p.Fill(value);
  }
  return probs;
}

struct VoxelCase {
  const char* name;
  std::vector<int> bytes;  // one per class, at every voxel
  float weight;
  int expected;
};

TEST(LabelsFromProbabilities, MaximumRuleOnUniformVolumes) {
  const VoxelCase cases[] = {
      {"all zero gives class 0", {0, 0, 0}, 0.5f, 0},
      {"tie keeps the lower class", {10, 10, 3}, 0.5f, 0},
      {"strictly larger wins", {10, 11, 3}, 0.0f, 1},
      {"last class", {1, 2, 200}, 2.0f, 2},
  };
  for (const auto& c : cases) {
    std::vector<Volume> probs = Probs(static_cast<int>(c.bytes.size()), 4, 4, 4);
    for (size_t k = 0; k < c.bytes.size(); ++k) probs[k].Fill(static_cast<unsigned char>(c.bytes[k]));
    Volume labels;
    ASSERT_TRUE(LabelsFromProbabilities(probs.data(), static_cast<int>(probs.size()), labels, c.weight)) << c.name;
    ASSERT_EQ(labels.dim0(), 4);
    for (int z = 0; z < 4; ++z)
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(labels(z, y, x), c.expected) << c.name;
  }
}

// An isolated voxel of class 2 inside class 1: E(2) = 6 x 0.5 - ln 255 = -2.54,
// E(1) = 0 - ln 60 = -4.09, so smoothing relabels it 1; weight 0 keeps the maximum.
TEST(LabelsFromProbabilities, SmoothingRelabelsIsolatedVoxelUnlessWeightIsZero) {
  std::vector<Volume> probs = Probs(3, 5, 5, 5);
  probs[1].Fill(200);
  probs[2](2, 2, 2) = 255;
  probs[1](2, 2, 2) = 60;
  Volume labels;
  LabelsFromProbabilities(probs.data(), 3, labels, 0.5f);
  EXPECT_EQ(labels(2, 2, 2), 1);
  LabelsFromProbabilities(probs.data(), 3, labels, 0.0f);
  EXPECT_EQ(labels(2, 2, 2), 2);
  LabelsFromProbabilities(probs.data(), 3, labels, -0.0f);
  EXPECT_EQ(labels(2, 2, 2), 2);
}

TEST(LabelsFromProbabilities, ThinExtentsHaveNoInteriorToSmooth) {
  for (int thin : {1, 2}) {
    std::vector<Volume> probs = Probs(2, thin, 5, 5);
    probs[0].Fill(100);
    probs[1](0, 2, 2) = 255;  // would be smoothed away if it had an interior
    Volume labels;
    LabelsFromProbabilities(probs.data(), 2, labels, 5.0f);
    EXPECT_EQ(labels(0, 2, 2), 1) << thin;
  }
}

TEST(LabelsFromProbabilities, RejectsNoClassesAndUnequalExtents) {
  std::vector<Volume> probs = Probs(2, 3, 3, 3);
  Volume labels;
  EXPECT_FALSE(LabelsFromProbabilities(probs.data(), 0, labels, 0.5f));
  EXPECT_EQ(labels.NumElements(), 0);
  probs[1].SetSize(3, 3, 4);
  EXPECT_FALSE(LabelsFromProbabilities(probs.data(), 2, labels, 0.5f));
}

// An independent implementation in numpy on a random volume with a weight that is
// not exact in single precision.
TEST(LabelsFromProbabilities, MatchesIndependentComputation) {
  const int n = 4, d0 = 7, d1 = 9, d2 = 8;
  const float weight = 0.7f;
  std::mt19937 rng(1234);
  std::vector<Volume> probs = Probs(n, d0, d1, d2);
  std::vector<uint8_t> bytes;
  for (int k = 0; k < n; ++k)
    for (int z = 0; z < d0; ++z)
      for (int y = 0; y < d1; ++y)
        for (int x = 0; x < d2; ++x) {
          // Coarse values with many zeros and ties.
          const unsigned char b = static_cast<unsigned char>((rng() % 6) * 51);
          probs[k](z, y, x) = b;
          bytes.push_back(b);
        }
  TempFolder tmp;
  WriteFileBytes(tmp.file("probs.raw"), bytes);
  Volume labels;
  ASSERT_TRUE(LabelsFromProbabilities(probs.data(), n, labels, weight));

  const std::string script = R"(
import sys, math
import numpy as np
n, d0, d1, d2 = (int(v) for v in sys.argv[2:6])
w = float(np.float32(float(sys.argv[6])))
p = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(n, d0, d1, d2)
lab = np.zeros((d0, d1, d2), dtype=np.int64)
best = p[0].astype(np.int64).copy()
for k in range(1, n):
    better = p[k] > best
    lab[better] = k
    best[better] = p[k][better]
steps = [(-1,0,0),(1,0,0),(0,0,-1),(0,-1,0),(0,0,1),(0,1,0)]
for _ in range(5):
    for z in range(1, d0-1):
        for y in range(1, d1-1):
            for x in range(1, d2-1):
                cur = lab[z,y,x]
                nb = [lab[z+a,y+b,x+c] for a,b,c in steps]
                if all(v == cur for v in nb):
                    continue
                be, bc = np.float32(1000000.0), cur
                for k in range(n):
                    b = int(p[k,z,y,x])
                    if b < 1:
                        continue
                    c = sum(1 for v in nb if v != k)
                    e = np.float32(c * w - math.log(b))
                    if e < be:
                        be, bc = e, k
                lab[z,y,x] = bc
sys.stdout.write(''.join(str(int(v)) for v in lab.ravel()))
)";
  ProcessResult r = RunPython(script, {tmp.file("probs.raw"), std::to_string(n), std::to_string(d0),
                                       std::to_string(d1), std::to_string(d2), "0.7"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string mine;
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) mine += std::to_string(labels(z, y, x));
  EXPECT_EQ(mine, r.out);
}

}  // namespace
