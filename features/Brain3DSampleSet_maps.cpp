// Brain3DSampleSet::applyClassifier in map mode: the class-probability maps of every
// case, the context of the next auto-context iteration.
#include <cstdio>
#include <string>
#include <vector>

#include "features/Brain3DSampleSet.h"
#include "features/CaseVolumeChecks.h"
#include "features/CaseVoxelWalk.h"
#include "features/SampleSetNames.h"
#include "pbt/PbtMClassTree.h"
#include "platform/Conversions.h"
#include "volume/FolderLayout.h"

using namespace case_volume_checks;
using namespace sample_set_names;

namespace {

using Voxel = CaseVoxelWalk::Voxel;

// The K class-probability maps of a case, as bytes 0 .. 255. A voxel whose class
// "known.3dm" fixes (a value below K) has that class's probability 1; elsewhere the
// classifier's posterior, normalised to sum 1. Voxels off the walk's grid keep class 0
// at 255 and the other classes at 0.
class ProbabilityMaps final : public CaseVoxelWalk::Visitor {
 public:
  ProbabilityMaps(PbtClassifier& classifier, int K, const std::string& knownName)
      : classifier_(classifier),
        tree_(dynamic_cast<PbtMClassTree*>(&classifier)),
        K_(K),
        knownName_(knownName),
        maps_(static_cast<size_t>(K)) {
    known_.Load(knownName_);
    useKnown_ = known_.NumElements() > 0;
  }

  // Sizes and fills the maps for case i; false after reporting a known volume that
  // does not have the case volume's extents.
  bool startCase(int i, const HeapMatrix3D<unsigned char>& volume) {
    if (useKnown_ && !SameExtents(known_, volume)) {
      ReportSkippedCase(knownName_, i);
      return false;
    }
    const int d0 = volume.dim0(), d1 = volume.dim1(), d2 = volume.dim2();
    for (int k = 0; k < K_; ++k) {
      maps_[static_cast<size_t>(k)].SetSize(d0, d1, d2);
      maps_[static_cast<size_t>(k)].Fill(k == 0 ? 255 : 0);
    }
    // Emptied first: SetSize to the same extents would keep the last case's values.
    second_.Release();
    if (K_ == 2) second_.SetSize(d0, d1, d2);
    return true;
  }

  bool evaluated(const Voxel& v) const override { return !(useKnown_ && known_[v.z][v.y][v.x] < K_); }

  void write(PbtSample* sample, VectorQo<double>& post, const Voxel& v) override {
    if (sample == nullptr) {
      post = VectorQo<double>(K_, 0.0);
      post[known_[v.z][v.y][v.x]] = 1.0;
    } else if (tree_ != nullptr) {
      tree_->treePosterior(post, sample);
    } else {
      classifier_.posterior(sample, post);
    }
    store(post, v);
  }

  // The maps of case i into the out folder and the data folder; for K = 2 the map of
  // class 1 also as "I%05i_prob.3dm" in the out folder.
  void save(const std::string& out, const std::string& data, int i) const {
    if (K_ == 2) SaveOrDie(second_, layout::CaseFile(out, i, layout::kCaseTwoClassMapEnding));
    for (int k = 0; k < K_; ++k) {
      SaveOrDie(maps_[static_cast<size_t>(k)], layout::CaseMapFile(out, i, k));
      SaveOrDie(maps_[static_cast<size_t>(k)], layout::CaseMapFile(data, i, k));
    }
  }

 private:
  // The posterior, normalised by its sum (when not 0), as bytes into the K maps; a
  // class beyond the posterior gets 0.
  void store(const VectorQo<double>& post, const Voxel& v) {
    const int n = post.rows * post.cols;
    double sum = 0.0;
    for (int k = 0; k < n; ++k) sum += post[k];
    for (int k = 0; k < K_; ++k) {
      double p = k < n ? post[k] : 0.0;
      if (sum != 0.0) p /= sum;
      maps_[static_cast<size_t>(k)][v.z][v.y][v.x] = DoubleToLowByte(p * 255.0);
    }
    if (K_ == 2) second_[v.z][v.y][v.x] = maps_[1][v.z][v.y][v.x];
  }

  PbtClassifier& classifier_;
  PbtMClassTree* const tree_;  // the classifier when it is a tree
  const int K_;
  const std::string knownName_;
  HeapMatrix3D<unsigned char> known_;
  bool useKnown_ = false;
  std::vector<HeapMatrix3D<unsigned char>> maps_;
  HeapMatrix3D<unsigned char> second_;  // for K = 2, the map of class 1 once more
};

}  // namespace

void Brain3DSampleSet::writeProbabilityMaps(EdgSampleSetParams& p, int count, int step) {
  const int K = p.numClasses > 0 ? p.numClasses : 0;
  const std::string data = NameText(p.dataFolder);
  const std::string out = NameText(p.outFolder);
  ProbabilityMaps maps(*p.classifier, K, layout::InFolder(data, layout::kKnown));
  CaseVoxelWalk walk(*this);
  for (int i = 0; i < count; ++i) {
    std::printf("%d", i);
    std::fflush(stdout);
    HeapMatrix3D<unsigned char> volume;
    if (!volume.Load(layout::CaseFile(data, i, layout::kCaseVolumeEnding)) || volume.NumElements() == 0) continue;
    if (!maps.startCase(i, volume)) continue;
    walk.run(i, CaseVoxelWalk::Grid(volume.dim0(), volume.dim1(), volume.dim2(), p.radius, step), maps);
    maps.save(out, data, i);
  }
}
