// The generative per-label model of Kro_AppearanceAll and the terms that price the
// move of one boundary face.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "models/Kro_AppearanceAll.h"
#include "pbt/PbtLog.h"
#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

namespace {

std::string RecordPath(const char* folder, int index) {
  return layout::InFolder(folder, FormatText(layout::kRegionRecord, index));
}

std::string MarkerPath(const char* folder) { return layout::InFolder(folder, layout::kAppearanceMarker); }

}  // namespace

bool Kro_AppearanceAll::WriteGenerative(const char* folder) {
  if (folder == nullptr) return false;
  std::ofstream marker;
  if (!OpenOutputStream(marker, MarkerPath(folder))) {
    std::printf("cannot write %s\n", MarkerPath(folder).c_str());
    return false;
  }
  marker.close();
  bool ok = true;
  for (int i = 0; i < kLabels; ++i) {
    if (!present[i]) continue;
    std::string error;
    if (!likelihoods[i].Write(RecordPath(folder, i), &error)) {
      std::printf("%s\n", error.c_str());
      ok = false;
    }
  }
  return ok;
}

bool Kro_AppearanceAll::ReadGenerative(const char* folder) {
  if (folder == nullptr) return false;
  std::ifstream marker;
  if (!OpenInputStream(marker, MarkerPath(folder))) return false;
  marker.seekg(0, std::ios::end);
  if (marker.tellg() != 0) {
    // The marker is empty; anything else is not a generative model of this program.
    std::printf("invalid appearance model marker %s\n", MarkerPath(folder).c_str());
    return false;
  }
  marker.close();
  // Read every record before anything changes: a bad record fails the whole load.
  // The copies are of existing records, so no generator draw is taken.
  std::vector<Kro_AprncRegionLikelihood> records(likelihoods);
  VectorQo<bool> found(kLabels, false);
  for (int i = 0; i < kLabels; ++i) {
    const std::string path = RecordPath(folder, i);
    if (!PathExists(path)) continue;
    std::string error;
    if (!records[i].Read(path, &error)) {
      std::printf("%s\n", error.c_str());
      return false;
    }
    found[i] = true;
  }
  likelihoods.swap(records);
  present = found;
  modelType = 0;
  return true;
}

bool Kro_AppearanceAll::EstimateGenerative(const HeapMatrix3D<short>& intensities, const HeapMatrix3D<short>& labels,
                                           const char* folder, int first, int last, int offset) {
  if (folder == nullptr) return false;
  for (auto& record : likelihoods) {
    record.histogram.Init(0.0, 255.0, 5.0);
    record.histogram.Fill(0.0);
  }
  const int d0 = std::min(intensities.dim0(), labels.dim0());
  const int d1 = std::min(intensities.dim1(), labels.dim1());
  const int d2 = std::min(intensities.dim2(), labels.dim2());
  if (intensities.NumElements() > 0 && labels.NumElements() > 0) {
    for (int z = 0; z < d0; ++z)
      for (int y = 0; y < d1; ++y)
        for (int x = 0; x < d2; ++x) {
          const int l = labels(z, y, x);
          if (l >= 0 && l < kLabels) likelihoods[l].histogram.Add(intensities(z, y, x), 1.0);
        }
  }
  VectorQo<double> kernel(3);
  kernel[0] = 0.25;
  kernel[1] = 0.5;
  kernel[2] = 0.25;
  for (int i = 0; i < kLabels; ++i) {
    likelihoods[i].histogram.Smooth(kernel);
    present[i] = likelihoods[i].histogram.Normalize();
    likelihoods[i].Likelihood();
  }
  bool ok = true;
  for (int l = std::max(first, 0); l <= last && l < kLabels; ++l) {
    std::string error;
    if (!likelihoods[l].Write(RecordPath(folder, l + offset), &error)) {
      std::printf("%s\n", error.c_str());
      ok = false;
    }
  }
  return ok;
}

bool Kro_AppearanceAll::NeighbourBox(int& p0, int& p1, int& p2, int& q0, int& q1, int& q2, uint8_t axis, int z,
                                     int y, int x) const {
  q0 = z;
  q1 = y;
  q2 = x;
  p0 = z;
  p1 = y;
  p2 = x;
  if (axis == 0) p0 = z - 1;
  if (axis == 1) p1 = y - 1;
  if (axis == 2) p2 = x - 1;
  return labelVolume != nullptr && labelVolume->IsInside(p0, p1, p2) && labelVolume->IsInside(q0, q1, q2);
}

bool Kro_AppearanceAll::FaceSides(int16_t label, uint8_t axis, int z, int y, int x, int a[3], int b[3]) const {
  int p[3], q[3];
  if (!NeighbourBox(p[0], p[1], p[2], q[0], q[1], q[2], axis, z, y, x)) return false;
  const bool pHolds = (*labelVolume)(p[0], p[1], p[2]) == label;
  for (int i = 0; i < 3; ++i) {
    a[i] = pHolds ? p[i] : q[i];
    b[i] = pHolds ? q[i] : p[i];
  }
  return true;
}

float Kro_AppearanceAll::RegionLikelihood(int16_t label, uint8_t axis, int z, int y, int x) {
  int a[3], b[3];
  if (!FaceSides(label, axis, z, y, x, a, b)) return 0.0f;
  if (!volume.IsInside(a[0], a[1], a[2]) || !volume.IsInside(b[0], b[1], b[2])) return 0.0f;
  const int labelA = (*labelVolume)(a[0], a[1], a[2]);
  const int labelB = (*labelVolume)(b[0], b[1], b[2]);
  const double costA = likelihoods[labelA].cost.Pdf(volume(a[0], a[1], a[2]));
  double costB = likelihoods[labelB].cost.Pdf(volume(b[0], b[1], b[2]));
  if (labelB == 0) costB *= 0.75;
  return static_cast<float>(costB - costA);
}

double Kro_AppearanceAll::PosteriorLikelihood(int16_t label, uint8_t axis, int z, int y, int x) {
  int a[3], b[3];
  if (!HasModel() || !FaceSides(label, axis, z, y, x, a, b)) return 0.0;
  const int labelB = (*labelVolume)(b[0], b[1], b[2]);
  VectorQo<double> post;
  Posterior(post, a[0], a[1], a[2]);
  const float pa = label >= 0 && label < ElementCount(post) ? static_cast<float>(post[label]) : 0.0f;
  Posterior(post, b[0], b[1], b[2]);
  const float pb = labelB < ElementCount(post) ? static_cast<float>(post[labelB]) : 0.0f;
  if (pa < 0.05f && pb < 0.05f) return 0.0;
  if (pa < 0.05f) return -10.0;
  if (pb < 0.05f) return 10.0;
  return 4.0 * (std::log(pa) - std::log(pb));
}

double Kro_AppearanceAll::VoxelLikelihood(int16_t label, uint8_t axis, int z, int y, int x) {
  if (modelType == 0) return RegionLikelihood(label, axis, z, y, x);
  if (modelType >= 1 && modelType <= 3) return PosteriorLikelihood(label, axis, z, y, x);
  return 0.0;
}

double Kro_AppearanceAll::ComputeEdgeTerms(int16_t label, uint8_t axis, int z, int y, int x) {
  int a[3], b[3];
  if (!HasModel() || !FaceSides(label, axis, z, y, x, a, b)) return 0.0;
  auto e = [this](const int v[3]) {
    return std::log(static_cast<double>(model->EdgeProbability(v[0], v[1], v[2])) + 1.0 / 255.0);
  };
  int u[3], w[3];
  for (int i = 0; i < 3; ++i) {
    u[i] = 2 * b[i] - a[i];
    w[i] = 3 * a[i] - 2 * b[i];
  }
  const double eA = e(a);
  const double d1 = std::max(e(u) - eA, 0.0);
  const double d2 = std::min(eA - e(w), 0.0);
  return std::fabs(d2) > std::fabs(d1) ? 4.0 * d2 : 4.0 * d1;
}
