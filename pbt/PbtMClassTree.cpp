#include "pbt/PbtMClassTree.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMEcoc.h"

namespace {

// The child in slot `b`, or null for a null slot and for a branch without a slot.
PbtMClassTree* ChildAt(const std::vector<PbtMClassTree*>& children, int b) {
  if (b < 0 || b >= static_cast<int>(children.size())) return nullptr;
  return children[static_cast<size_t>(b)];
}

// An output code maps every class position to one of its numClasses code rows; a
// stored class index outside them is a damaged record.
bool ClassIndexInRange(const PbtClassifier* classifier) {
  const PbtMEcoc* ecoc = dynamic_cast<const PbtMEcoc*>(classifier);
  if (ecoc == nullptr) return true;
  const int m = ecoc->numClasses;
  const VectorQo<int>& index = ecoc->classIndex;
  for (int i = 0; index.data != nullptr && i < index.rows * index.cols; ++i) {
    if (index[i] < 0 || index[i] >= m) return false;
  }
  return true;
}

}  // namespace

PbtMClassTree::~PbtMClassTree() {
  deleteChildren();
  delete nodeClassifier;
}

PbtClassifier* PbtMClassTree::createNodeClassifier(int code) const {
  return PbtClassifierFactory::createNodeClassifier(code);
}

void PbtMClassTree::deleteChildren() {
  for (PbtMClassTree* child : children) delete child;
  children.clear();
}

void PbtMClassTree::invalidate() {
  pathMark = 0;
  for (PbtMClassTree* child : children) {
    if (child != nullptr) child->invalidate();
  }
}

uint8_t PbtMClassTree::setSoftDescent(uint8_t flag) {
  const uint8_t previous = softDescent;
  softDescent = flag;
  if (nodeClassifier != nullptr) {
    for (PbtMClassTree* child : children) {
      if (child != nullptr) child->setSoftDescent(flag);
    }
  }
  return previous;
}

void PbtMClassTree::collectFeatures(std::vector<PbtFid>& out) const {
  if (nodeClassifier != nullptr) nodeClassifier->collectFeatures(out);
  for (const PbtMClassTree* child : children) {
    if (child != nullptr) child->collectFeatures(out);
  }
}

void PbtMClassTree::followPath(LinkedList<int>& path) {
  int branch = 0;
  if (!path.Last(&branch)) return;
  pathMark = 1;
  pathBranch = branch;
  path.RemoveLast();
  // A path through a missing child ends here instead of following a null pointer.
  PbtMClassTree* child = ChildAt(children, pathBranch);
  if (child != nullptr) child->followPath(path);
}

float PbtMClassTree::probability(PbtSample* sample) {
  if (pathMark == 0) return 0.0f;
  VectorQo<double> out;
  return posteriorByDescent(out, sample);
}

float PbtMClassTree::posteriorByDescent(VectorQo<double>& out, PbtSample* sample) const {
  if (pathMark == 0) return 1.0f;
  out = classPosterior;
  if (nodeClassifier == nullptr) return 1.0f;
  VectorQo<double> p;
  nodeClassifier->posterior(sample, p);
  const int m = p.ArgMax();
  if (m != pathBranch) return 0.0f;
  const PbtMClassTree* child = ChildAt(children, m);
  if (child != nullptr) return child->posteriorByDescent(out, sample);
  return 1.0f;
}

void PbtMClassTree::treePosterior(VectorQo<double>& out, PbtSample* sample) const {
  if (pathMark != 0) {
    posteriorByDescent(out, sample);
    return;
  }
  if (nodeClassifier == nullptr) {
    out = classPosterior;
    return;
  }
  VectorQo<double> p;
  nodeClassifier->posterior(sample, p);
  const int m = p.ArgMax();

  if (softDescent == 0) {
    const PbtMClassTree* child = ChildAt(children, m);
    if (child != nullptr) {
      child->treePosterior(out, sample);
    } else {
      out = classPosterior;
    }
    return;
  }

  out.SetSize(ElementCount(classPosterior));
  out.Fill(0.0);
  const int n = ElementCount(out);
  const int branches = ElementCount(p);
  const double best = m >= 0 ? p[m] : 0.0;
  VectorQo<double> q;
  for (int k = 0; k < branches; ++k) {
    if (!(p[k] > 0.0)) continue;  // zero and NaN branches contribute nothing
    const PbtMClassTree* child = ChildAt(children, k);
    if (k == m || p[k] >= best - 0.1) {
      if (child != nullptr) {
        child->treePosterior(q, sample);
      } else {
        q = classPosterior;
      }
    } else {
      // A branch well below the best costs one copy of its stored distribution.
      q = child != nullptr ? child->classPosterior : classPosterior;
    }
    const int common = std::min(n, ElementCount(q));
    for (int i = 0; i < common; ++i) out[i] = out[i] + q[i] * p[k];
  }
  out.NormalizeSum();
}

int PbtMClassTree::countLevel(int* levelCounts, int count, int* leaves) const {
  if (count > 0) levelCounts[0] = levelCounts[0] + 1;
  if (nodeClassifier == nullptr) {
    *leaves = *leaves + 1;
    return 1;
  }
  int best = -1;
  for (const PbtMClassTree* child : children) {
    if (child == nullptr) continue;
    const int d = count > 1 ? child->countLevel(levelCounts + 1, count - 1, leaves)
                            : child->countLevel(levelCounts, 0, leaves);
    if (d > best) best = d;
  }
  return best + 1;
}

std::vector<int> PbtMClassTree::levelStatistics(int* levels, int* nodes, int* leaves) const {
  std::vector<int> counts(kMaxLevels, 0);
  *nodes = 0;
  *leaves = 0;
  *levels = countLevel(counts.data(), kMaxLevels, leaves);
  const int counted = std::min(*levels, kMaxLevels);
  for (int i = 0; i < counted; ++i) *nodes += counts[static_cast<size_t>(i)];
  return counts;
}

// --- Node records ---------------------------------------------------------------

void PbtMClassTree::write(BinaryWriter& out) const {
  out.i32(nodeClassifierCode);
  out.u8(nodeClassifier != nullptr ? 1 : 0);
  if (nodeClassifier != nullptr) nodeClassifier->write(out);
  out.i32(classPosterior.rows);
  out.i32(classPosterior.cols);
  const int n = ElementCount(classPosterior);
  for (int i = 0; i < n; ++i) out.f32(static_cast<float>(classPosterior[i]));
  out.i32(static_cast<int32_t>(children.size()));
  for (const PbtMClassTree* child : children) {
    out.u8(child != nullptr ? 1 : 0);
    if (child != nullptr) child->write(out);
  }
}

bool PbtMClassTree::read(BinaryReader& in) {
  int classCount = -1;  // the posterior length of the first node read
  if (!readNode(in, gTreeLayoutFlag != 0, 0, &classCount)) {
    in.fail();
    return false;
  }
  return true;
}

bool PbtMClassTree::readPosterior(BinaryReader& in, VectorQo<double>& posterior, int* classCount,
                                  bool anyShape) const {
  int32_t rows = 0, cols = 0;
  if (!in.i32(rows) || !in.i32(cols)) return false;
  if (rows < 0 || cols < 0 || (!anyShape && rows > 1)) return false;
  const int64_t total = static_cast<int64_t>(rows) * cols;
  if (total > INT32_MAX) return false;
  const int n = static_cast<int>(total);
  if (*classCount >= 0 && n != *classCount) return false;
  if (!in.fits(n, 4)) return false;
  // The current layout keeps the shape as stored (1 x K, or an empty 0 x 0
  // posterior), so the node writes back the bytes it was read from. The older layout
  // may hold any rows x cols of K values: they become the 1 x K row that the current
  // layout writes and reads.
  if (anyShape) {
    posterior.SetSize(n > 0 ? 1 : 0, n);
  } else {
    posterior.SetSize(rows, cols);
  }
  for (int i = 0; i < n; ++i) {
    float v = 0.0f;
    if (!in.f32(v)) return false;
    posterior[i] = v;
  }
  *classCount = n;
  return true;
}

bool PbtMClassTree::readNode(BinaryReader& in, bool currentLayout, int level, int* classCount) {
  if (level >= kMaxLevels) return false;
  int32_t code = 0;
  if (!currentLayout) {
    int32_t ignored = 0;
    if (!in.i32(ignored) || !in.i32(ignored)) return false;
  }
  if (!in.i32(code)) return false;

  uint8_t hasClassifier = 0;
  if (!in.u8(hasClassifier)) return false;
  std::unique_ptr<PbtClassifier> classifier;
  if (hasClassifier != 0) {
    classifier.reset(createNodeClassifier(code));
    if (!classifier || !classifier->read(in)) return false;
    if (!ClassIndexInRange(classifier.get())) return false;
  }

  VectorQo<double> posterior;
  std::vector<std::unique_ptr<PbtMClassTree>> slots;
  auto readChild = [&](std::unique_ptr<PbtMClassTree>& slot) {
    std::unique_ptr<PbtClassifier> made(create());
    PbtMClassTree* child = dynamic_cast<PbtMClassTree*>(made.get());
    if (child == nullptr) return false;
    made.release();
    slot.reset(child);
    return child->readNode(in, currentLayout, level + 1, classCount);
  };

  if (currentLayout) {
    if (!readPosterior(in, posterior, classCount, false)) return false;
    int32_t n = 0;
    if (!in.i32(n)) return false;
    if (n < 0 || n > kMaxSlots || !in.fits(n, 1)) return false;
    slots.resize(static_cast<size_t>(n));
    for (auto& slot : slots) {
      uint8_t present = 0;
      if (!in.u8(present)) return false;
      if (present == 1 && !readChild(slot)) return false;
    }
  } else {
    slots.resize(2);
    for (auto& slot : slots) {
      uint8_t present = 0;
      if (!in.u8(present)) return false;
      if (present != 0 && !readChild(slot)) return false;
    }
    if (!readPosterior(in, posterior, classCount, true)) return false;
  }

  // Commit: the node takes what was read, releasing anything it held before.
  deleteChildren();
  delete nodeClassifier;
  nodeClassifierCode = code;
  nodeClassifier = classifier.release();
  classPosterior = std::move(posterior);
  children.reserve(slots.size());
  for (auto& slot : slots) children.push_back(slot.release());
  return true;
}
