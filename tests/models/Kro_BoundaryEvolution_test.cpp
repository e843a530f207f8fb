#include "models/Kro_BoundaryEvolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "numerics/UniformRandom.h"

namespace {

// Records every face offered a move, then lets the real move run.
class RecordingEvolution : public Kro_BoundaryEvolution {
 public:
  void MoveFace(int label, int p, int a, int i, int j, int k) override {
    visits.emplace_back(p, a, i, j, k);
    labels.push_back(label);
    Kro_BoundaryEvolution::MoveFace(label, p, a, i, j, k);
  }
  std::vector<std::tuple<int, int, int, int, int>> visits;  // p, a, i, j, k
  std::vector<int> labels;
};

// The plane axes of the visits, one entry per run of visits of the same plane axis.
std::vector<int> PlaneAxisBlocks(const std::vector<std::tuple<int, int, int, int, int>>& visits) {
  std::vector<int> axes;
  for (const auto& v : visits)
    if (axes.empty() || axes.back() != std::get<0>(v)) axes.push_back(std::get<0>(v));
  return axes;
}

// A 6^3 volume of label 0 with a 2 x 2 x 2 cube of label 1 at (2..3, 2..3, 2..3).
HeapMatrix3D<unsigned char> CubeLabels() {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(6, 6, 6);
  for (int z = 2; z < 4; ++z)
    for (int y = 2; y < 4; ++y)
      for (int x = 2; x < 4; ++x) v(z, y, x) = 1;
  return v;
}

HeapMatrix3D<unsigned char> Intensities() {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(6, 6, 6);
  v.Fill(100);
  return v;
}

TEST(Kro_BoundaryEvolution, ConstructionFillsTheFaceTablesAndSetsTheWeights) {
  for (Kro_FaceStep& s : gContourForward) s.Reset();
  for (Kro_FaceStep& s : gContourBackward) s.Reset();
  for (Kro_FaceStep& s : gVoxelFaces) s.Reset();
  Kro_BoundaryEvolution evolution;
  int forward = 0, backward = 0;
  for (const Kro_FaceStep& s : gContourForward) forward += s.IsFace();
  for (const Kro_FaceStep& s : gContourBackward) backward += s.IsFace();
  EXPECT_EQ(forward, 36);  // every entry but those of the plane's own axis
  EXPECT_EQ(backward, 36);
  for (int a = 0; a < 3; ++a) {
    EXPECT_TRUE(gVoxelFaces[2 * a] == Kro_FaceStep(a, 0, 0, 0)) << a;
    EXPECT_TRUE(gVoxelFaces[2 * a + 1] == Kro_FaceStep(a, a == 0, a == 1, a == 2)) << a;
  }
  EXPECT_EQ(evolution.shapeWeight, 1.0);
  EXPECT_EQ(evolution.secondWeight, 1.0);
  EXPECT_FALSE(evolution.Initialized());
}

TEST(Kro_BoundaryEvolution, EvolutionBeforeInitializeDoesNothing) {
  Kro_BoundaryEvolution evolution;
  const double weights[2] = {3.0, 4.0};
  ResetUniformRandomForTesting();
  evolution.Evolve(weights);
  evolution.EvolveLabel(0, true);
  evolution.EvolveRegions(0, 0, 0);
  evolution.MoveFace(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
  EXPECT_EQ(evolution.shapeWeight, 1.0);
  EXPECT_EQ(evolution.topology.labels.NumElements(), 0);
}

TEST(Kro_BoundaryEvolution, EvolveLabelOffersEveryFaceOncePerPlaneAxisAfterFourDraws) {
  RecordingEvolution evolution;
  ASSERT_TRUE(evolution.Initialize(Intensities(), CubeLabels()));
  ResetUniformRandomForTesting();
  evolution.EvolveLabel(1, false);
  // One draw for the axis-order distribution and one for each of its three draws.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);

  // 24 faces, each lying in the slices of the two plane axes other than its own.
  ASSERT_EQ(evolution.visits.size(), 48u);
  std::map<std::tuple<int, int, int, int, int>, int> count;
  for (const auto& v : evolution.visits) ++count[v];
  EXPECT_EQ(count.size(), 48u);
  for (const auto& [visit, n] : count) {
    EXPECT_EQ(n, 1);
    EXPECT_NE(std::get<0>(visit), std::get<1>(visit));  // never a face of the plane's own axis
  }
  // The plane axes come in three blocks, one per axis (their order: next test).
  EXPECT_EQ(PlaneAxisBlocks(evolution.visits), (std::vector<int>{0, 2, 1}));

  // Without an appearance model or shape model every energy is 0: nothing moves.
  EXPECT_EQ(evolution.topology.labels.Sum(), 8);
  EXPECT_TRUE(evolution.topology.labels(2, 2, 2) == 1 && evolution.topology.labels(1, 2, 2) == 0);
}

// The plane axes draw by draw, for generator starts that give all six orders. After the
// draw of the distribution's construction, each draw u picks the first axis whose running
// share of the axes left reaches u: with three left, 0 up to 1/3, 1 up to 2/3, else 2;
// with two left, the first up to 1/2; the last one is drawn too. The draws are those of
// the reference generator (tests/numerics/RandomReference.h) after `skipped` draws.
TEST(Kro_BoundaryEvolution, EvolveLabelTakesThePlaneAxesInTheDrawnOrder) {
  const struct Case {
    int skipped;
    std::vector<int> axes;
    const char* draws;  // construction, then the three axis draws
  } cases[] = {
      {0, {0, 2, 1}, "0.41599935 0.09196489 0.75641048 0.52970022"},
      {1, {2, 1, 0}, "0.09196489 0.75641048 0.52970022 0.93043649"},
      {2, {1, 2, 0}, "0.75641048 0.52970022 0.93043649 0.38350207"},
      {3, {2, 0, 1}, "0.52970022 0.93043649 0.38350207 0.65391898"},
      {5, {1, 0, 2}, "0.38350207 0.65391898 0.06684224 0.72266042"},
      {14, {0, 1, 2}, "0.65151858 0.23777443 0.26245299 0.76219803"},
  };
  for (const Case& c : cases) {
    RecordingEvolution evolution;
    ASSERT_TRUE(evolution.Initialize(Intensities(), CubeLabels()));
    ResetUniformRandomForTesting();
    for (int n = 0; n < c.skipped; ++n) UniformRandom(&gUniformRandomSeed);
    evolution.EvolveLabel(1, false);
    EXPECT_EQ(UniformRandomDrawCountForTesting(), c.skipped + 4) << c.draws;
    EXPECT_EQ(PlaneAxisBlocks(evolution.visits), c.axes) << c.draws;
  }
}

TEST(Kro_BoundaryEvolution, EvolveVisitsLabelsDownwardsAndSkipsLabelsWithoutFaces) {
  RecordingEvolution evolution;
  ASSERT_TRUE(evolution.Initialize(Intensities(), CubeLabels()));
  ResetUniformRandomForTesting();
  evolution.Evolve(nullptr);
  // Labels 1 and 0 have faces (two axis orders: 8 draws); 254 others take none.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 8);
  EXPECT_EQ(evolution.shapeWeight, 1.0);
  EXPECT_EQ(evolution.secondWeight, 1.0);
  // Label 1's 48 visits come before label 0's (which also owns the volume's border).
  ASSERT_GT(evolution.labels.size(), 48u);
  for (size_t n = 0; n < evolution.labels.size(); ++n) EXPECT_EQ(evolution.labels[n], n < 48 ? 1 : 0) << n;
  const double weights[2] = {0.25, 7.0};
  evolution.Evolve(weights);
  EXPECT_EQ(evolution.shapeWeight, 0.25);
  EXPECT_EQ(evolution.secondWeight, 7.0);
}

// Generative records in `folder` beside the empty marker: labels 0 and 1 expect the
// intensities listed (each a histogram bin of mass 1, cost 0; any other costs 1000).
void WriteRecords(const std::string& folder, const std::vector<double>& background,
                  const std::vector<double>& object) {
  WriteFileText(folder + "/appearance.mod", "");
  for (int label = 0; label < 2; ++label) {
    Kro_AprncRegionLikelihood record;
    record.histogram.Init(0.0, 255.0, 5.0);
    record.histogram.Fill(0.0);
    for (double v : label == 0 ? background : object) record.histogram.Set(v, 1.0);
    record.Likelihood();
    ASSERT_TRUE(record.Write(folder + "/" + std::to_string(label) + ".apr"));
  }
}

TEST(Kro_BoundaryEvolution, FacesMoveOnlyWhenTheEnergyLeavesTheDeadBand) {
  // The object (label 1) lies at intensity 100, the background at 200.
  const struct Case {
    const char* name;
    std::vector<double> background, object;
    bool moves;
  } cases[] = {
      // Both sides fit their label: L = 0.75 * 0 - 0, E = 0.
      {"both sides expected", {200.0}, {100.0}, false},
      // The background costs 1000 as label 0 and nothing as label 1: L = 750 at every
      // face of the object, |E| = 1.5 * 750 * 0.9 far above 1, and the object grows.
      {"background fits the object better", {150.0}, {100.0, 200.0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    WriteRecords(tmp.path(), c.background, c.object);
    Kro_BoundaryEvolution evolution;
    EXPECT_FALSE(evolution.LoadAppearanceModels(tmp.path().c_str(), nullptr));  // no settings: generative
    ASSERT_TRUE(evolution.appearance.Present(0) && evolution.appearance.Present(1));
    HeapMatrix3D<unsigned char> volume = Intensities();
    const HeapMatrix3D<unsigned char> labels = CubeLabels();
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) volume(z, y, x) = labels(z, y, x) == 1 ? 100 : 200;
    ASSERT_TRUE(evolution.Initialize(volume, labels));
    evolution.EvolveLabel(1, true);
    int changed = 0, object = 0;
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
          changed += evolution.topology.labels(z, y, x) != labels(z, y, x);
          object += evolution.topology.labels(z, y, x) == 1;
        }
    if (c.moves) {
      EXPECT_GT(object, 8);  // only growth lowers the energy
    } else {
      EXPECT_EQ(changed, 0);
    }
  }
}

TEST(Kro_BoundaryEvolution, AnEmptyLabelVolumeLeavesNothingToEvolve) {
  Kro_BoundaryEvolution evolution;
  HeapMatrix3D<unsigned char> empty;
  ASSERT_TRUE(evolution.Initialize(Intensities(), CubeLabels()));
  EXPECT_TRUE(evolution.Initialized());
  // A label volume without voxels gives a topology without faces: nothing to evolve.
  ASSERT_TRUE(evolution.Initialize(Intensities(), empty));
  ResetUniformRandomForTesting();
  evolution.Evolve(nullptr);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
}

}  // namespace
