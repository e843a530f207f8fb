// Fuzz run of the label mapping reader "label_mapping.txt" on texts in memory (see
// TextMutator.h for the inputs and a longer run; ReadLabelMappingTest covers the
// file): on any text it must not crash, and it maps each class to the low 8 bits of
// a number written in the text or leaves it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../models/TextMutator.h"
#include "app/SegmentVolumes.h"
#include "volume/HeapMatrix3D.h"

namespace {

TEST(LabelMappingFuzz, AnyTextMapsClassesToWrittenValuesOrLeavesThem) {
  const std::vector<std::string> seeds = {"0  0\n1  1\n2  2\n", "7  0\n4  1\n9  2\n", "300 1\n-1 3\n5 500\n8 255\n"};
  TextMutator mutator(TextMutator::Seed(11));
  const int n = TextMutator::Iterations(2000);
  int changed = 0;
  for (int i = 0; i < n; ++i) {
    const std::string text = mutator.Mutate(seeds[static_cast<size_t>(i) % seeds.size()]);
    HeapMatrix3D<unsigned char> labels;
    labels.SetSize(1, 1, 256);
    for (int v = 0; v < 256; ++v) labels(0, 0, v) = static_cast<unsigned char>(v);
    ApplyLabelMapping(text, labels);
    // Every byte a whole number of the text can leave in the low 8 bits.
    std::vector<bool> written(256, false);
    for (size_t at = 0; at < text.size();) {
      char* end = nullptr;
      const long long v = std::strtoll(text.c_str() + at, &end, 10);
      if (end == text.c_str() + at) {
        ++at;
        continue;
      }
      written[static_cast<unsigned long long>(v) & 0xFFu] = true;
      at = static_cast<size_t>(end - text.c_str());
    }
    for (int v = 0; v < 256; ++v) {
      if (labels(0, 0, v) == v) continue;
      ++changed;
      ASSERT_TRUE(written[labels(0, 0, v)]) << i << " class " << v;
    }
  }
  EXPECT_GT(changed, 0);
}

}  // namespace
