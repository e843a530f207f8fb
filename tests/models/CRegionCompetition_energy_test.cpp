// Energy terms of the region competition on hand-built histograms and a hand-set mixture.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <sstream>

#include "RegionCompetitionProbe.h"
#include "TestSupport.h"
#include "features/Edg3DSample.h"
#include "numerics/UniformRandom.h"

namespace {

const double kSqrt2Pi = std::sqrt(2.0 * M_PI);

void ExpectRelNear(double expected, double actual, const std::string& what) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-12) << what;
}

// Grid [0, 320]: 33 bins of width 10.015625; intensity 100 falls into bin 10.
constexpr short kLo = 0, kHi = 320, kValue = 100;
const double kX10 = 10 * (320.5 / 32.0);

TEST(RegionCompetitionEnergy, ClassLikelihoodMatchesNumpyOnRandomHistograms) {
  RegionCompetitionProbe rc;
  rc.SetState(3, kValue, 1, kLo, kHi, 3, {}, 1.0);
  GaussianMixture& gm = rc.mixture->mixtures[1];
  const double means[3] = {60, 120, 200}, vars[3] = {150, 400, 90}, weights[3] = {0.2, 0.5, 0.3};
  for (int k = 0; k < 3; ++k) {
    gm.means(k, 0) = means[k];
    gm.covariances[static_cast<size_t>(k)](0, 0) = vars[k];
    gm.weights[static_cast<size_t>(k)] = weights[k];
  }
  rc.labelledMean = 180.0;  // bins below 116 pay the low-intensity penalty
  rc.labelledSpread = 40.0;
  rc.nonEmptyLabels = 7;
  rc.ResetMemo();

  std::mt19937 gen(17);
  std::ostringstream json;
  json.precision(17);
  json << "{\"means\":[60,120,200],\"vars\":[150,400,90],\"weights\":[0.2,0.5,0.3],\"mean\":180,"
          "\"spread\":40,\"nonEmpty\":7,\"lo\":0,\"width\":"
       << rc.labelledHistogram->width << ",\"cases\":[";
  std::vector<double> results;
  for (int c = 0; c < 12; ++c) {
    RF* hist = rc.NewGridHistogram();
    RF* ref = rc.NewGridHistogram();
    for (int i = 0; i < 27; ++i) hist->pdf[std::uniform_int_distribution<int>(3, 30)(gen)] += 1.0;
    for (int b = 0; b < ref->bins; ++b) ref->pdf[b] = 1 + std::uniform_int_distribution<int>(0, 20)(gen);
    const int label = c % 2;  // 0: background, 1: mixture / reference
    const int mode = (c / 2) % 2;
    // Background with mode 1 reads the current background histogram.
    if (label == 0 && mode == 1) *rc.currentHistograms[0] = *ref;
    results.push_back(rc.ClassLikelihood(*hist, static_cast<int16_t>(label), mode == 1 ? nullptr : ref, mode));
    json << (c ? "," : "") << "{\"label\":" << label << ",\"mode\":" << mode << ",\"hist\":[";
    for (int b = 0; b < hist->bins; ++b) json << (b ? "," : "") << hist->pdf[b];
    json << "],\"ref\":[";
    for (int b = 0; b < ref->bins; ++b) json << (b ? "," : "") << ref->pdf[b];
    json << "]}";
    delete hist;
    delete ref;
  }
  json << "]}";

  const std::string script = R"(
import json, sys, math
import numpy as np
d = json.loads(sys.argv[1])
floor = float(np.float32(1e-10))
def density(x, m, v):
    q = (x - m) * (1.0 / v) * (x - m)
    p = math.exp(-q / 2) / math.sqrt(v * 6.28318)
    return floor if p < floor else p
nz = d['nonEmpty']
beta = 0.2 if nz < 6 else 2.4 / (max(3.0, 4 * math.log2(nz) - 9) * math.sqrt(2 * math.pi))
for c in d['cases']:
    h = np.array(c['hist']); ref = np.array(c['ref'])
    x = d['lo'] + np.arange(len(h)) * d['width']
    used = h > 0
    if c['label'] > 0:
        if c['mode'] == 1:
            p = np.array([sum(w * density(xb, m, v) for m, v, w in zip(d['means'], d['vars'], d['weights'])) for xb in x])
        else:
            p = ref / ref.sum()
        z = (x - d['mean']) / d['spread']
        g = np.where(z >= -1.6, 0.0, 1 + (z + 1.6) ** 2 / 1.6)
        t = p * np.exp(-g) / math.sqrt(2 * math.pi)
    else:
        t = ref / ref.sum() * beta
    logl = np.sum(h[used] * np.log(t[used])) / h[used].sum()
    print(repr(math.exp(logl)))
)";
  ProcessResult py = RunPython(script, {json.str()});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  for (size_t i = 0; i < results.size(); ++i) {
    double expected = 0;
    ASSERT_TRUE(lines >> expected);
    EXPECT_NEAR(results[i], expected, expected * 1e-12) << "case " << i;
  }
}

TEST(RegionCompetitionEnergy, BackgroundBetaFollowsTheNumberOfNonEmptyLabels) {
  struct Case {
    int nonEmpty;
    double beta;
  };
  const Case cases[] = {{0, 0.2},
                        {5, 0.2},
                        {6, 2.4 / (3.0 * kSqrt2Pi)},
                        {8, 2.4 / (3.0 * kSqrt2Pi)},
                        {16, 2.4 / (7.0 * kSqrt2Pi)},
                        {40, 2.4 / ((4.0 * std::log2(40.0) - 9.0) * kSqrt2Pi)}};
  for (const Case& c : cases) {
    RegionCompetitionProbe rc;
    rc.SetState(3, kValue, 0, kLo, kHi, 2, {}, 1.0);
    rc.nonEmptyLabels = c.nonEmpty;
    RF* hist = rc.NewGridHistogram();
    hist->Add(kValue, 27.0);
    // The current background histogram holds 1 per bin: p = 1/33.
    ExpectRelNear(c.beta / 33.0, rc.ClassLikelihood(*hist, 0, nullptr, 1), "nonEmpty " + std::to_string(c.nonEmpty));
    delete hist;
  }
}

TEST(RegionCompetitionEnergy, HistogramWithoutCountsHasLikelihoodZero) {
  RegionCompetitionProbe rc;
  rc.SetState(3, kValue, 1, kLo, kHi, 2, {0, kX10, kX10}, 100.0);
  RF* empty = rc.NewGridHistogram();
  for (int label = 0; label <= 2; ++label)
    for (int mode = 0; mode <= 1; ++mode)
      EXPECT_EQ(rc.ClassLikelihood(*empty, static_cast<int16_t>(label), nullptr, mode), 0.0)
          << "label " << label << " mode " << mode;
  delete empty;
}

// A 5-cube of intensity 100 labelled `centre`, with face neighbours of (2, 2, 2)
// relabelled; the neighbourhood histogram of the centre voxel.
struct Scene {
  RegionCompetitionProbe rc;
  RF* hist = nullptr;
  Scene(unsigned char centre, std::vector<double> means, double variance = 100.0) {
    rc.SetState(5, kValue, centre, kLo, kHi, 3, means, variance);
    hist = rc.NewGridHistogram();
  }
  ~Scene() { delete hist; }
  void Set(int dz, int dy, int dx, unsigned char label) { rc.labels[2 + dz][2 + dy][2 + dx] = label; }
  double Energy(int16_t centre, int16_t& candidate, double& edge) {
    RegionCompetitionProbe::NeighbourStatistics(rc.intensity, 2, 2, 2, 3, 1, hist, -1, nullptr);
    return rc.CandidateEnergies(*hist, 2, 2, 2, centre, 6, candidate, edge);
  }
};

// ln(L0 / L) for two labels whose mixtures sit d and 0 away from the bin value.
double MixtureDistance(double d) { return d * d / 200.0; }

TEST(RegionCompetitionEnergy, CandidateEnergyBlendsByBranch) {
  const double pc = 27.0 / 59.0, pn = 2.0 / 34.0;  // label-masked shares: 26 + 1 and 1 + 1 over 33 + count
  const double bgL = 0.2 / 33.0, peakL = 1.0 / std::sqrt(100.0 * 6.28318) / kSqrt2Pi;
  struct Case {
    const char* name;
    unsigned char centre, neighbour;
    double neighbourOffset;  // of the neighbour's mixture mean from the bin value
    double expected;
  };
  auto blendBoth = [](double best, double dn) { return 0.4 * (best * std::fabs(best) + dn * (2.5 - std::fabs(best))); };
  auto blendBg = [](double best, double dn, double shift) {
    return 0.05 * best * std::fabs(best) + 0.4 * dn * (2.5 - std::fabs(best) / 8) + shift;
  };
  const double far = std::sqrt(800.0), near = std::sqrt(200.0);
  const Case cases[] = {
      {"far neighbour: the distance itself", 1, 2, far, MixtureDistance(far)},
      {"too far: no move", 1, 2, std::sqrt(1200.0), DBL_MAX},
      {"both labelled", 1, 2, near, blendBoth(MixtureDistance(near), std::log(pc / pn))},
      {"from background", 0, 2, 0.0,
       blendBg(std::log(bgL / peakL), std::log(pc * 0.2 / (pn / kSqrt2Pi)), -0.2)},
      {"to background", 1, 0, 0.0, blendBg(std::log(peakL / bgL), std::log(pc / kSqrt2Pi / (pn * 0.2)), 0.4)},
  };
  for (const Case& c : cases) {
    Scene s(c.centre, {0, kX10, kX10 + c.neighbourOffset, kX10});
    s.Set(0, 0, 1, c.neighbour);
    int16_t candidate = 0;
    double edge = -1.0;
    s.rc.edgeMap[2][2][3] = 7;
    const double E = s.Energy(c.centre, candidate, edge);
    if (c.expected == DBL_MAX)
      EXPECT_EQ(E, DBL_MAX) << c.name;
    else
      ExpectRelNear(c.expected, E, c.name);
    EXPECT_EQ(candidate, c.neighbour) << c.name;
    EXPECT_EQ(edge, 7.0) << c.name;
  }
}

TEST(RegionCompetitionEnergy, BlendOfFiveOrMoreMakesTheMoveImpossible) {
  // Labelled voxel, one background neighbour of another intensity; a small background
  // beta (many non-empty labels) makes the neighbourhood term large while the
  // mixture distance stays small.
  for (int nonEmpty : {0, 255}) {
    Scene s(1, {0, kX10, kX10, kX10}, 6400.0);
    s.Set(0, 0, 1, 0);
    s.rc.intensity[2][2][3] = 200;
    s.rc.nonEmptyLabels = nonEmpty;
    RegionCompetitionProbe::NeighbourStatistics(s.rc.intensity, 2, 2, 2, 3, 1, s.hist, -1, nullptr);
    const double best = std::log(s.rc.ClassLikelihood(*s.hist, 1, nullptr, 1) / s.rc.ClassLikelihood(*s.hist, 0, nullptr, 1));
    RF* hc = s.rc.NewGridHistogram();
    RF* hn = s.rc.NewGridHistogram();
    RegionCompetitionProbe::NeighbourStatistics(s.rc.intensity, 2, 2, 2, 3, 1, hc, 1, &s.rc.labels);
    RegionCompetitionProbe::NeighbourStatistics(s.rc.intensity, 2, 2, 2, 3, 1, hn, 0, &s.rc.labels);
    const double dn = std::log(s.rc.ClassLikelihood(*s.hist, 1, hc, 0) / s.rc.ClassLikelihood(*s.hist, 0, hn, 0));
    delete hc;
    delete hn;
    const double blended = 0.05 * best * std::fabs(best) + 0.4 * dn * (2.5 - std::fabs(best) / 8) + 0.4;
    ASSERT_LT(std::fabs(best), 2.5);
    int16_t candidate = 0;
    double edge = 0;
    const double E = s.Energy(1, candidate, edge);
    if (nonEmpty == 0) {
      ASSERT_LT(blended, 5.0);
      ExpectRelNear(blended, E, "below the cap");
    } else {
      ASSERT_GE(blended, 5.0);
      EXPECT_EQ(E, DBL_MAX);
    }
  }
}

TEST(RegionCompetitionEnergy, ImpossibleCurrentLabelForcesBackgroundWithoutDraws) {
  Scene s(1, {0, kX10, kX10, kX10});
  s.Set(0, 0, 1, 2);
  // Far below the labelled mean: the penalty underflows the product of the current label.
  s.rc.labelledMean = 300.0;
  s.rc.labelledSpread = 10.0;
  s.rc.ResetMemo();
  ResetUniformRandomForTesting();
  int16_t candidate = 0;
  double edge = -1.0;
  EXPECT_EQ(s.Energy(1, candidate, edge), -DBL_MAX);
  EXPECT_EQ(candidate, 0);
  EXPECT_EQ(edge, -1.0);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
  EXPECT_EQ(s.rc.histogramPairsDrawn, 0);
}

TEST(RegionCompetitionEnergy, EachEvaluatedCandidateTakesTwoDraws) {
  Scene s(1, {0, kX10, kX10 + 10.0, kX10});
  s.Set(0, 0, 1, 2);
  ResetUniformRandomForTesting();
  int16_t candidate = 0;
  double edge = 0;
  const double first = s.Energy(1, candidate, edge);  // builds the two histograms
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  const double second = s.Energy(1, candidate, edge);  // reuses them, draws all the same
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);
  EXPECT_EQ(first, second);
  s.Set(0, 0, 1, 1);  // no other label around: no candidate, still two draws
  candidate = 0;
  EXPECT_EQ(s.Energy(1, candidate, edge), DBL_MAX);
  EXPECT_EQ(candidate, 0);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);
  EXPECT_EQ(s.rc.histogramPairsDrawn, 3);
}

TEST(RegionCompetitionEnergy, EqualNeighboursGoToTheEarlierOffset) {
  struct Case {
    int first[3], second[3];  // (dz, dy, dx) carrying labels 3 and 2 respectively
    int16_t expected;
    int edgeAt[3];
  };
  const Case cases[] = {
      {{0, 0, 1}, {0, 0, -1}, 3, {0, 0, 1}},   // +x comes before -x
      {{0, 0, -1}, {0, 1, 0}, 3, {0, 0, -1}},  // -x before +y
      {{0, 0, 1}, {1, 0, 0}, 3, {0, 0, 1}},    // +x before +z
      {{-1, 0, 0}, {0, -1, 0}, 2, {0, -1, 0}}, // -y before -z
  };
  for (const Case& c : cases) {
    Scene s(1, {0, kX10, kX10 + 12.0, kX10 + 12.0});
    s.Set(c.first[0], c.first[1], c.first[2], 3);
    s.Set(c.second[0], c.second[1], c.second[2], 2);
    s.rc.edgeMap[2 + c.first[0]][2 + c.first[1]][2 + c.first[2]] = 11;
    s.rc.edgeMap[2 + c.second[0]][2 + c.second[1]][2 + c.second[2]] = 22;
    int16_t candidate = 0;
    double edge = 0;
    s.Energy(1, candidate, edge);
    EXPECT_EQ(candidate, c.expected);
    EXPECT_EQ(edge, s.rc.edgeMap[2 + c.edgeAt[0]][2 + c.edgeAt[1]][2 + c.edgeAt[2]]);
  }
}

TEST(RegionCompetitionEnergy, MoveEnergyWeightsAndSizeFactor) {
  struct Case {
    int numLabels, iteration;
    double F, E, e, size, expected;
  };
  const Case cases[] = {
      // size factor 0.5 * min(12, |numLabels - 8| + 1)
      {8, 1, 0, 0, 0, -0.2, -1.4 * -0.2 * 0.5 * 1},
      {3, 1, 0, 0, 0, -0.2, -1.4 * -0.2 * 0.5 * 6},
      {19, 1, 0, 0, 0, -0.2, -1.4 * -0.2 * 0.5 * 12},
      {50, 1, 0, 0, 0, -0.2, -1.4 * -0.2 * 0.5 * 12},
      // the first iteration weighs the intensity by 0.2 + 0.002 numLabels
      {50, 0, 0, 1, 0, 0, 0.3},
      {10, 0, 0, 1, 0, 0, 0.22},
      {10, 1, 0, 1, 0, 0, 0.3},
      // curvature and edge terms
      {8, 1, -0.5, 2, 3, 0.1, 0.3 * 2 - 0.5 - 1.4 * 0.1 * 0.5 + 4.0 * 3},
  };
  for (const Case& c : cases) {
    RegionCompetitionProbe rc;
    rc.numLabels = c.numLabels;
    rc.sizeTerms.SetSize(c.numLabels + 1);
    rc.sizeTerms[1] = c.size;
    EXPECT_NEAR(rc.MoveEnergy(c.F, c.E, c.e, 1, c.iteration), c.expected, 1e-12)
        << "numLabels " << c.numLabels << " iteration " << c.iteration;
  }
}

TEST(RegionCompetitionEnergy, BoundaryTestCountsFacesEdgesAndCorners) {
  struct Case {
    int at[3];  // (dz, dy, dx) of the one differing neighbour; none when 0, 0, 0
    bool six, eighteen, twentySix;
  };
  const Case cases[] = {
      {{0, 0, 0}, false, false, false},
      {{0, 0, 1}, true, true, true},
      {{1, -1, 0}, false, true, true},
      {{1, 1, -1}, false, false, true},
  };
  for (const Case& c : cases) {
    HeapMatrix3D<unsigned char> v;
    v.SetSize(3, 3, 3);
    v.Fill(4);
    if (c.at[0] || c.at[1] || c.at[2]) v[1 + c.at[0]][1 + c.at[1]][1 + c.at[2]] = 5;
    EXPECT_EQ(RegionCompetitionProbe::IsBoundaryVoxel(v, 1, 1, 1, 6), c.six);
    EXPECT_EQ(RegionCompetitionProbe::IsBoundaryVoxel(v, 1, 1, 1, 18), c.eighteen);
    EXPECT_EQ(RegionCompetitionProbe::IsBoundaryVoxel(v, 1, 1, 1, 26), c.twentySix);
  }
  // On a corner of the volume the clamped neighbours are the voxel itself.
  HeapMatrix3D<unsigned char> v;
  v.SetSize(2, 2, 2);
  v.Fill(1);
  EXPECT_FALSE(RegionCompetitionProbe::IsBoundaryVoxel(v, 0, 0, 0, 26));
  v[1][1][1] = 2;
  EXPECT_TRUE(RegionCompetitionProbe::IsBoundaryVoxel(v, 0, 0, 0, 26));
  EXPECT_FALSE(RegionCompetitionProbe::IsBoundaryVoxel(v, 0, 0, 0, 18));
}

TEST(RegionCompetitionEnergy, NeighbourStatisticsClampsIntensitiesButNotLabels) {
  RegionCompetitionProbe rc;
  rc.SetState(4, kValue, 3, kLo, kHi, 3, {}, 1.0);
  rc.intensity[0][0][0] = 200;
  RF* hist = rc.NewGridHistogram();
  const int bin200 = hist->BinOf(200), bin100 = hist->BinOf(kValue);
  struct Case {
    int z, y, x, label;
    double at100, at200, total;
  };
  const Case cases[] = {
      // all 27 clamped positions; (0,0,0) is read 8 times at the corner
      {0, 0, 0, -1, 19, 8, 27},
      {1, 1, 1, -1, 26, 1, 27},
      // label-masked: only the 8 positions inside the volume match, each bin starts at 1
      {0, 0, 0, 3, 1 + 7, 1 + 1, 33 + 8},
      {1, 1, 1, 3, 1 + 26, 1 + 1, 33 + 27},
      {1, 1, 1, 2, 1, 1, 33},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegionCompetitionProbe::NeighbourStatistics(rc.intensity, c.z, c.y, c.x, 3, 1, hist, c.label,
                                                          &rc.labels),
              0);
    double total = 0;
    for (int b = 0; b < hist->bins; ++b) total += hist->pdf[b];
    EXPECT_EQ(hist->pdf[bin100], c.at100) << c.z << c.y << c.x << " label " << c.label;
    EXPECT_EQ(hist->pdf[bin200], c.at200) << c.z << c.y << c.x << " label " << c.label;
    EXPECT_EQ(total, c.total) << c.z << c.y << c.x << " label " << c.label;
  }
  EXPECT_EQ(RegionCompetitionProbe::NeighbourStatistics(rc.intensity, 1, 1, 1, 3, 1, nullptr, -1, nullptr), -1);
  EXPECT_EQ(RegionCompetitionProbe::NeighbourStatistics(rc.intensity, 1, 1, 1, 3, 1, hist, 0, nullptr), -1);
  EXPECT_EQ(RegionCompetitionProbe::NeighbourStatistics(rc.intensity, 1, 1, 1, 3, 0, hist, -1, nullptr), -1);
  delete hist;
}

TEST(RegionCompetitionEnergy, CurvatureTermIsZeroOnFaces) {
  // A ball of label 100 against the z = 0 face.
  RegionCompetitionProbe rc;
  rc.labels.SetSize(9, 9, 9);
  for (int z = 0; z < 9; ++z)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x)
        rc.labels[z][y][x] = (z * z + (y - 4) * (y - 4) + (x - 4) * (x - 4) <= 9) ? 100 : 0;
  rc.SetUpFeatureSample();
  EXPECT_NE(rc.FeatureTerm(1, 4, 2), 0.0);
  // The same feature on the face voxel is not 0, the term is.
  VoxelSampleRecord atFace;
  atFace.caseNumber = -1;
  atFace.y = 4;
  atFace.x = 1;
  rc.featureSample->setPosition(atFace);
  PbtFid meanCurvature;
  meanCurvature.kind = 'C';
  meanCurvature.index = 15;
  EXPECT_NE(rc.featureSample->getFeatureValue(meanCurvature), 0.0f);
  EXPECT_EQ(rc.FeatureTerm(0, 4, 1), 0.0);
  EXPECT_EQ(rc.FeatureTerm(3, 0, 4), 0.0);
  EXPECT_EQ(rc.FeatureTerm(3, 4, 8), 0.0);
  // The term reads the labels as they were when the sample was set up.
  const double before = rc.FeatureTerm(1, 4, 2);
  rc.labels.Fill(0);
  EXPECT_EQ(rc.FeatureTerm(1, 4, 2), before);
}

}  // namespace
