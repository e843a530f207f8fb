// Global shape model: building training grids from label volumes, training, statistics
// and the mean, mode and random shape volumes.
#include <cstdio>

#include "models/Kro_3DTopology.h"
#include "models/Kro_Region.h"
#include "models/Kro_ShapeGlobalPCA.h"
#include "numerics/ListDirectory.h"
#include "numerics/MaxHeap.h"
#include "numerics/TextFunctions.h"
#include "platform/FolderCommands.h"

namespace {

std::string Sub(const std::string& folder, int label) { return folder + "\\" + std::to_string(label); }

std::vector<std::string> VolumeFiles(const std::string& folder) {
  std::vector<McString> list;
  ListDirectory(folder, ".3dm", list);
  std::vector<std::string> out;
  for (const McString& m : list) out.push_back(m.str());
  return out;
}

}  // namespace

bool Kro_ShapeGlobalPCA::TrainFromFolder(const std::string& folder, int label, bool build,
                                         const std::string& source, bool isolate) {
  ClearSamples();
  pca.ClearSamples();  // a second training does not mix in the vectors of the first
  if (build && !BuildModel(source, label, folder, isolate)) return false;
  std::vector<HeapMatrix3D<short>> grids;
  for (const std::string& path : VolumeFiles(Sub(folder, label))) {
    HeapMatrix3D<short> g;
    if (g.Load(path) && g.NumElements() > 0) grids.push_back(std::move(g));
  }
  if (grids.empty()) return false;
  SetGrid(grids[0].dim0(), grids[0].dim1(), grids[0].dim2());
  for (const HeapMatrix3D<short>& g : grids) AddGridSample(g);  // other extents are skipped
  Fit(6);
  return true;
}

void Kro_ShapeGlobalPCA::LoadTrainingShapes(const std::string& folder, int label) {
  std::vector<double> counts;
  for (const std::string& path : VolumeFiles(folder)) {
    HeapMatrix3D<unsigned char> v;
    if (!v.Load(path)) continue;
    double n = 0;
    for (int i = 0; i < v.dim0(); ++i)
      for (int j = 0; j < v.dim1(); ++j)
        for (int k = 0; k < v.dim2(); ++k) n += v(i, j, k) == label;
    counts.push_back(n);
  }
  if (counts.empty()) return;
  const double n = static_cast<double>(counts.size());
  double sum = 0.0;
  for (double c : counts) sum += c;
  meanVolume = (meanVolume + sum) / n;
  double spread = 0.0;
  for (double c : counts) spread += (c - meanVolume) * (c - meanVolume);
  volumeSpread = spread / n;
}

bool Kro_ShapeGlobalPCA::WriteMeanAndModes(const std::string& folder, int randomCount) {
  bool ok = true;
  auto save = [&](const std::string& name, int kind, int t) {
    HeapMatrix3D<short> g;
    SampleGrid(g, kind, t);
    g.ClampBelow(-1);
    g.ClampAbove(0);
    std::string path = folder + "/" + name;
    ok = g.Save(ToBackslashes(path)) && ok;
  };
  save("mean.3dm", 0, 0);
  for (int t = 0; t < pca.NumModes(); ++t) {
    save("mode_" + std::to_string(t + 1) + "+.3dm", 1, t);
    save("mode_" + std::to_string(t + 1) + "-.3dm", 2, t);
  }
  for (int i = 0; i < randomCount; ++i) save("rand_" + std::to_string(i) + ".3dm", -1, 0);
  return ok;
}

bool Kro_ShapeGlobalPCA::IsolateLabel(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& labels,
                                      int label) {
  out.SetSize(labels.dim0(), labels.dim1(), labels.dim2());
  const int64_t n = out.NumElements();
  if (n == 0) return false;
  unsigned char* o = &out(0, 0, 0);
  const unsigned char* l = &labels(0, 0, 0);
  for (int64_t v = 0; v < n; ++v) o[v] = l[v] == label ? 1 : 0;
  out.MakeLabelsConnected(true, nullptr);
  int64_t counts[256] = {};
  for (int64_t v = 0; v < n; ++v) ++counts[o[v]];
  MaxHeap heap(256);
  for (int value = 1; value < 256; ++value)
    if (counts[value] > 0) heap.Push({static_cast<double>(counts[value]), value});
  HeapEntry largest;
  const int keep = heap.Pop(&largest) ? largest.value : -1;
  bool any = false;
  for (int64_t v = 0; v < n; ++v) {
    o[v] = o[v] == keep ? static_cast<unsigned char>(label) : 0;
    any = any || o[v] != 0;
  }
  return any;
}

bool Kro_ShapeGlobalPCA::BuildModel(const std::string& folder, int label, const std::string& target, bool isolate) {
  const std::string sourceSub = Sub(folder, label);
  if (!MakeFolder(sourceSub)) {
    std::fprintf(stderr, "Cannot create folder %s\n", sourceSub.c_str());
    return false;
  }
  for (const std::string& path : VolumeFiles(folder)) {
    HeapMatrix3D<unsigned char> v;
    if (!v.Load(path)) continue;
    if (isolate) {
      HeapMatrix3D<unsigned char> part;
      IsolateLabel(part, v, label);
      v = part;
    }
    Kro_3DTopology topology;
    if (!topology.Build(v)) continue;
    Kro_Region& region = topology.Region(label);
    region.BoundingBox();
    std::string out = folder + "/" + std::to_string(label) + "/" + BaseName(path) + "_" + std::to_string(label) + ".3dm";
    v.Save(out);
    char line[256];
    std::snprintf(line, sizeof line, "\nCenter: %.2f %.2f %.2f \n", region.centroid[0], region.centroid[1],
                  region.centroid[2]);
    std::string log = path + line;
    std::snprintf(line, sizeof line, "Number of faces: %d \n", region.faceCount);
    log += line;
    std::snprintf(line, sizeof line, "Depth= %d  Height=%d Width=%d\n", region.box.z1 - region.box.z0,
                  region.box.y1 - region.box.y0, region.box.x1 - region.box.x0);
    log += line;
    LogToFile(log);
  }

  const std::string targetSub = Sub(target, label);
  if (!MakeFolder(targetSub)) {
    std::fprintf(stderr, "Cannot create folder %s\n", targetSub.c_str());
    return false;
  }
  trainingGrids.clear();
  for (const std::string& path : VolumeFiles(sourceSub)) {
    HeapMatrix3D<unsigned char> v;
    if (!v.Load(path)) continue;
    Kro_3DTopology topology;
    if (!topology.Build(v)) continue;
    Kro_Region& region = topology.Region(label);
    if (!region.BoundingBox()) continue;  // no voxel of the label: no shape
    std::vector<Kro_FaceAddress> faces;
    region.ListFaces(faces);
    HeapMatrix3D<short> g;
    ShapeToGrid(g, topology.labels, faces, region, label, false);  // the label's scale
    std::string out = targetSub + "\\" + BaseName(path) + ".3dm";
    g.Save(out);
    trainingGrids.push_back(std::move(g));
  }
  return !trainingGrids.empty();
}
