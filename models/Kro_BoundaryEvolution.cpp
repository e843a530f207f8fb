#include "models/Kro_BoundaryEvolution.h"

#include "numerics/HistogramFunctions.h"
#include "numerics/RF_uniform.h"
#include "platform/Conversions.h"

namespace {

// Sets the in-coordinate along plane axis p (i for 0, j for 1, k for 2).
void SetAlong(int p, int& i, int& j, int& k, int c) {
  if (p == 0) i = c;
  else if (p == 1) j = c;
  else k = c;
}

}  // namespace

Kro_BoundaryEvolution::Kro_BoundaryEvolution() = default;

bool Kro_BoundaryEvolution::LoadShapeModels(const std::string& folder) { return shapes.LoadAll(folder); }

bool Kro_BoundaryEvolution::LoadAppearanceModels(const char* folder, const HeapMatrix3D<unsigned char>* labels) {
  return appearance.Load(folder, labels);
}

bool Kro_BoundaryEvolution::Initialize(const HeapMatrix3D<unsigned char>& volume,
                                       const HeapMatrix3D<unsigned char>& labels) {
  initialized = false;
  if (!topology.Build(labels)) return false;
  appearance.SetVolume(volume, nullptr, nullptr);
  appearance.SetLabelVolume(&topology.labels);
  shapes.topology = &topology;
  shapes.FitAll();
  initialized = true;
  return true;
}

void Kro_BoundaryEvolution::EvolveLabel(int label, bool recount) {
  if (!initialized || label < 0 || label > 255) return;
  Kro_Region& region = topology.Region(label);
  if (!region.BoundingBox()) return;
  if (recount) topology.CountLabelVoxels();

  // A random order of the three plane axes: draw a bin, empty it, draw from the rest.
  RF_uniform pick;  // deliberate: its construction takes one draw
  pick.Init(0.0, 2.0, 1.0);
  int order[3];
  for (int n = 0; n < 3; ++n) {
    order[n] = TruncToInt32(pick.Draw());
    pick.Set(order[n], 0.0);
  }
  for (int p : order) {
    if (p < 0 || p > 2) continue;
    const int first = region.sliceMin[p];
    const int last = region.sliceMax[p];
    for (int c = first; c <= last; ++c) EvolveRegions(label, p, c);
  }
  shapes.FitLabel(label);
}

void Kro_BoundaryEvolution::Evolve(const double* weights) {
  if (!initialized) return;
  topology.CountLabelVoxels();
  if (weights != nullptr) {
    shapeWeight = weights[0];
    secondWeight = weights[1];
  }
  for (int label = 255; label >= 0; --label) EvolveLabel(label, false);
}

void Kro_BoundaryEvolution::EvolveRegions(int label, int p, int c) {
  if (!initialized || label < 0 || label > 255 || p < 0 || p > 2) return;
  if (c < 0 || c >= topology.Extent(p)) return;
  Kro_Region& region = topology.Region(label);
  const int n = region.CountSliceFaces(p, c);
  int i = 0, j = 0, k = 0;
  SetAlong(p, i, j, k, c);
  int a = region.SliceFirstFace(p, i, j, k);
  if (n == 0) return;
  for (int steps = 0; steps < n && a >= 0; ++steps) {
    MoveFace(label, p, a, i, j, k);
    a = region.FollowFaceLink(p, i, j, k);
    if (a < 0) {
      // The face moved away (or the list ended): start the slice's list again.
      SetAlong(p, i, j, k, c);
      a = region.SliceFirstFace(p, i, j, k);
    }
  }
}

void Kro_BoundaryEvolution::MoveFace(int label, int p, int a, int i, int j, int k) {
  if (!initialized || label < 0 || label > 255 || a < 0 || a > 2) return;
  Kro_FloatPoint direction{0.0f, 0.0f, 0.0f};
  topology.Region(label).ContourDirection(p, a, i, j, k, direction);
  const float n = a == 0 ? direction[2] : a == 1 ? direction[1] : direction[0];
  const double d = shapes.Energy(label, a, i, j, k);
  const double L = appearance.VoxelLikelihood(static_cast<int16_t>(label), static_cast<uint8_t>(a), i, j, k);

  // Each product and the sum are held in single precision.
  const float shapeTerm = static_cast<float>(static_cast<float>(2.5 * d) * shapeWeight);
  const float appearanceTerm = static_cast<float>(static_cast<float>(1.5 * L) * 0.9);
  const float energy = static_cast<float>(shapeTerm + appearanceTerm);

  const double signedEnergy = SignOfFloat(n) * static_cast<double>(energy);
  if (signedEnergy < -1.0) {
    topology.ChangeLabel(a, i, j, k, +1);
  } else if (signedEnergy > 1.0) {
    topology.ChangeLabel(a, i, j, k, -1);
  }
}
