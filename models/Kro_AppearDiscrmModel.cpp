#include "models/Kro_AppearDiscrmModel.h"

#include <algorithm>
#include <cstdio>

#include "features/Object3DSample.h"
#include "features/VoxelSampleRecord.h"
#include "models/FirstFeatureOutsidePool.h"
#include "models/LabelsFromProbabilities.h"
#include "models/LiftFactors.h"
#include "models/ProbabilityByte.h"
#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"
#include "platform/ParallelFor.h"
#include "volume/FolderLayout.h"

namespace {

int BoxDim0(const SubVolume& b) { return b.z1 - b.z0 + 1; }
int BoxDim1(const SubVolume& b) { return b.y1 - b.y0 + 1; }
int BoxDim2(const SubVolume& b) { return b.x1 - b.x0 + 1; }

}  // namespace

Kro_AppearDiscrmModel::Kro_AppearDiscrmModel() = default;

Kro_AppearDiscrmModel::~Kro_AppearDiscrmModel() {
  sourceVolume = nullptr;
  provider.reset();
  classifiers.clear();
  extraTrees.clear();
}

bool Kro_AppearDiscrmModel::LoadTree(PbtMClassTree& tree, const std::string& path) {
  std::string error;
  if (tree.load(path.c_str(), &error)) return true;
  std::printf("%s\n", error.empty() ? ("cannot load classifier " + path).c_str() : error.c_str());
  return false;
}

bool Kro_AppearDiscrmModel::CheckClassCount(const PbtMClassTree& tree, const std::string& path) const {
  const int k = ElementCount(tree.classPosterior);
  if (k == numClasses) return true;
  std::printf("classifier %s gives %d class posteriors, but NumberofClasses is %d\n", path.c_str(), k,
              static_cast<int>(numClasses));
  std::fflush(stdout);
  return false;
}

bool Kro_AppearDiscrmModel::CheckTreeFeatures(const PbtMClassTree& tree, const std::string& path) const {
  std::vector<PbtFid> fids;
  tree.collectFeatures(fids);
  const int outside = provider ? FirstFeatureOutsidePool(fids, provider->featurePool) : (fids.empty() ? -1 : 0);
  if (outside < 0) return true;
  std::printf("classifier %s names a feature outside the model's feature pool: %s\n", path.c_str(),
              DescribeFeatureFields(fids[static_cast<size_t>(outside)]).c_str());
  std::fflush(stdout);
  return false;
}

void Kro_AppearDiscrmModel::BuildProvider(int n, int r) {
  provider.reset();
  provider = std::make_unique<Object3DSample>(n, r);
  radius = static_cast<int16_t>(r);
  numClasses = static_cast<int16_t>(n);
}

void Kro_AppearDiscrmModel::NoteFeatures() {
  std::vector<PbtFid> fids;
  for (const PbtMClassTree* tree : classifiers) tree->collectFeatures(fids);
  usesAtlas = false;
  for (const PbtFid& f : fids)
    if (f.kind == 't') usesAtlas = true;
}

bool Kro_AppearDiscrmModel::SetVolume(const HeapMatrix3D<unsigned char>& volume, const char* folder,
                                      const char* name, const SubVolume* givenBox) {
  sourceVolume = nullptr;
  if (volume.NumElements() == 0) {
    std::printf("the volume to segment is empty\n");
    return false;
  }
  const SubVolume whole(0, 0, 0, volume.dim2() - 1, volume.dim1() - 1, volume.dim0() - 1);
  SubVolume b = givenBox ? *givenBox : whole;
  b.Intersect(whole);
  if (b.x1 < b.x0 || b.y1 < b.y0 || b.z1 < b.z0) {
    std::printf("the box %d %d %d %d %d %d does not overlap the volume of %d x %d x %d voxels\n",
                givenBox->x0, givenBox->y0, givenBox->z0, givenBox->x1, givenBox->y1, givenBox->z1, volume.dim2(),
                volume.dim1(), volume.dim0());
    return false;
  }
  sourceVolume = &volume;
  box = b;
  const int r = radius;
  innerBox = SubVolume(b.x0 + r, b.y0 + r, b.z0 + r, b.x1 - r, b.y1 - r, b.z1 - r);
  const int64_t boxCount = int64_t{BoxDim0(b)} * BoxDim1(b) * BoxDim2(b);
  if (provider) {
    if (boxCount != volume.NumElements()) {
      HeapMatrix3D<unsigned char> crop;
      CropVolume(crop, volume, b);
      provider->setVolume(crop);
    } else {
      provider->setVolume(volume);
    }
  }
  if (name != nullptr && std::string(name).size() > 1) LoadEdgeVolume(folder ? folder : "", name);
  return true;
}

bool Kro_AppearDiscrmModel::InsideInner(int z, int y, int x) const {
  return z >= innerBox.z0 && z <= innerBox.z1 && y >= innerBox.y0 && y <= innerBox.y1 && x >= innerBox.x0 &&
         x <= innerBox.x1;
}

void Kro_AppearDiscrmModel::OneHot(VectorQo<double>& out, int c) const {
  out.SetSize(numClasses);
  out.Fill(0.0);
  if (c >= 0 && c < numClasses) out[c] = 1.0;
}

bool Kro_AppearDiscrmModel::InnerTreePosterior(const PbtMClassTree& tree, Object3DSample& sample,
                                               VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                                               int x) const {
  if (!InsideInner(z, y, x)) {
    OneHot(out, 0);
    return false;
  }
  Position(sample, z, y, x);
  TreePosterior(tree, sample, scratch, out);
  return true;
}

void Kro_AppearDiscrmModel::Position(Object3DSample& sample, int z, int y, int x) const {
  VoxelSampleRecord record;
  record.caseNumber = -1;  // keep the volumes the sample holds
  record.z = LowShort(z - box.z0);
  record.y = LowShort(y - box.y0);
  record.x = LowShort(x - box.x0);
  sample.setPosition(record);
}

void Kro_AppearDiscrmModel::TreePosterior(const PbtMClassTree& tree, Object3DSample& sample,
                                          VectorQo<double>& scratch, VectorQo<double>& out) const {
  tree.treePosterior(scratch, &sample);
  out.SetSize(numClasses);
  const int have = ElementCount(scratch);
  for (int i = 0; i < numClasses; ++i) out[i] = i < have ? scratch[i] : 0.0;
}

void Kro_AppearDiscrmModel::ApplyLift(VectorQo<double>& out) const {
  const int n = ElementCount(out) < ElementCount(lift) ? ElementCount(out) : ElementCount(lift);
  for (int i = 0; i < n; ++i) out[i] *= lift[i];
  out.NormalizeSum();
}

void Kro_AppearDiscrmModel::Posterior(VectorQo<double>& out, int z, int y, int x, int k) {
  if (!provider) {
    OneHot(out, 0);
    return;
  }
  VectorQo<double> scratch;
  EvaluatePosterior(*provider, scratch, out, z, y, x, k);
}

void Kro_AppearDiscrmModel::PrepareEvaluation() {
  if (!provider || !usesAtlas || provider->getAtlasVolume().NumElements() > 0) return;
  // The atlas feature loads gAtlasPath on first use; do that use here, once.
  PbtFid atlasFeature;
  atlasFeature.kind = 't';
  provider->computeFeature(atlasFeature);
}

std::vector<std::unique_ptr<Object3DSample>> Kro_AppearDiscrmModel::WorkerSamples(int items) const {
  std::vector<std::unique_ptr<Object3DSample>> copies;
  const int workers = std::min(WorkerCount(), std::max(items, 1));
  for (int w = 1; w < workers; ++w) {
    copies.emplace_back(provider->workerCopy());
    if (!copies.back()) return {};  // a provider that cannot be copied works alone
  }
  return copies;
}

void Kro_AppearDiscrmModel::ForEachRow(int rows, size_t copies, const std::function<void(int, int)>& body) {
  if (copies + 1 < static_cast<size_t>(std::min(WorkerCount(), std::max(rows, 1)))) {
    for (int row = 0; row < rows; ++row) body(row, 0);
  } else {
    ParallelFor(0, rows, body);
  }
}

void Kro_AppearDiscrmModel::RunPasses(HeapMatrix3D<unsigned char>* probs, int passes, bool withContext) {
  const int d0 = BoxDim0(box), d1 = BoxDim1(box), d2 = BoxDim2(box);
  for (int c = 0; c < numClasses; ++c) {
    probs[c].SetSize(d0, d1, d2);
    probs[c].Fill(0);
  }
  PrepareEvaluation();
  // One item per row of the box; worker 0 evaluates with the provider, the others
  // with copies of it taken after the atlas is loaded, so no worker opens a file.
  const int rows = d0 * d1;
  std::vector<std::unique_ptr<Object3DSample>> copies = WorkerSamples(rows);
  for (int k = 0; k < passes; ++k) {
    ForEachRow(rows, copies.size(), [&](int row, int w) {
      Object3DSample& sample = w == 0 ? *provider : *copies[w - 1];
      // Vectors of the row's own: workers never share a cache line of them.
      VectorQo<double> scratch, out(numClasses);
      const int dz = row / d1, dy = row % d1;
      for (int dx = 0; dx < d2; ++dx) {
        EvaluatePosterior(sample, scratch, out, box.z0 + dz, box.y0 + dy, box.x0 + dx, k);
        for (int c = 0; c < numClasses; ++c) probs[c](dz, dy, dx) = ProbabilityByte(out[c]);
      }
    });
    if (!withContext) continue;
    // The copies read the provider's maps.
    provider->setContextVolumes(probs);
    std::printf("context iteration %d\n", k + 1);
    std::fflush(stdout);
  }
}

bool Kro_AppearDiscrmModel::Segment(const HeapMatrix3D<unsigned char>*, HeapMatrix3D<unsigned char>& labels,
                                    float weight, HeapMatrix3D<unsigned char>* probs) {
  if (!sourceVolume || !provider || numClasses < 1) return false;
  std::vector<HeapMatrix3D<unsigned char>> own;
  if (probs == nullptr) {
    own.resize(numClasses);
    probs = own.data();
  }
  RunPasses(probs, NumPasses(), true);
  provider->clearContextVolumes();
  LabelsFromProbabilities(probs, labels, weight);
  return true;
}

void Kro_AppearDiscrmModel::ProbabilityMaps(HeapMatrix3D<unsigned char>* probs) {
  if (!sourceVolume || !provider || probs == nullptr || numClasses < 1) return;
  RunPasses(probs, 1, false);
}

void Kro_AppearDiscrmModel::FastLabelMap(HeapMatrix3D<unsigned char>& labels, bool secondComponent) {
  if (!sourceVolume || !provider) return;
  HeapMatrix3D<unsigned char> work;
  work.SetSize(BoxDim0(box) / 2, BoxDim1(box) / 2, BoxDim2(box) / 2);
  work.Fill(0);
  PrepareEvaluation();
  const int rows = work.dim0() * work.dim1();
  std::vector<std::unique_ptr<Object3DSample>> copies = WorkerSamples(rows);
  ForEachRow(rows, copies.size(), [&](int row, int w) {
    Object3DSample& sample = w == 0 ? *provider : *copies[w - 1];
    VectorQo<double> scratch, out(numClasses);
    const int i = row / work.dim1(), j = row % work.dim1();
    for (int l = 0; l < work.dim2(); ++l) {
      EvaluatePosterior(sample, scratch, out, box.z0 + 2 * i, box.y0 + 2 * j, box.x0 + 2 * l, 0);
      work(i, j, l) = LowByte(MaxIndex(out));
    }
  });
  work.KeepLargestComponents(secondComponent);
  const HeapMatrix3D<unsigned char>& src = *sourceVolume;
  labels.SetSize(src.dim0(), src.dim1(), src.dim2());
  labels.Fill(0);
  for (int z = 0; z < src.dim0(); ++z)
    for (int y = 0; y < src.dim1(); ++y)
      for (int x = 0; x < src.dim2(); ++x) {
        const int wz = (z - box.z0) / 2, wy = (y - box.y0) / 2, wx = (x - box.x0) / 2;
        if (work.IsInside(wz, wy, wx)) labels(z, y, x) = work(wz, wy, wx);
      }
}

float Kro_AppearDiscrmModel::EdgeProbability(int z, int y, int x) {
  return provider ? EdgeProbabilityWith(*provider, z, y, x) : 0.0f;
}

float Kro_AppearDiscrmModel::EdgeProbabilityWith(Object3DSample&, int, int, int) const { return 0.0f; }

void Kro_AppearDiscrmModel::ComputeEdgeVolume() {
  if (!sourceVolume) return;
  const int d0 = BoxDim0(box), d1 = BoxDim1(box), d2 = BoxDim2(box);
  edgeVolume.SetSize(d0, d1, d2);
  if (!provider) {
    for (int dz = 0; dz < d0; ++dz)
      for (int dy = 0; dy < d1; ++dy)
        for (int dx = 0; dx < d2; ++dx)
          edgeVolume(dz, dy, dx) = ProbabilityByte(EdgeProbability(box.z0 + dz, box.y0 + dy, box.x0 + dx));
    return;
  }
  PrepareEvaluation();
  const int rows = d0 * d1;
  std::vector<std::unique_ptr<Object3DSample>> copies = WorkerSamples(rows);
  ForEachRow(rows, copies.size(), [&](int row, int w) {
    Object3DSample& sample = w == 0 ? *provider : *copies[w - 1];
    const int dz = row / d1, dy = row % d1;
    for (int dx = 0; dx < d2; ++dx)
      edgeVolume(dz, dy, dx) =
          ProbabilityByte(EdgeProbabilityWith(sample, box.z0 + dz, box.y0 + dy, box.x0 + dx));
  });
}

bool Kro_AppearDiscrmModel::LoadEdgeVolume(const std::string& folder, const std::string& name) {
  return edgeVolume.Load(folder + "/" + BaseName(name) + "_edge.3dm");
}

bool Kro_AppearDiscrmModel::LoadProbLift(const std::string& folder) {
  std::string error;
  if (ReadLiftFactors(folder + "\\" + layout::kProbLift, numClasses, lift, &error)) return true;
  std::printf("%s\n", error.c_str());
  std::fflush(stdout);
  return false;
}

void Kro_AppearDiscrmModel::LabelsFromProbabilities(const HeapMatrix3D<unsigned char>* probs,
                                                    HeapMatrix3D<unsigned char>& labels, float weight) {
  ::LabelsFromProbabilities(probs, numClasses, labels, weight);
}
