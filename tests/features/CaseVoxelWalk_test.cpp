// The grid of the classifier walk: its numbering must visit exactly the voxels of the
// nested loops over slices, rows and columns, in their order.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "features/CaseVoxelWalk.h"

namespace {

using Grid = CaseVoxelWalk::Grid;

std::vector<std::tuple<int, int, int>> NestedLoops(int d0, int d1, int d2, int border, int step) {
  std::vector<std::tuple<int, int, int>> voxels;
  for (int z = border; z < d0 - border; z += step)
    for (int y = border; y < d1 - border; y += step)
      for (int x = border; x < d2 - border; x += step) voxels.emplace_back(z, y, x);
  return voxels;
}

TEST(CaseVoxelWalkGrid, NumbersTheVoxelsOfTheNestedLoopsInTheirOrder) {
  const struct Case {
    int d0, d1, d2, border, step;
  } cases[] = {
      {9, 8, 11, 2, 1},  {9, 8, 11, 2, 2},  {7, 7, 7, 0, 1},  {7, 7, 7, 0, 3}, {6, 10, 5, 1, 2},
      {5, 5, 5, 2, 1},   // one voxel per axis
      {4, 9, 9, 2, 2},   // no slice inside the border
      {9, 4, 9, 2, 1},   // no row
      {9, 9, 3, 1, 2},   // one column
      {0, 0, 0, 0, 1},   // empty volume
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.d0 << "x" << c.d1 << "x" << c.d2 << " border " << c.border << " step "
                                    << c.step);
    const Grid grid(c.d0, c.d1, c.d2, c.border, c.step);
    const std::vector<std::tuple<int, int, int>> expected = NestedLoops(c.d0, c.d1, c.d2, c.border, c.step);
    ASSERT_EQ(grid.count(), static_cast<int>(expected.size()));
    for (int v = 0; v < grid.count(); ++v) {
      const CaseVoxelWalk::Voxel voxel = grid.at(v);
      EXPECT_EQ(std::make_tuple(voxel.z, voxel.y, voxel.x), expected[static_cast<size_t>(v)]) << v;
    }
  }
}

}  // namespace
