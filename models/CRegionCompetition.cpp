#include "models/CRegionCompetition.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "features/Edg3DSample.h"
#include "models/CBrainGMM.h"
#include "models/MCMC_EdgeOp3D.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"
#include "volume/AnalyzeVolume.h"
#include "volume/VolumeFileNames.h"

namespace {

// Whether the files a volume name reads exist: both halves of an Analyze pair (whose
// reader ends the program on a missing header), or the file itself.
bool VolumeFilesExist(const std::string& path) {
  const std::string ext = volume_names::Extension(path);
  if (ext == "img" || ext == "hdr") {
    const std::string base = volume_names::WithoutExtension(path);
    return PathExists(base + ".hdr") && PathExists(base + ".img");
  }
  return PathExists(path);
}

void ReportMissing(const std::string& path) {
  std::printf("File %s does not exist!\n", path.c_str());
  std::fflush(stdout);
}

void ReportExtents(const std::string& path, int d0, int d1, int d2, int n0, int n1, int n2) {
  std::printf("Label volume %s is %d x %d x %d, the box needs %d x %d x %d\n", path.c_str(), d0, d1, d2, n0, n1,
              n2);
  std::fflush(stdout);
}

}  // namespace

CRegionCompetition::CRegionCompetition(double edgeWeight_, double intensityWeight_, double sizeWeight_)
    : intensityWeight(intensityWeight_), sizeWeight(sizeWeight_), edgeWeight(edgeWeight_) {
  meanCurvatureFid.kind = 'C';
  meanCurvatureFid.index = 15;
  meanCurvatureFid.setDescription("3D Curvature feature: mean");
}

CRegionCompetition::~CRegionCompetition() { ReleaseRunState(); }

void CRegionCompetition::ReleaseRunState() {
  labels.Release();
  intensity.Release();
  edgeMap.Release();
  scaledIntensity.Release();
  delete mixture;
  mixture = nullptr;
  for (RF* h : initialHistograms) delete h;
  for (RF* h : currentHistograms) delete h;
  initialHistograms.clear();
  currentHistograms.clear();
  delete labelledHistogram;
  labelledHistogram = nullptr;
  delete currentLabelHistogram;
  delete candidateLabelHistogram;
  currentLabelHistogram = nullptr;
  candidateLabelHistogram = nullptr;
  sizeTerms.Release();
  std::vector<float>().swap(featureTerms);
  std::vector<uint8_t>().swap(featureTermKnown);
  if (featureSample) {
    featureSample->getDerivedVolumes().Volume().Release();
    featureSample->clearContextVolumes();
    featureSample->invalidateCase();
    delete featureSample;
    featureSample = nullptr;
  }
  mixtureTerms.clear();
  mixturePowers.clear();
  penaltyFactors.clear();
  maxIterations = 15;
  numLabels = 0;
  labelledMean = labelledSpread = 0.0;
  minIntensity = maxIntensity = 0.0;
  changeThreshold = 0;
  nonEmptyLabels = 0;
  histogramPairsDrawn = 0;
}

int CRegionCompetition::Run(const std::string& volumePath, const std::string& labelPath, int iterations,
                            const char* outputPath, const SubVolume* box) {
  ReleaseRunState();
  std::printf("Initializing Region Competition...\n");
  std::fflush(stdout);
  if (LoadInputs(volumePath, labelPath, box) != 0) return -1;
  InitClasses();
  mixture = new CBrainGMM(3, numLabels);  // 3 components per label value
  FitMixture();
  SetUpFeatureSample();

  std::printf("Calculating Canny Edge...\n");
  std::fflush(stdout);
  ComputeCannyEdgeMap(edgeMap, scaledIntensity);

  if (iterations > 0) maxIterations = iterations;
  std::printf("#ite = %d,  edge = %.2f, intensity = %.2f, size = %.2f\n", maxIterations, edgeWeight,
              intensityWeight, sizeWeight);
  std::printf("Region Competition...\n");
  std::fflush(stdout);
  Evolve();
  delete mixture;
  mixture = nullptr;

  if (outputPath != nullptr) {
    const std::string out = outputPath;
    const std::string ext = volume_names::Extension(out);
    bool written = true;
    if (ext == "3dm")
      written = labels.Save(out);
    else if (ext == "img")
      written = WriteAnalyzeVolume(out, labels) == 1;
    if (!written) {
      std::printf("Cannot write %s\n", out.c_str());
      std::fflush(stdout);
      return -1;
    }
  }
  return 0;
}

int CRegionCompetition::LoadInputs(const std::string& volumePath, const std::string& labelPath,
                                   const SubVolume* box) {
  HeapMatrix3D<short> source;
  if (!VolumeFilesExist(volumePath) || !ReadVolume(volumePath, source)) {
    ReportMissing(volumePath);
    return -1;
  }
  const SubVolume b = box ? *box : SubVolume(0, 0, 0, source.dim2() - 1, source.dim1() - 1, source.dim0() - 1);
  if (b.x0 < 0 || b.y0 < 0 || b.z0 < 0 || b.x0 > b.x1 || b.y0 > b.y1 || b.z0 > b.z1 || b.x1 >= source.dim2() ||
      b.y1 >= source.dim1() || b.z1 >= source.dim0()) {
    std::printf("invalid box (%d, %d, %d)-(%d, %d, %d) for %s of %d x %d x %d\n", b.x0, b.y0, b.z0, b.x1, b.y1,
                b.z1, volumePath.c_str(), source.dim2(), source.dim1(), source.dim0());
    std::fflush(stdout);
    return -1;
  }
  const int nz = b.z1 - b.z0 + 1, ny = b.y1 - b.y0 + 1, nx = b.x1 - b.x0 + 1;
  if (intensity.SetSize(nz, ny, nx) < 1) return -1;
  for (int k = 0; k < nz; ++k)
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) intensity[k][j][i] = source[b.z0 + k][b.y0 + j][b.x0 + i];

  if (volume_names::Extension(labelPath) == "img") {
    HeapMatrix3D<short> file;
    if (!VolumeFilesExist(labelPath) || !ReadVolume(labelPath, file)) {
      ReportMissing(labelPath);
      return -1;
    }
    // A file with the box's extents is taken as it is; a larger one has the box cut out.
    const bool boxSized = file.dim0() == nz && file.dim1() == ny && file.dim2() == nx;
    const int oz = boxSized ? 0 : b.z0, oy = boxSized ? 0 : b.y0, ox = boxSized ? 0 : b.x0;
    if (oz + nz > file.dim0() || oy + ny > file.dim1() || ox + nx > file.dim2()) {
      ReportExtents(labelPath, file.dim2(), file.dim1(), file.dim0(), nx, ny, nz);
      return -1;
    }
    if (labels.SetSize(nz, ny, nx) < 1) return -1;
    for (int k = 0; k < nz; ++k)
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) labels[k][j][i] = LowByte(file[oz + k][oy + j][ox + i]);
  } else {
    if (!labels.Load(labelPath) || labels.NumElements() == 0) {
      labels.Release();
      ReportMissing(labelPath);
      return -1;
    }
    if (labels.dim0() != nz || labels.dim1() != ny || labels.dim2() != nx) {
      ReportExtents(labelPath, labels.dim2(), labels.dim1(), labels.dim0(), nx, ny, nz);
      return -1;
    }
  }
  return 0;
}

RF* CRegionCompetition::NewGridHistogram() const {
  RF* h = new RF();  // one draw
  h->Init(minIntensity, maxIntensity, (maxIntensity - minIntensity + 0.5) / binCount);
  return h;
}

void CRegionCompetition::InitClasses() {
  numLabels = labels.Max();
  short lo = 0, hi = 0;
  intensity.MinMax(lo, hi);
  minIntensity = lo;
  maxIntensity = hi;
  // Construction order is draw order: the initial histograms, the current ones, then
  // the histogram of the labelled voxels.
  initialHistograms.resize(static_cast<size_t>(numLabels) + 1);
  currentHistograms.resize(static_cast<size_t>(numLabels) + 1);
  for (RF*& h : initialHistograms) h = NewGridHistogram();
  for (RF*& h : currentHistograms) h = NewGridHistogram();
  labelledHistogram = NewGridHistogram();
  sizeTerms.SetSize(numLabels + 1);
  scaledIntensity.SetSize(intensity.dim0(), intensity.dim1(), intensity.dim2());
  for (RF* h : initialHistograms) h->Fill(1.0);
  for (RF* h : currentHistograms) h->Fill(1.0);
  labelledHistogram->Fill(1.0);

  const double range = maxIntensity - minIntensity + 1.0;
  for (int z = 0; z < intensity.dim0(); ++z)
    for (int y = 0; y < intensity.dim1(); ++y)
      for (int x = 0; x < intensity.dim2(); ++x) {
        const short v = intensity[z][y][x];
        scaledIntensity[z][y][x] = DoubleToLowByte((v - minIntensity) * 255.0 / range + 0.5);
        unsigned char& l = labels[z][y][x];
        if (v == 0) {
          l = 0;  // every voxel of intensity 0 is background from here on
        } else {
          initialHistograms[l]->Add(v, 1.0);
          currentHistograms[l]->Add(v, 1.0);
          if (l != 0) labelledHistogram->Add(v, 1.0);
        }
      }

  nonEmptyLabels = 0;
  for (int l = 0; l < numLabels; ++l) {
    const RF& h = *initialHistograms[static_cast<size_t>(l)];
    double sum = 0.0;
    for (int b = 0; b < h.bins; ++b) sum += h.pdf[b];
    if (sum > h.bins) ++nonEmptyLabels;
  }
  double labelledSum = 0.0;
  for (int b = 0; b < labelledHistogram->bins; ++b) labelledSum += labelledHistogram->pdf[b];
  // Both include the initial count of 1 per bin.
  labelledMean = labelledHistogram->Mean() / labelledSum;
  labelledSpread = (labelledMean - minIntensity) / 3.0;
  penaltyFactors.resize(static_cast<size_t>(labelledHistogram->bins));
  for (int b = 0; b < labelledHistogram->bins; ++b)
    penaltyFactors[static_cast<size_t>(b)] =
        std::exp(-LowIntensityPenalty(labelledHistogram->min + b * labelledHistogram->width));

  sizeTerms[0] = -0.1 * std::exp(0.1);
  for (int l = 1; l <= numLabels; ++l) sizeTerms[l] = -0.3 * std::exp(-0.3);
}

int CRegionCompetition::SamplingStep(int numLabels) {
  const int32_t step = TruncToInt32(std::ceil(std::log2(static_cast<double>(numLabels)) + 2.0));
  return std::min(8, step);
}

void CRegionCompetition::FitMixture() {
  // Without a label above 0 there is nothing to fit (and log2(0) gives no step).
  if (mixture != nullptr && numLabels >= 1) mixture->Fit(intensity, labels, SamplingStep(numLabels));
  ForgetMixtureTerms();
}

int CRegionCompetition::SetUpFeatureSample() {
  featureSample = new Edg3DSample();
  featureSample->setVolume(labels);
  // The curvature term always sees the labelling as it is now, the initial one.
  featureSample->getDerivedVolumes().Volume() = labels;
  return 0;
}
