#include "volume/HeapMatrix3D.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "numerics/Matrix.h"

namespace {

// Voxel value that tells its position apart (fits every element type).
int Code(int z, int y, int x) { return z * 16 + y * 4 + x; }

template <class T>
void FillCoded(HeapMatrix3D<T>& v) {
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) v[z][y][x] = static_cast<T>(Code(z, y, x));
}

template <class T>
class VolumeTypesTest : public testing::Test {};
// int32_t (the 32-bit `long`) is int on this host, so int covers both.
using ElementTypes = testing::Types<unsigned char, short, int, float, double>;
TYPED_TEST_SUITE(VolumeTypesTest, ElementTypes);

}  // namespace

TEST(HeapMatrix3DTest, LongIsTheInt32Instantiation) {
  static_assert(std::is_same_v<HeapMatrix3D<int32_t>, HeapMatrix3D<int>>);
  HeapMatrix3D<int32_t> v;
  EXPECT_EQ(v.SetSize(1, 1, 1), 1);
}

TYPED_TEST(VolumeTypesTest, SizingKeepsOrDropsContents) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  EXPECT_EQ(v.NumElements(), 0);
  EXPECT_EQ(v.SetSize(2, 3, 4), 24);
  EXPECT_EQ(v.Sum(), T(0));  // fresh blocks are zero-filled
  EXPECT_TRUE(v.IsInside(1, 2, 3));
  EXPECT_FALSE(v.IsInside(2, 0, 0));
  EXPECT_FALSE(v.IsInside(0, -1, 0));
  v[1][2][3] = T(7);
  EXPECT_EQ(v.SetSize(2, 3, 4), 24);
  EXPECT_EQ(v(1, 2, 3), T(7));
  EXPECT_EQ(v.SetSize(3, 3, 4), 36);
  EXPECT_EQ(v(1, 2, 3), T(0));

  EXPECT_EQ(v.SetSize(0, 5, 5), 0);
  EXPECT_EQ(v.NumElements(), 0);
  EXPECT_EQ(v.dim1(), 5);
  EXPECT_EQ(v.SetSize(-2, -3, 4), 0);  // two negative extents must not make a positive size
  EXPECT_EQ(v.NumElements(), 0);
  EXPECT_EQ(v.dim0(), 0);
  v.SetSize(2, 2, 2);
  EXPECT_TRUE(v.Release());
  EXPECT_EQ(v.dim0() + v.dim1() + v.dim2(), 0);
}

TYPED_TEST(VolumeTypesTest, StatisticsFillAddAndClamps) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  T lo = T(5), hi = T(5);
  v.MinMax(lo, hi);  // no elements: outputs untouched
  EXPECT_EQ(lo, T(5));
  EXPECT_EQ(v.Max(), T(0));
  EXPECT_EQ(v.Min(), T(0));
  EXPECT_EQ(v.Sum(), T(0));

  v.SetSize(2, 3, 4);
  FillCoded(v);  // 0 .. 16 + 8 + 3 = 27
  EXPECT_EQ(v.Max(), T(27));
  EXPECT_EQ(v.Min(), T(0));
  v.MinMax(lo, hi);
  EXPECT_EQ(lo, T(0));
  EXPECT_EQ(hi, T(27));
  EXPECT_EQ(v.Sum(), T(324));  // 192 + 96 + 36; a byte sum wraps to 68 like T(324)
  v.ClampBelow(T(10));
  v.ClampAbove(T(20));
  EXPECT_EQ(v.Min(), T(10));
  EXPECT_EQ(v.Max(), T(20));
  EXPECT_EQ(v(0, 1, 1), T(10));
  EXPECT_EQ(v(1, 0, 2), T(18));
  v.AddConstant(T(3));
  EXPECT_EQ(v(1, 0, 2), T(21));
  v.Fill(T(2));
  EXPECT_EQ(v.Sum(), T(48));
}

TYPED_TEST(VolumeTypesTest, FlipsReverseOneAxisAndTwiceRestore) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  v.SetSize(3, 4, 5);
  FillCoded(v);
  const HeapMatrix3D<T> original(v);
  v.FlipDim2();
  EXPECT_EQ(v(1, 2, 0), T(Code(1, 2, 4)));
  EXPECT_EQ(v(1, 2, 2), T(Code(1, 2, 2)));  // the middle column stays
  v.FlipDim1();
  EXPECT_EQ(v(1, 0, 0), T(Code(1, 3, 4)));
  v.FlipDim0();
  EXPECT_EQ(v(0, 0, 0), T(Code(2, 3, 4)));
  EXPECT_EQ(v(1, 0, 0), T(Code(1, 3, 4)));  // the middle slice stays
  v.FlipDim0();
  v.FlipDim1();
  v.FlipDim2();
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(v(z, y, x), original(z, y, x));

  HeapMatrix3D<T> row;
  row.SetSize(1, 1, 3);
  row[0][0][0] = T(1), row[0][0][1] = T(2), row[0][0][2] = T(3);
  row.FlipDim2();
  EXPECT_EQ(row(0, 0, 0), T(3));
  EXPECT_EQ(row(0, 0, 2), T(1));
}

TYPED_TEST(VolumeTypesTest, CopiesAreDeepAndSelfAssignmentKeepsTheVolume) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  v.SetSize(2, 2, 3);
  FillCoded(v);
  HeapMatrix3D<T> w(v);
  w[1][1][2] = T(99);
  EXPECT_EQ(v(1, 1, 2), T(Code(1, 1, 2)));
  w = v;
  EXPECT_EQ(w(1, 1, 2), T(Code(1, 1, 2)));
  HeapMatrix3D<T>& alias = w;
  w = alias;
  EXPECT_EQ(w.NumElements(), 12);
  EXPECT_EQ(w(1, 1, 2), T(Code(1, 1, 2)));
}

TYPED_TEST(VolumeTypesTest, GetSliceCopiesOnePlaneOfEachAxis) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  v.SetSize(5, 6, 7);
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) v[z][y][x] = T(z * 7 * 6 / 3 + y * 7 / 2 + x);  // fits a byte
  Matrix<T> m;
  v.GetSlice(m, 2, 1);
  ASSERT_EQ(m.rows, 5);
  ASSERT_EQ(m.cols, 7);
  for (int z = 0; z < 5; ++z)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(m(z, x), v(z, 2, x));
  v.GetSlice(m, 4, 0);
  ASSERT_EQ(m.rows, 6);
  ASSERT_EQ(m.cols, 7);
  EXPECT_EQ(m(5, 6), v(4, 5, 6));
  v.GetSlice(m, 6, 2);
  ASSERT_EQ(m.rows, 5);
  ASSERT_EQ(m.cols, 6);
  EXPECT_EQ(m(3, 5), v(3, 5, 6));
  // A bad index or axis leaves the matrix as it was.
  v.GetSlice(m, 7, 2);
  v.GetSlice(m, -1, 0);
  v.GetSlice(m, 0, 3);
  EXPECT_EQ(m.rows, 5);
  EXPECT_EQ(m(3, 5), v(3, 5, 6));
}

TYPED_TEST(VolumeTypesTest, CropAroundCopiesTheWindowOrWarns) {
  using T = TypeParam;
  HeapMatrix3D<T> v;
  v.SetSize(16, 16, 16);
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) v[z][y][x] = T((z * 3 + y * 5 + x) % 100);
  HeapMatrix3D<T> out;
  testing::internal::CaptureStdout();
  v.CropAround(out, 4, 5, 4, 10, 10, 10);  // z 9 .. 12, y 8 .. 12, x 9 .. 12
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(out.dim0(), 4);
  ASSERT_EQ(out.dim1(), 5);
  EXPECT_EQ(out(0, 0, 0), v(9, 8, 9));
  EXPECT_EQ(out(3, 4, 3), v(12, 12, 12));

  const struct {
    int size, centre;
  } outside[] = {{4, 0}, {4, 14}, {5, 1}, {0, 5}};  // reaches -1, reaches 16, reaches -1, empty
  for (const auto& c : outside) {
    testing::internal::CaptureStdout();
    v.CropAround(out, 3, c.size, 3, 8, c.centre, 8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot crop: out of bounds. \n") << c.size << " " << c.centre;
    EXPECT_EQ(out.dim1(), c.size);
    EXPECT_EQ(out.Max(), T(0));
  }
  // Cropping into itself works on a copy.
  v.CropAround(v, 2, 2, 2, 5, 5, 5);
  EXPECT_EQ(v.NumElements(), 8);
  EXPECT_EQ(v(0, 0, 0), T((5 * 3 + 5 * 5 + 5) % 100));
}

TEST(HeapMatrix3DTest, IntegerSumsAndAdditionsWrapAtTheTypeWidth) {
  HeapMatrix3D<unsigned char> bytes;
  bytes.SetSize(1, 1, 3);
  bytes.Fill(100);
  EXPECT_EQ(bytes.Sum(), 44);  // 300 mod 256
  bytes.AddConstant(200);
  EXPECT_EQ(bytes(0, 0, 0), 44);

  HeapMatrix3D<short> shorts;
  shorts.SetSize(1, 1, 2);
  shorts.Fill(30000);
  EXPECT_EQ(shorts.Sum(), -5536);
  shorts.AddConstant(2767);
  shorts.AddConstant(1);
  EXPECT_EQ(shorts(0, 0, 0), -32768);

  HeapMatrix3D<int> ints;
  ints.SetSize(1, 1, 2);
  ints.Fill(INT32_MAX);
  EXPECT_EQ(ints.Sum(), -2);

  HeapMatrix3D<float> floats;
  floats.SetSize(1, 1, 2);
  floats[0][0][0] = 16777216.0f;
  floats[0][0][1] = 1.0f;
  EXPECT_EQ(floats.Sum(), 16777216.0f);  // accumulated in float
}

TEST(HeapMatrix3DTest, RescaleUsesAnIntegerFactorForIntegerTypes) {
  auto shortRamp = [](int max) {
    HeapMatrix3D<short> v;
    v.SetSize(1, 1, 3);
    v[0][0][0] = 0;
    v[0][0][1] = static_cast<short>(max / 2);
    v[0][0][2] = static_cast<short>(max);
    return v;
  };
  HeapMatrix3D<short> s = shortRamp(1000);
  s.Rescale(0, 255);  // factor 255 / 1000 = 0
  EXPECT_EQ(s.Max(), 0);
  s = shortRamp(100);
  s.Rescale(0, 255);  // factor 2
  EXPECT_EQ(s(0, 0, 1), 100);
  EXPECT_EQ(s(0, 0, 2), 200);
  s = shortRamp(100);
  s.Rescale(10, 310);  // factor 3, plus lo
  EXPECT_EQ(s(0, 0, 2), 310);
  s.Fill(7);
  s.Rescale(-4, 9);
  EXPECT_EQ(s.Min(), -4);
  EXPECT_EQ(s.Max(), -4);

  HeapMatrix3D<unsigned char> b;
  b.SetSize(1, 1, 2);
  b[0][0][0] = 10;
  b[0][0][1] = 60;
  b.Rescale(0, 255);  // factor 5: 250
  EXPECT_EQ(b(0, 0, 1), 250);

  HeapMatrix3D<int> i;
  i.SetSize(1, 1, 2);
  i[0][0][0] = INT32_MIN;
  i[0][0][1] = INT32_MAX;  // max - min wraps to -1: no trap
  i.Rescale(0, 10);
  EXPECT_EQ(i(0, 0, 0), 0);

  HeapMatrix3D<float> f;
  f.SetSize(1, 1, 3);
  f[0][0][0] = 0.0f;
  f[0][0][1] = 400.0f;
  f[0][0][2] = 1000.0f;
  f.Rescale(0.0f, 255.0f);
  EXPECT_EQ(f(0, 0, 1), static_cast<float>(400.0f * 0.255));
  EXPECT_EQ(f(0, 0, 2), 255.0f);

  HeapMatrix3D<double> d;
  d.SetSize(1, 1, 2);
  d[0][0][0] = -1.0;
  d[0][0][1] = 3.0;
  d.Rescale(0.0, 1.0);
  EXPECT_EQ(d(0, 0, 0), 0.0);
  EXPECT_EQ(d(0, 0, 1), 1.0);
}

TEST(HeapMatrix3DTest, AttachBoxViewsTheSourceWithMarginSlices) {
  HeapMatrix3D<short> source;
  source.SetSize(10, 4, 5);
  FillCoded(source);
  const SubVolume box(1, 1, 2, 3, 2, 4);  // x 1..3, y 1..2, z 2..4
  for (bool reverse : {false, true}) {
    HeapMatrix3D<short> view;
    view.AttachBox(source, box, 1, 2, reverse);
    ASSERT_EQ(view.dim0(), 6);
    ASSERT_EQ(view.dim1(), 2);
    ASSERT_EQ(view.dim2(), 3);
    EXPECT_EQ(view(0, 0, 0), 0);  // margin
    EXPECT_EQ(view(5, 1, 2), 0);
    const int first = reverse ? 7 : 2;
    const int step = reverse ? -1 : 1;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(view(1 + i, 1, 2), Code(first + step * i, 2, 3)) << reverse;
    view[1][0][0] = -1;  // writes through to the source
    EXPECT_EQ(source(first, 1, 1), -1);
    source[first][1][1] = static_cast<short>(Code(first, 1, 1));

    // Operations go through the slice table, margins included.
    EXPECT_EQ(view.Min(), 0);
    EXPECT_EQ(view.Max(), Code(reverse ? 7 : 4, 2, 3));
    HeapMatrix3D<short> copy(view);
    EXPECT_EQ(copy(3, 1, 2), view(3, 1, 2));
    copy.SetZero();
    EXPECT_EQ(view(3, 1, 2), Code(reverse ? 5 : 4, 2, 3));
  }
  HeapMatrix3D<short> view;
  view.AttachBox(source, box, 0, 0, false);
  view.SetZero();
  EXPECT_EQ(source(3, 2, 2), 0);
  EXPECT_EQ(source(3, 0, 2), Code(3, 0, 2));  // outside the box

  // A box that does not lie inside the source, or an empty source, gives an empty view.
  const SubVolume outside[] = {SubVolume(0, 0, 8, 1, 1, 10), SubVolume(-1, 0, 0, 1, 1, 1),
                               SubVolume(3, 0, 0, 5, 1, 1), SubVolume(2, 0, 0, 1, 1, 1)};
  for (const SubVolume& b : outside) {
    view.AttachBox(source, b, 1, 1, false);
    EXPECT_EQ(view.NumElements(), 0);
    EXPECT_EQ(view.dim0(), 0);
  }
  HeapMatrix3D<short> empty;
  view.AttachBox(empty, SubVolume(0, 0, 0, 0, 0, 0), 0, 0, false);
  EXPECT_EQ(view.NumElements(), 0);
}

TEST(HeapMatrix3DTest, SetSizeReportsASizeItCannotHold) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(2, 2, 2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(v.SetSize(30000, 30000, 30000), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can not allocate memory size of 30000 x 30000 x 30000\n");
  EXPECT_EQ(v.NumElements(), 0);
  EXPECT_EQ(v.dim0(), 0);
  EXPECT_EQ(v.dim2(), 0);
  EXPECT_EQ(v.Max(), 0);
}

// Caps this process's address space at its current size plus `headroom` bytes.
void LimitAddressSpace(long long headroom) {
  long long pages = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr || std::fscanf(f, "%lld", &pages) != 1) std::exit(3);
  std::fclose(f);
  const rlim_t limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + headroom);
  const rlimit r = {limit, limit};
  if (setrlimit(RLIMIT_AS, &r) != 0) std::exit(3);
}

// Under a 600 MB cap: a 200 MB element block fits, its 1.6 GB row table does not; a
// view with 500 million margin slices needs a 4 GB slice table. Prints the element
// counts that result and ends the process.
void SizeTablesUnderACap() {
  LimitAddressSpace(600LL << 20);
  HeapMatrix3D<unsigned char> v;
  const int n = v.SetSize(1, 200000000, 1);
  HeapMatrix3D<unsigned char> source, view;
  source.SetSize(1, 1, 1);
  view.AttachBox(source, SubVolume(0, 0, 0, 0, 0, 0), 0, 500000000, false);
  std::fprintf(stderr, "%d %lld %lld\n", n, static_cast<long long>(v.NumElements()),
               static_cast<long long>(view.NumElements()));
  std::exit(0);
}

TEST(HeapMatrix3DDeathTest, TablesThatCannotBeAllocatedLeaveTheVolumeEmpty) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "an address-space cap does not leave room for the sanitizer's shadow memory";
#endif
  // Both report and stay empty instead of throwing.
  EXPECT_EXIT(SizeTablesUnderACap(), testing::ExitedWithCode(0), "^0 0 0\n$");
}

TEST(HeapMatrix3DTest, ConvertVolumeWidensOrKeepsTheLowByte) {
  HeapMatrix3D<short> wide;
  wide.SetSize(1, 2, 3);
  const short values[] = {0, 255, 256, 300, -1, 32767};
  const unsigned char low[] = {0, 255, 0, 44, 255, 255};
  for (int i = 0; i < 6; ++i) wide[0][i / 3][i % 3] = values[i];
  HeapMatrix3D<unsigned char> bytes;
  ConvertVolume(bytes, wide);
  ASSERT_EQ(bytes.dim1(), 2);
  ASSERT_EQ(bytes.dim2(), 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(bytes(0, i / 3, i % 3), low[i]) << values[i];
  HeapMatrix3D<short> back;
  ConvertVolume(back, bytes);
  EXPECT_EQ(back(0, 0, 1), 255);
  EXPECT_EQ(back(0, 1, 1), 255);
}

TEST(HeapMatrix3DTest, CropVolumeAndPasteSubVolumeStayInsideTheVolumes) {
  HeapMatrix3D<unsigned char> big;
  big.SetSize(4, 5, 6);
  FillCoded(big);
  HeapMatrix3D<unsigned char> part;
  ASSERT_TRUE(CropVolume(part, big, SubVolume(2, 1, 1, 5, 3, 2)));
  ASSERT_EQ(part.dim0(), 2);
  ASSERT_EQ(part.dim1(), 3);
  ASSERT_EQ(part.dim2(), 4);
  EXPECT_EQ(part(0, 0, 0), Code(1, 1, 2));
  EXPECT_EQ(part(1, 2, 3), Code(2, 3, 5));

  HeapMatrix3D<unsigned char> canvas;
  canvas.SetSize(4, 5, 6);
  ASSERT_TRUE(PasteSubVolume(canvas, 2, 1, 1, part));
  EXPECT_EQ(canvas.Sum(), part.Sum());
  EXPECT_EQ(canvas(2, 3, 5), Code(2, 3, 5));
  EXPECT_EQ(canvas(0, 0, 0), 0);

  const SubVolume badBoxes[] = {SubVolume(0, 0, 0, 6, 1, 1), SubVolume(0, -1, 0, 1, 1, 1),
                                SubVolume(0, 0, 3, 1, 1, 4), SubVolume(3, 0, 0, 2, 1, 1)};
  for (const SubVolume& box : badBoxes) {
    EXPECT_FALSE(CropVolume(part, big, box));
    EXPECT_EQ(part.NumElements(), 0);
  }
  ASSERT_TRUE(CropVolume(part, big, SubVolume(0, 0, 0, 2, 2, 2)));
  const int badOffsets[][3] = {{4, 0, 0}, {0, 3, 0}, {0, 0, 2}, {-1, 0, 0}};
  for (const auto& o : badOffsets) {
    canvas.SetZero();
    EXPECT_FALSE(PasteSubVolume(canvas, o[0], o[1], o[2], part));
    EXPECT_EQ(canvas.Max(), 0);
  }
}
