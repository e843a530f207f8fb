#include "models/Kro_ShapeGlobaAll.h"

#include <cstdio>

#include "models/Kro_3DTopology.h"
#include "platform/NativePath.h"

Kro_ShapeGlobaAll::Kro_ShapeGlobaAll() : models(256, Kro_ShapeGlobalPCA()), loaded(256, false), fitted(256, false) {}

bool Kro_ShapeGlobaAll::LoadAll(const std::string& folder) {
  bool any = false;
  for (int L = 0; L < 256; ++L) {
    const std::string path = folder + "/" + std::to_string(L) + ".pca";
    std::FILE* f = OpenFile(path, "r");
    if (!f) continue;
    std::fclose(f);
    if (!models[L].Read(path)) {
      std::fprintf(stderr, "Cannot read shape model %s\n", path.c_str());
      continue;
    }
    loaded[L] = true;
    fitted[L] = false;
    std::printf("shape %i loaded\n", L);
    any = true;
  }
  std::fflush(stdout);
  return any;
}

void Kro_ShapeGlobaAll::FitAll() {
  if (!topology) return;
  topology->CountLabelVoxels();
  for (int L = 0; L < 256; ++L) FitLabel(L);
}

void Kro_ShapeGlobaAll::FitLabel(int label) {
  if (!topology || label < 0 || label > 255 || !loaded[label]) return;
  fitted[label] = models[label].FitToRegion(*topology, topology->Region(label));
}

double Kro_ShapeGlobaAll::Energy(int label, int axis, int i, int j, int k) {
  if (label < 0 || label > 255 || !loaded[label] || !fitted[label]) return 0.0;
  return models[label].Energy(axis, i, j, k);
}

double Kro_ShapeGlobaAll::VolumeEnergy(int label, int axis, int i, int j, int k) {
  if (!topology) return 0.0;
  int bi, bj, bk, ai, aj, ak;
  if (!topology->FaceVoxels(bi, bj, bk, ai, aj, ak, axis, i, j, k)) return 0.0;
  const int before = topology->labels(bi, bj, bk), after = topology->labels(ai, aj, ak);
  const int other = before == label ? after : before;
  double e = 0.0;
  if (label > 0 && label < 256) e += models[label].VolumeTerm(*topology, label);
  if (other >= 1) e -= models[other].VolumeTerm(*topology, other);
  return e;
}
