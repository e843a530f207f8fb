#include "models/FirstFeatureOutsidePool.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

using Key = std::array<int32_t, 12>;

Key KeyOf(const PbtFid& f) {
  return {f.kind,      f.params[0], f.params[1], f.params[2], f.params[3], f.params[4], f.params[5],
          f.index,     f.subtype,   f.offset[0], f.offset[1], f.offset[2]};
}

}  // namespace

int FirstFeatureOutsidePool(const std::vector<PbtFid>& used, const std::vector<PbtFid>& pool) {
  // The few used features are sorted and looked up once per pool entry, so a large
  // pool (hundreds of thousands of Haar entries at radius 10) needs no copy.
  std::vector<Key> wanted;
  wanted.reserve(used.size());
  for (const PbtFid& f : used) wanted.push_back(KeyOf(f));
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  std::vector<bool> found(wanted.size(), false);
  size_t missing = wanted.size();
  for (size_t i = 0; i < pool.size() && missing > 0; ++i) {
    const Key k = KeyOf(pool[i]);
    const auto at = std::lower_bound(wanted.begin(), wanted.end(), k);
    if (at == wanted.end() || *at != k) continue;
    const size_t w = static_cast<size_t>(at - wanted.begin());
    if (!found[w]) {
      found[w] = true;
      --missing;
    }
  }
  if (missing == 0) return -1;
  for (size_t u = 0; u < used.size(); ++u) {
    const Key k = KeyOf(used[u]);
    const size_t w = static_cast<size_t>(std::lower_bound(wanted.begin(), wanted.end(), k) - wanted.begin());
    if (!found[w]) return static_cast<int>(u);
  }
  return -1;
}

std::string DescribeFeatureFields(const PbtFid& f) {
  std::string text = "kind ";
  if (std::isprint(f.kind)) text += std::string("'") + static_cast<char>(f.kind) + "' ";
  text += "(" + std::to_string(f.kind) + "), params";
  for (int32_t p : f.params) text += " " + std::to_string(p);
  text += ", index " + std::to_string(f.index) + ", subtype " + std::to_string(f.subtype) + ", offset";
  for (int16_t o : f.offset) text += " " + std::to_string(o);
  return text;
}
