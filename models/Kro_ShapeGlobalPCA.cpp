// Global shape model: grid geometry, the ".pca" file, grids and vectors, energies.
#include "models/Kro_ShapeGlobalPCA.h"

#include <cmath>
#include <fstream>

#include "models/Kro_3DTopology.h"
#include "models/Kro_Region.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"

Kro_ShapeGlobalPCA::Kro_ShapeGlobalPCA() {
  labelWeights.SetSize(256);
  for (int L = 0; L < 256; ++L) labelWeights[L] = 0.35f;
  labelWeights[3] = labelWeights[4] = 0.3f;
  labelWeights[7] = labelWeights[8] = 0.7f;
  SetGrid(19, 17, 15);
}

bool Kro_ShapeGlobalPCA::Write(const std::string& path) {
  std::ofstream out;
  if (!OpenOutputStream(out, path)) return false;
  BinaryWriter w(out);
  for (float s : scale) w.f32(s);
  for (int32_t e : gridExtents) w.i32(e);
  pca.Write(out);
  w.f64(meanVolume);
  w.f64(volumeSpread);
  out.close();
  return static_cast<bool>(out);
}

bool Kro_ShapeGlobalPCA::Read(const std::string& path) {
  std::ifstream in;
  if (!OpenInputStream(in, path)) return false;
  float s[3];
  int32_t e[3];
  {
    BinaryReader r(in);
    for (float& v : s)
      if (!r.f32(v) || !std::isfinite(v) || v <= 0.0f) return false;
    for (int32_t& v : e)
      if (!r.i32(v) || v < 1 || v > kMaxGridExtent || v % 2 == 0) return false;
  }
  Kro_ShapePCASvd model;
  if (!model.Read(in)) return false;
  double volumes[2];
  {
    BinaryReader r(in);
    if (!r.f64(volumes[0]) || !r.f64(volumes[1])) return false;
  }
  if (static_cast<int64_t>(e[0]) * e[1] * e[2] != model.Dimension()) return false;
  for (int a = 0; a < 3; ++a) scale[a] = s[a];
  baseScale = s[0];
  SetGrid(e[0], e[1], e[2]);
  model.samples = std::move(pca.samples);
  pca = std::move(model);
  meanVolume = volumes[0];
  volumeSpread = volumes[1];
  return true;
}

Kro_ShapeGlobalPCA& Kro_ShapeGlobalPCA::operator=(const Kro_ShapeGlobalPCA& other) {
  if (&other == this) return *this;
  grid = other.grid;
  for (int a = 0; a < 3; ++a) origin[a] = other.origin[a];
  trainingGrids = other.trainingGrids;
  for (int a = 0; a < 3; ++a) {
    halfExtents[a] = other.halfExtents[a];
    gridExtents[a] = other.gridExtents[a];
    scale[a] = other.scale[a];
  }
  meanVolume = other.meanVolume;
  volumeSpread = other.volumeSpread;
  // indexGrid is not copied but numbered afresh, so that it always matches the extents.
  SetGrid(gridExtents[0], gridExtents[1], gridExtents[2]);
  return *this;
}

void Kro_ShapeGlobalPCA::ClearSamples() { trainingGrids.clear(); }

bool Kro_ShapeGlobalPCA::LoadFromDir(const std::string& folder, int label) {
  return Read(folder + "/" + std::to_string(label) + ".pca");
}

void Kro_ShapeGlobalPCA::SetGrid(int a, int b, int c) {
  const int v[3] = {a, b, c};
  for (int n = 0; n < 3; ++n) {
    int h = (v[n] - 1) / 2;
    if (h < 0) h = 0;
    halfExtents[n] = h;
    gridExtents[n] = 2 * h + 1;
  }
  indexGrid.SetSize(gridExtents[0], gridExtents[1], gridExtents[2]);
  int index = 0;
  for (int g0 = 0; g0 < gridExtents[0]; ++g0)
    for (int g1 = 0; g1 < gridExtents[1]; ++g1)
      for (int g2 = 0; g2 < gridExtents[2]; ++g2) indexGrid(g0, g1, g2) = index++;
}

void Kro_ShapeGlobalPCA::SetGridForBox(int d0, int d1, int d2) {
  const int d[3] = {d0, d1, d2};
  float E[3];
  float s = 0.0f;
  bool any = false;
  for (int a = 0; a < 3; ++a) {
    E[a] = static_cast<float>(d[a]) * 1.3f;
    if (!(E[a] > 0.0f)) continue;
    float t = 0.8f * E[a];
    if (t < 18.0f) t = 18.0f;
    if (t >= 40.0f) t = 40.0f;
    const float r = t / E[a];
    if (!any || r < s) s = r;
    any = true;
  }
  if (!any) return;  // an empty box leaves the geometry as it was
  for (float& v : scale) v = s;
  SetGrid(TruncToInt32(E[0] * s), TruncToInt32(E[1] * s), TruncToInt32(E[2] * s));
}

void Kro_ShapeGlobalPCA::GridToVector(VectorQo<double>& out, const HeapMatrix3D<short>& g) {
  out.Release();
  if (g.dim0() != gridExtents[0] || g.dim1() != gridExtents[1] || g.dim2() != gridExtents[2] ||
      g.NumElements() == 0)
    return;
  out.Matrix<double>::SetSize(static_cast<int>(g.NumElements()), 1);
  for (int g0 = 0; g0 < gridExtents[0]; ++g0)
    for (int g1 = 0; g1 < gridExtents[1]; ++g1)
      for (int g2 = 0; g2 < gridExtents[2]; ++g2) out[indexGrid(g0, g1, g2)] = g(g0, g1, g2);
}

void Kro_ShapeGlobalPCA::VectorToGrid(HeapMatrix3D<short>& out, const VectorQo<double>& v) {
  out.SetSize(gridExtents[0], gridExtents[1], gridExtents[2]);
  out.SetZero();
  if (ElementCount(v) != static_cast<int>(out.NumElements())) return;
  for (int g0 = 0; g0 < gridExtents[0]; ++g0)
    for (int g1 = 0; g1 < gridExtents[1]; ++g1)
      for (int g2 = 0; g2 < gridExtents[2]; ++g2) out(g0, g1, g2) = DoubleToLowShort(v[indexGrid(g0, g1, g2)]);
}

void Kro_ShapeGlobalPCA::AddGridSample(const HeapMatrix3D<short>& g) {
  VectorQo<double> v;
  GridToVector(v, g);
  if (ElementCount(v) > 0) pca.AddSample(v);
}

double Kro_ShapeGlobalPCA::GridEnergy(const HeapMatrix3D<short>& g) {
  VectorQo<double> v;
  GridToVector(v, g);
  return pca.ShapeEnergy(v);
}

void Kro_ShapeGlobalPCA::SampleGrid(HeapMatrix3D<short>& out, int kind, int t) {
  VectorQo<double> v;
  pca.SampleShape(v, kind, t);
  VectorToGrid(out, v);
}

double Kro_ShapeGlobalPCA::EnergyDerivativeAt(int g0, int g1, int g2) {
  if (!InsideGrid(g0, g1, g2)) return 0.0;
  return pca.EnergyDerivative(indexGrid(g0, g1, g2));
}

void Kro_ShapeGlobalPCA::WorldToGrid(int& g0, int& g1, int& g2, double p0, double p1, double p2) const {
  g0 = TruncToInt32((p0 - gridCorner[2]) * scale[0]);
  g1 = TruncToInt32((p1 - gridCorner[1]) * scale[1]);
  g2 = TruncToInt32((p2 - gridCorner[0]) * scale[2]);
}

bool Kro_ShapeGlobalPCA::GridToWorld(int& p0, int& p1, int& p2, int g0, int g1, int g2) const {
  if (scale[0] == 0.0f || scale[1] == 0.0f || scale[2] == 0.0f) return false;
  p0 = TruncToInt32(g0 / static_cast<double>(scale[0]) + gridCorner[2]);
  p1 = TruncToInt32(g1 / static_cast<double>(scale[1]) + gridCorner[1]);
  p2 = TruncToInt32(g2 / static_cast<double>(scale[2]) + gridCorner[0]);
  return true;
}

void Kro_ShapeGlobalPCA::PlaceGrid(const Kro_Region& region, bool keepScale, int label) {
  if (!keepScale && label >= 0 && label < 256) {
    scale[0] = baseScale * labelWeights[label] * 4.0f;
    scale[1] = scale[2] = scale[0];
  }
  const float x = region.centroid[0], y = region.centroid[1], z = region.centroid[2];
  auto corner = [](float c, int h, float s) {
    return DoubleToLowShort(s != 0.0f ? c - h / s + 0.5f : c + 0.5f);
  };
  gridCorner[2] = corner(z, halfExtents[0], scale[0]);
  gridCorner[1] = corner(y, halfExtents[1], scale[1]);
  gridCorner[0] = corner(x, halfExtents[2], scale[2]);
}

void Kro_ShapeGlobalPCA::PaintLabel(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& labels,
                                    int label) {
  for (int g0 = 0; g0 < out.dim0(); ++g0)
    for (int g1 = 0; g1 < out.dim1(); ++g1)
      for (int g2 = 0; g2 < out.dim2(); ++g2) {
        int p0, p1, p2;
        if (GridToWorld(p0, p1, p2, g0, g1, g2) && labels.IsInside(p0, p1, p2))
          out(g0, g1, g2) = labels(p0, p1, p2) == label ? 10 : -10;
      }
}

void Kro_ShapeGlobalPCA::ShapeToGrid(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& labels,
                                     const std::vector<Kro_FaceAddress>& faces, const Kro_Region& region,
                                     int label, bool keepScale) {
  out.SetSize(gridExtents[0], gridExtents[1], gridExtents[2]);
  out.Fill(-10);
  PlaceGrid(region, keepScale, label);
  PaintLabel(out, labels, label);
  const float* c = region.centroid.data();
  auto cell = [](double offset, float s, int h, int extent) {
    int g = TruncToInt32(offset * s) + h;
    return g < 0 ? 0 : g > extent - 1 ? extent - 1 : g;
  };
  for (const Kro_FaceAddress& f : faces) {
    const Kro_FloatPoint p = Kro_Region::FaceCentre(f.axis, f.i, f.j, f.k);
    const int g0 = cell(p[2] - c[2], scale[0], halfExtents[0], gridExtents[0]);
    const int g1 = cell(p[1] - c[1], scale[1], halfExtents[1], gridExtents[1]);
    const int g2 = cell(p[0] - c[0], scale[2], halfExtents[2], gridExtents[2]);
    out(g0, g1, g2) = 0;
  }
  PropagateDistance(out, 6);
}

void Kro_ShapeGlobalPCA::PropagateDistance(HeapMatrix3D<short>& g, int passes) {
  static const int kNeighbours[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}};
  for (int pass = 0; pass < passes; ++pass)
    for (int g0 = 0; g0 < g.dim0(); ++g0)
      for (int g1 = 0; g1 < g.dim1(); ++g1)
        for (int g2 = 0; g2 < g.dim2(); ++g2) {
          int v = g(g0, g1, g2);
          for (const auto& n : kNeighbours) {
            const int a = g0 + n[0], b = g1 + n[1], c = g2 + n[2];
            if (!g.IsInside(a, b, c)) continue;
            const int m = std::abs(static_cast<int>(g(a, b, c))) + 1;
            if (m < std::abs(v)) v = v < 0 ? -m : m;
          }
          g(g0, g1, g2) = static_cast<short>(v);
        }
}

bool Kro_ShapeGlobalPCA::FitToRegion(Kro_3DTopology& topology, Kro_Region& region) {
  if (pca.NumModes() < 2 || !region.BoundingBox()) return false;
  std::vector<Kro_FaceAddress> faces;
  region.ListFaces(faces);
  ShapeToGrid(workGrid, topology.labels, faces, region, region.Label(), true);  // the model's own scale
  GridEnergy(workGrid);
  return true;
}

float Kro_ShapeGlobalPCA::Energy(int axis, int i, int j, int k) {
  if (pca.NumModes() < 2 || axis < 0 || axis > 2) return 0.0f;
  const Kro_FloatPoint p = Kro_Region::FaceCentre(axis, i, j, k);
  int g[3];
  WorldToGrid(g[0], g[1], g[2], p[2], p[1], p[0]);
  double sum = 0.0;
  int n = 0;
  for (int off = -2; off <= 2; ++off) {
    int c[3] = {g[0], g[1], g[2]};
    c[axis] += off;
    if (!InsideGrid(c[0], c[1], c[2])) continue;
    sum += EnergyDerivativeAt(c[0], c[1], c[2]);
    ++n;
  }
  return n > 0 ? static_cast<float>(sum / n) : 0.0f;
}

double Kro_ShapeGlobalPCA::VolumeTerm(Kro_3DTopology& topology, int label) {
  if (volumeSpread <= 0.0 || label < 0 || label > 255) return 0.0;
  return (meanVolume - topology.Region(label).voxelCount) * 450.0 / volumeSpread + 0.48;
}
