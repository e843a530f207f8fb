#include "features/Edg3DSample.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <vector>
#include <typeinfo>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "features/FeatureFlags.h"
#include "features/HaarFilter3D.h"
#include "features/Object3DSample.h"
#include "numerics/HistogramFunctions.h"
#include "numerics/RF.h"
#include "platform/NativePath.h"
#include "platform/ParallelFor.h"
#include "volume/AnalyzeVolume.h"
#include "volume/FolderLayout.h"

namespace {

std::atomic<uint64_t> gNextDataStamp{1};

}  // namespace

Edg3DSample::Edg3DSample() {
  gradient.SetVolume(volume);
  touchData();  // a stamp of its own: no copy of another sample matches it
}

Edg3DSample::~Edg3DSample() { deleteFilters(haarFilters); }

Edg3DSample* Edg3DSample::workerCopy() const {
  // A derived class may hold state or compute features of its own: it copies itself.
  if (typeid(*this) != typeid(Edg3DSample)) return nullptr;
  Edg3DSample* copy = new Edg3DSample();
  copy->copyStateFrom(*this);
  return copy;
}

void Edg3DSample::touchData() { dataStamp_ = gNextDataStamp.fetch_add(1); }

bool Edg3DSample::getPlace(Place& place) const {
  // Only a sample whose worker copies are of its own class can be followed.
  if (typeid(*this) != typeid(Edg3DSample) && typeid(*this) != typeid(Object3DSample)) return false;
  // An empty atlas is loaded by the first atlas feature computed (unless that path
  // already failed): that computation must stay on the calling thread.
  if (atlas.NumElements() <= 0 && !(atlasFailed_ && failedAtlasPath_ == gAtlasPath)) {
    for (const PbtFid& f : featurePool)
      if (f.kind == 't') return false;
  }
  place.words[0] = x;
  place.words[1] = y;
  place.words[2] = z;
  place.words[3] = loadedCase;
  place.dataStamp = dataStamp_;
  return true;
}

void Edg3DSample::moveTo(const Place& place) {
  x = place.words[0];
  y = place.words[1];
  z = place.words[2];
  loadedCase = place.words[3];
  const int half = boxSpan / 2;
  boxOriginZ = z - half;
  boxOriginY = y - half;
  boxOriginX = x - half;
}

void Edg3DSample::copyStateFrom(const Edg3DSample& o) {
  if (this == &o) return;
  clearCacheMode();
  featurePool = o.featurePool;
  boxSpan = o.boxSpan;
  boxWidth = o.boxWidth;
  boxHeight = o.boxHeight;
  boxDepth = o.boxDepth;
  folder = o.folder;
  deleteFilters(haarFilters);
  loadedCase = o.loadedCase;
  boxOriginZ = o.boxOriginZ;
  boxOriginY = o.boxOriginY;
  boxOriginX = o.boxOriginX;
  x = o.x;
  y = o.y;
  z = o.z;
  volume.Clear();
  integral = ItgImage3D<double>();
  curvature = Curvature3D<unsigned char>();
  principal1.Clear();
  principal2.Clear();
  shapeIndex.Clear();
  curvedness.Clear();
  atlas.Clear();
  contextVolumes.clear();
  contextOffsets = o.contextOffsets;
  peakScale = o.peakScale;
  intensityMean = o.intensityMean;
  intensityScale = o.intensityScale;
  numContextMaps = o.numContextMaps;
  failedAtlasPath_ = o.failedAtlasPath_;
  atlasFailed_ = o.atlasFailed_;
  dataStamp_ = o.dataStamp_;
  // The data stays where it is: the copy reads it from the source.
  source_ = &o.data();
  gradient = o.gradient;
  gradient.SetVolume(data().volume);
  curvature.ReadVolumeOf(&data().curvature);
}

void Edg3DSample::prepareDataChange() {
  announceDataChange();
  if (!isWorkerCopy()) return;
  const Edg3DSample& o = data();
  deleteFilters(haarFilters);
  haarFilters.reserve(o.haarFilters.size());
  for (const HaarFilter3D* f : o.haarFilters) haarFilters.push_back(f ? new HaarFilter3D(*f) : nullptr);
  volume = o.volume;
  integral = o.integral;
  curvature = o.curvature;
  principal1 = o.principal1;
  principal2 = o.principal2;
  shapeIndex = o.shapeIndex;
  curvedness = o.curvedness;
  atlas = o.atlas;
  contextVolumes = o.contextVolumes;
  source_ = this;
  gradient.SetVolume(volume);
  curvature.ReadVolumeOf(nullptr);
}

void Edg3DSample::setDirectory(const char* text) {
  if (text) folder = text;
}

void Edg3DSample::setPosition(const VoxelSampleRecord& record) {
  x = record.x;
  y = record.y;
  z = record.z;
  const int half = boxSpan / 2;
  boxOriginZ = z - half;
  boxOriginY = y - half;
  boxOriginX = x - half;
  const int c = record.caseNumber;
  if (c == loadedCase) return;
  prepareDataChange();
  loadedCase = c;
  touchData();

  clearContextVolumes();
  // Start from empty volumes so that a file that does not load leaves no earlier
  // case behind.
  volume.Clear();
  const std::string volumeFile = layout::CaseFile(folder, c, layout::kCaseVolumeEnding);
  if (!volume.Load(volumeFile)) {
    volume.Clear();
    std::printf("Cannot read the case volume %s\n", volumeFile.c_str());
    std::fflush(stdout);
  }
  estimateIntensityRange(true);
  buildIntegral();
  gradient.SetVolume(volume);

  contextVolumes.resize(numContextMaps > 0 ? numContextMaps : 0);
  for (int i = 0; i < numContextMaps; ++i)
    if (!contextVolumes[i].Load(layout::CaseMapFile(folder, c, i))) contextVolumes[i].Clear();

  HeapMatrix3D<short> wide;
  atlas.Clear();
  // The Analyze reader ends the program on a header it cannot open, so a case
  // without its atlas pair is left with an empty atlas instead.
  const std::string atlasImage = layout::CaseFile(folder, c, layout::kCaseAtlasImageEnding);
  if (PathExists(layout::CaseFile(folder, c, layout::kCaseAtlasHeaderEnding)) && PathExists(atlasImage) &&
      ReadVolume(atlasImage, wide)) {
    atlas.SetSize(wide.dim0(), wide.dim1(), wide.dim2());
    const int64_t n = wide.NumElements();
    const short* from = &wide(0, 0, 0);
    unsigned char* to = &atlas(0, 0, 0);
    for (int64_t i = 0; i < n; ++i) to[i] = static_cast<unsigned char>(static_cast<unsigned short>(from[i]) & 0xFFu);
  }
}

void Edg3DSample::setVolume(const HeapMatrix3D<unsigned char>& v) {
  prepareDataChange();
  volume = v;
  touchData();
  buildIntegral();
  estimateIntensityRange();
  gradient.SetVolume(volume);
}

void Edg3DSample::setContextVolumes(const HeapMatrix3D<unsigned char>* maps) {
  clearContextVolumes();  // a new data stamp
  if (!maps || numContextMaps <= 0) return;
  contextVolumes.resize(numContextMaps);
  for (int i = 0; i < numContextMaps; ++i) contextVolumes[i] = maps[i];
}

namespace {

// Intensity figures of recently loaded case volumes, with the volumes they belong to.
struct RememberedIntensity {
  HeapMatrix3D<unsigned char> volume;
  float mean = 0.0f, scale = 0.0f, peak = 1.0f;
};
constexpr size_t kRememberedVolumes = 16;
constexpr int64_t kRememberedVoxels = int64_t{256} << 20;
std::mutex gRememberedLock;
std::deque<RememberedIntensity> gRemembered;

bool SameVoxels(const HeapMatrix3D<unsigned char>& a, const HeapMatrix3D<unsigned char>& b) {
  if (a.dim0() != b.dim0() || a.dim1() != b.dim1() || a.dim2() != b.dim2()) return false;
  const int64_t n = a.NumElements();
  return n == 0 || std::memcmp(&a(0, 0, 0), &b(0, 0, 0), static_cast<size_t>(n)) == 0;
}

}  // namespace

void Edg3DSample::estimateIntensityRange(bool remember) {
  prepareDataChange();
  RF histogram;  // deliberate: one draw per case load and per setVolume
  histogram.Init(0.0, 256.0, 4.0);
  const int64_t n = volume.NumElements();
  if (remember && n > 0) {
    std::lock_guard<std::mutex> hold(gRememberedLock);
    for (const RememberedIntensity& r : gRemembered) {
      if (!SameVoxels(r.volume, volume)) continue;
      intensityMean = r.mean;
      intensityScale = r.scale;
      peakScale = r.peak;
      return;
    }
  }
  const unsigned char* v = n > 0 ? &volume(0, 0, 0) : nullptr;
  // Every bin counts whole voxels, exact in double in any order: the values are counted
  // on the workers (a slab of voxels each) and added per value.
  const int64_t slab = 1 << 20;
  const int slabs = static_cast<int>((n + slab - 1) / slab);
  std::vector<std::array<int64_t, 256>> counts(static_cast<size_t>(slabs));
  ParallelFor(0, slabs, [&](int k, int) {
    std::array<int64_t, 256>& c = counts[static_cast<size_t>(k)];
    c.fill(0);
    const int64_t end = std::min<int64_t>(n, (k + 1) * slab);
    for (int64_t i = k * slab; i < end; ++i) ++c[v[i]];
  });
  for (int value = 0; value < 256; ++value) {
    int64_t c = 0;
    for (const std::array<int64_t, 256>& part : counts) c += part[static_cast<size_t>(value)];
    if (c > 0) histogram.Add(value, static_cast<double>(c));
  }
  double total = 0.0;
  for (int i = 0; i < histogram.Count(); ++i) total += histogram.pdf[i];
  if (!(total > 0.0)) {
    intensityMean = 0.0f;
    intensityScale = 0.0f;
    peakScale = 1.0f;
    return;
  }
  // RF::Mean is the bin-weighted sum; divided by the mass it is the mean of the
  // binned intensities.
  intensityMean = static_cast<float>(histogram.Mean() / total);
  // The squares are summed in voxel order (the order decides the rounding), each term
  // taken from a table of the 256 values.
  double term[256];
  for (int value = 0; value < 256; ++value) {
    const double d = static_cast<double>(value) - static_cast<double>(intensityMean);
    term[value] = d * d;
  }
  double squares = 0.0;
  for (int64_t i = 0; i < n; ++i) squares += term[v[i]];
  intensityScale = static_cast<float>(std::sqrt(squares / total));
  histogram.Normalize();
  peakScale = static_cast<float>(FindTopHistogramPeak(histogram));
  if (peakScale < 1.0f) peakScale = 1.0f;
  if (remember && n <= kRememberedVoxels) {
    std::lock_guard<std::mutex> hold(gRememberedLock);
    int64_t kept = n;
    for (const RememberedIntensity& r : gRemembered) kept += r.volume.NumElements();
    while (!gRemembered.empty() && (gRemembered.size() >= kRememberedVolumes || kept > kRememberedVoxels)) {
      kept -= gRemembered.front().volume.NumElements();
      gRemembered.pop_front();
    }
    // Filled in place: a volume is copied, never moved, so a temporary would copy it twice.
    RememberedIntensity& r = gRemembered.emplace_back();
    r.volume = volume;
    r.mean = intensityMean;
    r.scale = intensityScale;
    r.peak = peakScale;
    if (r.volume.NumElements() != n) gRemembered.pop_back();
  }
}

void Edg3DSample::buildIntegral() {
  prepareDataChange();
  const int D = volume.dim0(), H = volume.dim1(), W = volume.dim2();
  integral.zSize = D;
  integral.ySize = H;
  integral.xSize = W;
  integral.sums.SetSize(D, H, W);
  integral.squares.SetSize(D, H, W);
  if (volume.NumElements() <= 0) return;
  HeapMatrix3D<double>& J1 = integral.sums;
  HeapMatrix3D<double>& J2 = integral.squares;
  // Every table entry is the sum of whole numbers (voxels and their squares, far below
  // 2^53 in total), so it is exact in double whatever the order of the additions: the
  // slices are summed over rows and columns on the workers, then along z row by row.
  ParallelFor(0, D, [&](int zz, int) {
    for (int yy = 0; yy < H; ++yy) {
      double row1 = 0.0, row2 = 0.0;
      for (int xx = 0; xx < W; ++xx) {
        const double v = volume(zz, yy, xx);
        row1 += v;
        row2 += v * v;
        J1(zz, yy, xx) = row1 + (yy > 0 ? J1(zz, yy - 1, xx) : 0.0);
        J2(zz, yy, xx) = row2 + (yy > 0 ? J2(zz, yy - 1, xx) : 0.0);
      }
    }
  });
  ParallelFor(0, H, [&](int yy, int) {
    for (int zz = 1; zz < D; ++zz)
      for (int xx = 0; xx < W; ++xx) {
        J1(zz, yy, xx) += J1(zz - 1, yy, xx);
        J2(zz, yy, xx) += J2(zz - 1, yy, xx);
      }
  });
}
