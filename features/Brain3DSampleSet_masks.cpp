// Brain3DSampleSet::applyClassifier in bootstrap mode: one mask per training case of
// the voxels that reach the tree node being trained.
#include <string>

#include "features/Brain3DSampleSet.h"
#include "features/CaseVolumeChecks.h"
#include "features/CaseVoxelWalk.h"
#include "features/SampleSetNames.h"
#include "pbt/PbtClassifier.h"
#include "volume/FolderLayout.h"

using namespace case_volume_checks;
using namespace sample_set_names;

namespace {

using Voxel = CaseVoxelWalk::Voxel;

// The mask of one case: 1 at a voxel of a class label (below K), inside the parent
// node's mask when there is one, whose probability at the node is above 0; else 0.
class NodeMask final : public CaseVoxelWalk::Visitor {
 public:
  NodeMask(PbtClassifier& classifier, int K) : classifier_(classifier), K_(K) {}

  // Reads case i's label volume and the parent node's mask (when there is one) and
  // sizes the output as the case volume; false after reporting a volume that does not
  // have the case volume's extents.
  bool load(int i, const HeapMatrix3D<unsigned char>& volume, const std::string& labelName,
            const std::string& maskName) {
    labels_.Load(labelName);
    if (!SameExtents(labels_, volume)) {
      ReportSkippedCase(labelName, i);
      return false;
    }
    mask_.Load(maskName);
    useMask_ = mask_.NumElements() > 0;
    if (useMask_ && !SameExtents(mask_, volume)) {
      ReportSkippedCase(maskName, i);
      return false;
    }
    output.SetSize(volume.dim0(), volume.dim1(), volume.dim2());
    return true;
  }

  bool evaluated(const Voxel& v) const override {
    return labels_[v.z][v.y][v.x] < K_ && !(useMask_ && mask_[v.z][v.y][v.x] == 0);
  }

  void write(PbtSample* sample, VectorQo<double>&, const Voxel& v) override {
    if (sample != nullptr && classifier_.probability(sample) > 0.0f) output[v.z][v.y][v.x] = 1;
  }

  HeapMatrix3D<unsigned char> output;

 private:
  PbtClassifier& classifier_;
  const int K_;
  HeapMatrix3D<unsigned char> labels_, mask_;
  bool useMask_ = false;
};

}  // namespace

void Brain3DSampleSet::writeBootstrapMasks(EdgSampleSetParams& p, const char* suffix, int count, int step) {
  const int K = p.numClasses > 0 ? p.numClasses : 0;
  const std::string data = NameText(p.dataFolder);
  const std::string out = NameText(p.outFolder);
  const std::string parent = ParentNodeFolder(out);
  const std::string suffixText = NameText(suffix);
  CaseVoxelWalk walk(*this);
  for (int i = 0; i < count; ++i) {
    HeapMatrix3D<unsigned char> volume;
    if (!volume.Load(layout::CaseFile(data, i, layout::kCaseVolumeEnding)) || volume.NumElements() == 0) continue;
    NodeMask mask(*p.classifier, K);
    const std::string labelName = layout::CaseFile(data, i, layout::kCaseLabelsEnding);
    if (!mask.load(i, volume, labelName, layout::CaseFile(parent, i, suffixText.c_str()))) continue;
    walk.run(i, CaseVoxelWalk::Grid(volume.dim0(), volume.dim1(), volume.dim2(), p.radius, step), mask);
    SaveOrDie(mask.output, layout::CaseFile(out, i, suffixText.c_str()));
  }
}
