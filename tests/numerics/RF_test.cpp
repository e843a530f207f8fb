#include "numerics/RF.h"
#include "numerics/RF_gaussian.h"
#include "numerics/RF_uniform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "RandomReference.h"
#include "TestSupport.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// An RF on the grid (min, width) holding the given masses.
RF WithMasses(const std::vector<double>& masses, double min = 0.0, double width = 1.0) {
  RF r;
  r.Init(min, min + width * (static_cast<double>(masses.size()) - 1), width);
  for (size_t i = 0; i < masses.size(); ++i) r.pdf[static_cast<int>(i)] = masses[i];
  return r;
}

std::vector<double> Masses(const RF& r) { return std::vector<double>(r.pdf.data, r.pdf.data + r.Count()); }

VectorQo<int> Counts(int n, int value) {
  VectorQo<int> v(n);
  v.Fill(value);
  return v;
}

}  // namespace

TEST(RFTest, GridSetUp) {
  struct Case {
    const char* name;
    void (*setUp)(RF&);
    int bins;
    double min, width;
  } cases[] = {
      {"Init(2, 2, 0.5)", [](RF& r) { r.Init(2, 2, 0.5); }, 1, 2, 0.5},
      {"Init(0, 10, 1)", [](RF& r) { r.Init(0, 10, 1); }, 11, 0, 1},
      {"Init(0, 1, 0.3)", [](RF& r) { r.Init(0, 1, 0.3); }, 4, 0, 0.3},
      {"InitWithBins(0, 10, 10)", [](RF& r) { r.InitWithBins(0, 10, 10); }, 15, -1, 10.0 / 12},
      {"InitWithBins(4, 4, 30)", [](RF& r) { r.InitWithBins(4, 4, 30); }, 1, 4, 1},
      {"Init with zero width on one point", [](RF& r) { r.Init(7, 7, 0); }, 1, 7, 0},
  };
  for (const Case& c : cases) {
    RF r;
    c.setUp(r);
    EXPECT_EQ(r.bins, c.bins) << c.name;
    EXPECT_EQ(r.Count(), c.bins) << c.name;
    EXPECT_EQ(r.min, c.min) << c.name;
    EXPECT_EQ(r.width, c.width) << c.name;
    for (double m : Masses(r)) EXPECT_EQ(m, 0.0) << c.name;
  }
}

TEST(RFTest, InitWithoutBinsKeepsTheMasses) {
  // max below min gives no bins; a zero width over a real range gives no finite count.
  for (double width : {1.0, 0.0}) {
    RF r = WithMasses({1, 2, 3});
    r.Init(5, width == 0.0 ? 9 : 1, width);
    EXPECT_LE(r.bins, 0) << width;
    EXPECT_EQ(Masses(r), (std::vector<double>{1, 2, 3})) << width;
    r.Set(5, 9.0);
    EXPECT_EQ(r.Pdf(5), 0.0) << width;
  }
}

TEST(RFTest, SubclassGrids) {
  RF_uniform u;
  u.Init(0, 1, 0.25);
  EXPECT_EQ(u.bins, 5);
  EXPECT_EQ(u.centre, 0.5);
  EXPECT_EQ(u.spread, 1.0);
  for (double m : Masses(u)) EXPECT_EQ(m, 0.2);

  struct Case {
    double width;
    int bins;
    double min, top;
  } cases[] = {{1.0, 7, -3.0, 3.0}, {0.8, 8, -2.4, 3.2}};
  for (const Case& c : cases) {
    RF_gaussian g;
    g.Init(0, 1, c.width);
    ASSERT_EQ(g.bins, c.bins) << c.width;
    EXPECT_NEAR(g.min, c.min, 1e-15) << c.width;
    EXPECT_NEAR(g.min + (g.bins - 1) * g.width, c.top, 1e-15) << c.width;
    // Normalised Gaussian masses: proportional to exp(-d^2 / 2).
    double total = 0.0;
    for (int i = 0; i < g.bins; ++i) total += std::exp(-std::pow(g.min + i * c.width, 2) / 2);
    for (int i = 0; i < g.bins; ++i) {
      EXPECT_NEAR(g.pdf[i], std::exp(-std::pow(g.min + i * c.width, 2) / 2) / total, 1e-15) << c.width;
    }
  }
}

TEST(RFTest, BinningRule) {
  RF r = WithMasses({5, 6, 7});  // min 0, width 1
  struct Case {
    double x;
    double pdf;
    bool inRange;
  } cases[] = {
      {-1.0, 5, true},  {0.4, 5, true},  {-1.4999, 5, true}, {-1.5, 0, false},
      {0.5, 6, true},   {2.49, 7, true}, {2.5, 0, false},    {kNaN, 0, false},
      {std::numeric_limits<double>::infinity(), 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(r.Pdf(c.x), c.pdf) << c.x;
    EXPECT_EQ(r.InRange(c.x), c.inRange) << c.x;
  }
  r.Add(0.6, 1.0);
  r.Set(-7, 100.0);  // outside: ignored
  r.Add(kNaN, 100.0);
  EXPECT_EQ(Masses(r), (std::vector<double>{5, 7, 7}));

  // LogPdf truncates without the half bin: bin 0 spans (min - width, min + width).
  EXPECT_EQ(r.LogPdf(-0.9), std::log(5.0));
  EXPECT_EQ(r.LogPdf(0.9), std::log(5.0));
  EXPECT_EQ(r.LogPdf(1.0), std::log(7.0));
  EXPECT_EQ(r.LogPdf(3.0), -1e99);
}

TEST(RFTest, ZeroWidthGridTakesOnlyItsOwnValue) {
  RF r;
  r.Init(2.5, 2.5, 0.0);
  r.Add(2.5, 3.0);
  r.Add(2.4, 1.0);
  r.Add(2.6, 1.0);
  EXPECT_EQ(r.pdf[0], 3.0);
  EXPECT_EQ(r.Pdf(2.5), 3.0);
  EXPECT_EQ(r.Pdf(2.50001), 0.0);
  EXPECT_FALSE(r.InRange(2.4));
  EXPECT_EQ(r.LogPdf(2.5), std::log(3.0));
  EXPECT_EQ(r.Cdf(2.5), 3.0);
  EXPECT_EQ(r.Cdf(2.0), 0.0);
}

TEST(RFTest, ConstructionTakesOneDrawAndCopiesTakeNone) {
  ResetUniformRandomForTesting();
  RF plain;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  EXPECT_EQ(plain.random.value, static_cast<double>(0.41599935f));
  RF_uniform uniform;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  RF_gaussian gaussian;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);
  EXPECT_EQ(plain.bins, 0);
  EXPECT_EQ(plain.min, 0.0);
  EXPECT_EQ(plain.width, 1.0);
  EXPECT_EQ(plain.step, 1.0);

  plain = WithMasses({1, 3});  // WithMasses constructs one RF: one draw
  plain.BuildCdf();
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);
  RF copy(plain);
  RF_uniform uniformCopy(uniform);
  RF sliced(gaussian);
  gaussian = RF_gaussian(gaussian);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);

  // The copy takes every member, the cdf included; assignment keeps the target's cdf.
  EXPECT_EQ(copy.cdf.rows * copy.cdf.cols, 2);
  EXPECT_EQ(copy.random.value, plain.random.value);
  RF assigned = WithMasses({9});
  assigned.BuildCdf();
  assigned = plain;
  EXPECT_EQ(Masses(assigned), (std::vector<double>{1, 3}));
  ASSERT_EQ(assigned.cdf.rows * assigned.cdf.cols, 1);
  EXPECT_EQ(assigned.cdf[0], 9.0);
  EXPECT_EQ(assigned.random.value, plain.random.value);
}

TEST(RFTest, ConstructionWithoutDrawTakesNoneAndDrawsAsUsual) {
  ResetUniformRandomForTesting();
  RF quiet{WithoutDraw{}};
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
  EXPECT_EQ(quiet.random.value, 0.0);
  EXPECT_EQ(quiet.bins, 0);
  EXPECT_EQ(quiet.min, 0.0);
  EXPECT_EQ(quiet.width, 1.0);
  EXPECT_EQ(quiet.step, 1.0);
  // Drawing from it takes the sequence's first value: 0.416 falls into bin 1 of 1, 3.
  quiet.Init(0.0, 1.0, 1.0);
  quiet.Set(0.0, 1.0);
  quiet.Set(1.0, 3.0);
  EXPECT_EQ(quiet.Draw(), 1.0);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  EXPECT_EQ(quiet.random.value, static_cast<double>(0.41599935f));
}

TEST(RFTest, SamplingTableSizes) {
  struct Case {
    int bins;
    bool fine;
    int entries;
  } cases[] = {{10, false, 1001}, {35, false, 3500}, {10001, false, 100010}, {10, true, 10001}, {1, false, 101}};
  for (const Case& c : cases) {
    RF r;
    r.SetFromVector(Counts(c.bins, 1));
    r.BuildSamplingTable(c.fine);
    EXPECT_EQ(r.samplingTable.rows * r.samplingTable.cols, c.entries) << c.bins << " " << c.fine;
  }
}

TEST(RFTest, SamplingTableHoldsTheFirstBinAboveEachStep) {
  VectorQo<float> v(4);
  v[0] = 1;
  v[1] = 0;
  v[2] = 2;
  v[3] = 1;
  RF r;
  r.SetFromVector(v);  // masses 0.25, 0, 0.5, 0.25; step 0.0025; 401 entries
  ASSERT_EQ(r.samplingTable.rows * r.samplingTable.cols, 401);
  EXPECT_EQ(Masses(r), (std::vector<double>{0.25, 0, 0.5, 0.25}));
  struct Case {
    int k, bin;
  } cases[] = {{0, 0}, {99, 0}, {101, 2}, {299, 2}, {301, 3}, {399, 3}, {400, 3}};
  for (const Case& c : cases) EXPECT_EQ(r.samplingTable[c.k], c.bin) << c.k;
}

TEST(RFTest, DrawSequencesMatchAReference) {
  // A fixed distribution with empty bins on a grid with negative values; after a fresh
  // start the RF's construction takes the first draw, then Draw and DrawRounded alternate.
  const std::vector<double> masses = {0, 2, 0, 0, 5, 1, 0, 3, 0};
  const double min = -2.5, width = 0.75;
  const int rounds = 200;
  std::string script = std::string(kPythonReferenceGenerator) + R"PY(
import sys
masses = [0, 2, 0, 0, 5, 1, 0, 3, 0]
lo, w = -2.5, 0.75
draw()  # the construction's draw
def scan(u, p):
    s = 0.0
    for i, m in enumerate(p):
        s += m
        if s >= u:
            return i
    return len(p) - 1
def rf_draw():
    global masses
    total = 0.0
    for m in masses:
        total += m
    masses = [m / total for m in masses]
    i = scan(draw(), masses)
    if masses[i] != 0.0:
        return lo + i * w
    return lo + scan(draw(), masses) * w
out = []
for _ in range(int(sys.argv[1])):
    out.append(repr(rf_draw()))
    out.append(repr(float(int(rf_draw() + 0.5))))
print("\n".join(out))
)PY";
  ProcessResult py = RunPython(script, {std::to_string(rounds)});
  ASSERT_EQ(py.status, 0) << py.err;

  ResetUniformRandomForTesting();
  RF r = WithMasses(masses, min, width);
  std::istringstream lines(py.out);
  std::string line;
  for (int k = 0; k < rounds; ++k) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(r.Draw(), std::strtod(line.c_str(), nullptr)) << k;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(r.DrawRounded(), std::strtod(line.c_str(), nullptr)) << k;
  }
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1 + 2 * rounds);
}

TEST(RFTest, DrawOnEmptyMassesTakesTwoDraws) {
  RF zero = WithMasses({0, 0, 0}, 1.0, 2.0);
  long long before = UniformRandomDrawCountForTesting();
  EXPECT_FALSE(zero.Normalize());
  EXPECT_EQ(zero.Draw(), 5.0);  // the last bin
  EXPECT_EQ(UniformRandomDrawCountForTesting(), before + 2);
  EXPECT_EQ(Masses(zero), (std::vector<double>{0, 0, 0}));

  RF empty;
  empty.min = 3.0;
  empty.width = 0.5;
  EXPECT_EQ(empty.Draw(), 2.5);  // min - width
  EXPECT_EQ(UniformRandomDrawCountForTesting(), before + 5);  // its construction and two draws
}

TEST(RFTest, TableDrawReadsTheSamplingTable) {
  ResetUniformRandomForTesting();
  RF r = WithMasses({1, 0, 3}, 5.0, 2.0);  // the construction takes 0.41599935
  r.BuildSamplingTable(false);
  EXPECT_EQ(r.DrawFromTable(), 5.0);  // u = 0.09196489: bin 0 holds the first quarter
  EXPECT_EQ(r.DrawFromTable(), 9.0);  // u = 0.75641048: bin 2
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);

  RF noTable;  // an empty table: every draw lies outside it
  EXPECT_EQ(noTable.DrawFromTable(), -1.0);
}

TEST(RFTest, MassQueries) {
  RF r = WithMasses({1, 0, 3}, 0.0, 0.1);
  EXPECT_EQ(r.Cdf(-1), 0.0);
  EXPECT_EQ(r.Cdf(0.1), 1.0);
  EXPECT_EQ(r.Cdf(99), 4.0);  // clamped to the last bin
  // Mean adds the width bin by bin and does not normalise: the last of ten bins of
  // 0.1 stands for 0.1 added nine times (0.8999999999999999), not 9 * 0.1.
  EXPECT_EQ(WithMasses({0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 0.0, 0.1).Mean(),
            2 * (0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1));
  EXPECT_EQ(RF().Mean(), 0.0);

  EXPECT_EQ(r.LogPdf(0.1), -1e99);  // empty bin
  EXPECT_EQ(r.TemperedPdf(0.1, 2.0), 0.0);
  EXPECT_NEAR(r.TemperedPdf(0.2, 2.0), std::sqrt(3.0), 1e-15);
  // Forward difference inside; the backward one at the last bin.
  RF slope = WithMasses({1, 2, 4});
  EXPECT_NEAR(slope.LogPdfSlope(0.0), std::log(2.0), 1e-15);
  EXPECT_NEAR(slope.LogPdfSlope(2.0), std::log(2.0), 1e-15);

  RF filled = WithMasses({1, 2});
  filled.Fill(0.5);
  EXPECT_EQ(Masses(filled), (std::vector<double>{0.5, 0.5}));
}

TEST(RFTest, CumulativeLookups) {
  RF r = WithMasses({0.25, 0.25, 0.25, 0.25});
  // Before BuildCdf: 0 below the grid, 1 elsewhere.
  EXPECT_EQ(r.CdfLookup(-2.0), 0.0);
  EXPECT_EQ(r.CdfLookup(1.0), 1.0);
  r.BuildCdf();
  EXPECT_EQ(r.CdfLookup(1.0), 0.5);
  EXPECT_EQ(r.CdfLookup(10.0), 1.0);

  r.BuildSamplingTable(false);
  EXPECT_NEAR(r.InverseCdf(0.3), 0.7, 1e-12);  // bin 1, a fifth of the way in, less half a bin
  EXPECT_EQ(r.InverseCdf(-0.001), 0.0);
  EXPECT_EQ(r.InverseCdf(-0.0001), 0.0);
  EXPECT_EQ(r.InverseCdf(1.5), 0.0);

  // A stale, shorter cdf is refused instead of read beyond its end.
  RF stale = WithMasses({0.5, 0.5});
  stale.BuildSamplingTable(false);
  EXPECT_EQ(stale.InverseCdf(0.75), 0.0);
}

TEST(RFTest, EntropyAgreesWithScipy) {
  RF r = WithMasses({3, 0, 1, 7, 2, 0.5, 9, 4});
  r.Normalize();
  std::ostringstream args;
  args.precision(17);
  for (double m : Masses(r)) args << m << " ";
  ProcessResult py = RunPython(
      "import sys\nfrom scipy.stats import entropy\n"
      "print(repr(float(entropy([float(t) for t in sys.argv[1].split()], base=2))))\n",
      {args.str()});
  ASSERT_EQ(py.status, 0) << py.err;
  double expected = std::strtod(py.out.c_str(), nullptr);
  EXPECT_NEAR(r.Entropy(), expected, 1e-12 * expected);

  // Base 2, and the masses are taken as they are, not normalised first.
  EXPECT_EQ(WithMasses({0.5, 0.5}).Entropy(), 1.0);
  EXPECT_NEAR(WithMasses({2, 2}).Entropy(), -4.0, 1e-15);
}

TEST(RFTest, BinaryRecordRoundTrips) {
  RF r = WithMasses({0.5, 1.5, -2.0}, -1.25, 0.5);
  std::ostringstream out;
  r.WriteBinary(out);
  std::string bytes = out.str();
  ASSERT_EQ(bytes.size(), 8u * 3 + 28);
  std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 8);
  EXPECT_EQ(ToHex(head), ToHex(HexBytes("01000000 03000000")));
  std::vector<uint8_t> tail(bytes.end() - 20, bytes.end());
  // bins 3, min -1.25, width 0.5
  EXPECT_EQ(ToHex(tail), ToHex(HexBytes("03000000 000000000000f4bf 000000000000e03f")));

  RF back;
  back.step = 0.125;
  std::istringstream in(bytes);
  ASSERT_TRUE(back.ReadBinary(in));
  EXPECT_EQ(Masses(back), Masses(r));
  EXPECT_EQ(back.bins, 3);
  EXPECT_EQ(back.min, -1.25);
  EXPECT_EQ(back.width, 0.5);
  EXPECT_EQ(back.step, 0.125);  // derived members are not rebuilt
  EXPECT_EQ(back.samplingTable.rows * back.samplingTable.cols, 0);

  std::ostringstream emptyOut;
  RF().WriteBinary(emptyOut);
  EXPECT_EQ(emptyOut.str().size(), 28u);
}

TEST(RFTest, BinaryReadRejectsDamagedRecords) {
  RF good = WithMasses({1, 2}, 0.0, 1.0);
  std::ostringstream out;
  good.WriteBinary(out);
  const std::string bytes = out.str();  // 44 bytes: 8 + 16 masses + 4 bins + 16
  struct Case {
    const char* name;
    std::string record;
  } cases[] = {
      {"cut inside the masses", bytes.substr(0, 20)},
      {"cut inside the tail", bytes.substr(0, 30)},
      {"bins beyond the masses", bytes.substr(0, 24) + std::string("\x03\x00\x00\x00", 4) + bytes.substr(28)},
      {"mass count beyond the record", std::string("\x01\x00\x00\x00\xff\xff\x00\x00", 8) + bytes.substr(8)},
  };
  for (const Case& c : cases) {
    RF r = WithMasses({7}, 3.0, 2.0);
    std::istringstream in(c.record);
    r.ReadBinary(in);
    EXPECT_TRUE(in.fail()) << c.name;
    EXPECT_EQ(Masses(r), (std::vector<double>{7})) << c.name;
    EXPECT_EQ(r.bins, 1) << c.name;
    EXPECT_EQ(r.min, 3.0) << c.name;
  }
}

TEST(RFTest, TextFileRoundTripsToSixDigits) {
  TempFolder tmp;
  RF r = WithMasses({0.123456789, 2.0, 1e-7}, -0.333333333, 0.25);
  ASSERT_TRUE(r.SaveText(tmp.file("rf.txt").c_str()));
  EXPECT_EQ(ReadFileText(tmp.file("rf.txt")), "-0.333333\n0.25\n3\n0.123457\n2\n1e-07\n");
  RF back;
  ASSERT_TRUE(back.LoadText(tmp.file("rf.txt").c_str()));
  EXPECT_EQ(back.bins, 3);
  EXPECT_EQ(back.min, -0.333333);
  EXPECT_EQ(back.width, 0.25);
  EXPECT_EQ(Masses(back), (std::vector<double>{0.123457, 2, 1e-07}));
  EXPECT_FALSE(r.SaveText(tmp.file("missing/rf.txt").c_str()));
}

TEST(RFTest, TextLoadRejectsBadFilesAndKeepsTheDistribution) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"empty", ""},
      {"no bin count", "0\n1\n"},
      {"negative bin count", "0\n1\n-2\n"},
      {"fewer masses than bins", "0\n1\n3\n0.5\n0.5\n"},
      {"bin count far beyond the file", "0\n1\n2000000000\n1\n"},
      {"malformed mass", "0\n1\n1\nx\n"},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    WriteFileText(tmp.file("bad.txt"), c.text);
    RF r = WithMasses({4, 5}, 1.0, 2.0);
    EXPECT_FALSE(r.LoadText(tmp.file("bad.txt").c_str())) << c.name;
    EXPECT_EQ(Masses(r), (std::vector<double>{4, 5})) << c.name;
    EXPECT_EQ(r.bins, 2) << c.name;
    EXPECT_EQ(r.min, 1.0) << c.name;
  }
  RF r;
  EXPECT_FALSE(r.LoadText(tmp.file("does-not-exist.txt").c_str()));
}

TEST(RFTest, SetFromSubsetKeepsChosenBinsAndRedrawsTheOthers) {
  RF source = WithMasses({0.5, 0.2, 0.3, 0.0});
  source.BuildCdf();

  RF all = WithMasses({9});
  all.BuildCdf();
  long long before = UniformRandomDrawCountForTesting();
  all.SetFromSubset(source, {0, 1, 2, 3});
  EXPECT_EQ(UniformRandomDrawCountForTesting(), before);
  EXPECT_EQ(Masses(all), Masses(source));
  EXPECT_EQ(all.cdf[0], 9.0);  // its own cdf

  RF some;
  before = UniformRandomDrawCountForTesting();
  some.SetFromSubset(source, {0, 2});
  // One local uniform distribution is constructed, then at least one value is drawn.
  EXPECT_GE(UniformRandomDrawCountForTesting(), before + 2);
  std::vector<double> m = Masses(some);
  double total = m[0] + m[1] + m[2] + m[3];
  EXPECT_NEAR(total, 1.0, 1e-15);
  EXPECT_NEAR(m[0] / m[2], 0.5 / 0.3, 1e-12);  // kept bins keep their proportion
  // The redrawn masses come from the 0.001 grid below what the kept bins left (0.2).
  double scale = (0.5 + 0.3) / (m[0] + m[2]);
  for (int i : {1, 3}) {
    double drawn = m[i] * scale;
    EXPECT_NEAR(drawn * 1000, std::round(drawn * 1000), 1e-6) << i;
    EXPECT_LE(drawn, 0.2 + 1e-12) << i;
  }
}

TEST(RFTest, SmoothConvolvesOnTheSameGridAndNormalises) {
  VectorQo<double> kernel(3);
  struct Case {
    const char* name;
    double taps[3];
    std::vector<double> masses, smoothed;
  } cases[] = {
      {"symmetric", {0.25, 0.5, 0.25}, {0, 0, 4, 0, 0}, {0, 0.25, 0.5, 0.25, 0}},
      // A true convolution: the first tap lands before the centre.
      {"asymmetric", {0.25, 0.25, 0.5}, {0, 0, 4, 0, 0}, {0, 0.25, 0.25, 0.5, 0}},
      // The border is zero, so mass that leaves the grid is lost before normalising.
      {"at the border", {0.25, 0.5, 0.25}, {2, 0, 0}, {2.0 / 3, 1.0 / 3, 0}},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 3; ++i) kernel[i] = c.taps[i];
    RF r = WithMasses(c.masses, 1.0, 0.5);
    r.Smooth(kernel);
    EXPECT_EQ(r.bins, static_cast<int>(c.masses.size())) << c.name;
    EXPECT_EQ(r.min, 1.0) << c.name;
    std::vector<double> got = Masses(r);
    ASSERT_EQ(got.size(), c.smoothed.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.smoothed[i], 1e-15) << c.name << " bin " << i;
  }

  // Masses read as a column (a record of n x 1) are smoothed down the column.
  RF column = WithMasses({0, 4, 0});
  column.pdf.SetSize(3, 1);
  column.pdf[1] = 4.0;
  for (int i = 0; i < 3; ++i) kernel[i] = 1.0;
  column.Smooth(kernel);
  EXPECT_EQ(Masses(column), (std::vector<double>{1.0 / 3, 1.0 / 3, 1.0 / 3}));
}
