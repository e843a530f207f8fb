#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "TestSupport.h"
#include "platform/NativePath.h"
#include "volume/HeapMatrix3D.h"

namespace {

template <class T>
HeapMatrix3D<T> Coded(int d0, int d1, int d2) {
  HeapMatrix3D<T> v;
  v.SetSize(d0, d1, d2);
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) v[z][y][x] = static_cast<T>(z * 100 - y * 10 + x - 7);
  return v;
}

template <class T>
void ExpectSame(const HeapMatrix3D<T>& a, const HeapMatrix3D<T>& b) {
  ASSERT_EQ(a.dim0(), b.dim0());
  ASSERT_EQ(a.dim1(), b.dim1());
  ASSERT_EQ(a.dim2(), b.dim2());
  for (int z = 0; z < a.dim0(); ++z)
    for (int y = 0; y < a.dim1(); ++y)
      for (int x = 0; x < a.dim2(); ++x) ASSERT_EQ(a(z, y, x), b(z, y, x)) << z << " " << y << " " << x;
}

std::vector<uint8_t> Head(const std::string& path, size_t n) {
  std::vector<uint8_t> b = ReadFileBytes(path);
  b.resize(std::min(n, b.size()));
  return b;
}

}  // namespace

TEST(VolumeFilesTest, LayoutSizesAndHeadsFollowTheExtension) {
  const struct {
    const char* name;
    size_t byteSize;
    size_t shortSize;
    const char* head;
  } cases[] = {
      {"v.3dm", 30, 54, "020003000400"},
      {"v.mx3", 52, 76, "020000000300000004000000 03000000 04000000"},
      {"v.raw", 36, 60, "020000000300000004000000"},
      {"v.mx3.3dm", 30, 54, "020003000400"},
      {"v.3dm.bak", 36, 60, "020000000300000004000000"},
      {"noextension", 36, 60, "020000000300000004000000"},
      {"v.3DM", 36, 60, "020000000300000004000000"},
  };
  TempFolder dir;
  const HeapMatrix3D<unsigned char> bytes = Coded<unsigned char>(2, 3, 4);
  const HeapMatrix3D<short> shorts = Coded<short>(2, 3, 4);
  for (const auto& c : cases) {
    const std::string b = dir.file(std::string("b_") + c.name), s = dir.file(std::string("s_") + c.name);
    ASSERT_TRUE(bytes.Save(b)) << c.name;
    ASSERT_TRUE(shorts.Save(s)) << c.name;
    EXPECT_EQ(ReadFileBytes(b).size(), c.byteSize) << c.name;
    EXPECT_EQ(ReadFileBytes(s).size(), c.shortSize) << c.name;
    const std::vector<uint8_t> head = HexBytes(c.head);
    EXPECT_EQ(ToHex(Head(b, head.size())), ToHex(head)) << c.name;

    HeapMatrix3D<short> back;
    ASSERT_TRUE(back.Load(s)) << c.name;
    ExpectSame(back, shorts);
  }
  // The mx3 body repeats the two extents before every slice.
  std::vector<uint8_t> mx3 = ReadFileBytes(dir.file("b_v.mx3"));
  EXPECT_EQ(ToHex(std::vector<uint8_t>(mx3.begin() + 32, mx3.begin() + 40)), "0300000004000000");

  // The fixed-layout forms ignore the extension.
  HeapMatrix3D<short> back;
  ASSERT_TRUE(shorts.SaveMx3(dir.file("m.3dm")));
  EXPECT_EQ(ReadFileBytes(dir.file("m.3dm")).size(), 76u);
  ASSERT_TRUE(back.LoadMx3(dir.file("m.3dm")));
  ExpectSame(back, shorts);
  ASSERT_TRUE(shorts.SaveRaw(dir.file("r.3dm")));
  EXPECT_EQ(ReadFileBytes(dir.file("r.3dm")).size(), 60u);
  ASSERT_TRUE(back.LoadRaw(dir.file("r.3dm")));
  ExpectSame(back, shorts);
}

TEST(VolumeFilesTest, EveryElementTypeRoundTrips) {
  TempFolder dir;
  auto roundTrip = [&dir](auto volume) {
    using V = decltype(volume);
    for (const char* name : {"t.3dm", "t.mx3", "t.dat"}) {
      ASSERT_TRUE(volume.Save(dir.file(name)));
      V back;
      ASSERT_TRUE(back.Load(dir.file(name)));
      ExpectSame(back, volume);
    }
  };
  roundTrip(Coded<unsigned char>(3, 2, 5));
  roundTrip(Coded<int>(3, 2, 5));
  HeapMatrix3D<float> f = Coded<float>(3, 2, 5);
  f[1][1][1] = 0.1f;
  roundTrip(f);
  HeapMatrix3D<double> d = Coded<double>(3, 2, 5);
  d[2][0][4] = -1e300;
  roundTrip(d);
}

TEST(VolumeFilesTest, EmptyHeadsAndMissingFiles) {
  TempFolder dir;
  HeapMatrix3D<short> v = Coded<short>(1, 2, 2);
  EXPECT_FALSE(v.Load(dir.file("missing.3dm")));
  EXPECT_FALSE(v.Load(""));
  EXPECT_EQ(v.NumElements(), 4);  // unchanged

  WriteFileBytes(dir.file("zero.3dm"), HexBytes("0200 0000 0400"));
  EXPECT_FALSE(v.Load(dir.file("zero.3dm")));  // a volume without voxels
  EXPECT_EQ(v.NumElements(), 0);

  // The 3dm head holds 16-bit extents: 32767 is written, 40000 (which would be
  // stored as -25536) is refused and creates no file. A head that holds -25536 is
  // refused on reading.
  HeapMatrix3D<unsigned char> widest;
  widest.SetSize(1, 1, 32767);
  ASSERT_TRUE(widest.Save(dir.file("widest.3dm")));
  EXPECT_EQ(ToHex(Head(dir.file("widest.3dm"), 6)), "01000100ff7f");
  HeapMatrix3D<unsigned char> wide;
  wide.SetSize(1, 40000, 1);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(wide.Save(dir.file("wide.3dm")));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Can not write " + dir.file("wide.3dm") + ": extent 40000 exceeds 32767\n");
  EXPECT_FALSE(PathExists(dir.file("wide.3dm")));
  std::ostringstream stream;
  EXPECT_TRUE(wide.Write3dm(stream).fail());
  EXPECT_TRUE(stream.str().empty());
  ASSERT_TRUE(wide.Save(dir.file("wide.raw")));  // the other layouts hold 32-bit extents
  WriteFileBytes(dir.file("forged.3dm"), HexBytes("0100 0100 409c"));
  EXPECT_FALSE(wide.Load(dir.file("forged.3dm")));
  EXPECT_EQ(wide.NumElements(), 0);

  // A volume without elements writes its head only.
  HeapMatrix3D<short> none;
  none.SetSize(0, 5, 5);
  ASSERT_TRUE(none.Save(dir.file("none.mx3")));
  EXPECT_EQ(ToHex(ReadFileBytes(dir.file("none.mx3"))), "000000000500000005000000");
  ASSERT_TRUE(HeapMatrix3D<short>().SaveRaw(dir.file("empty.raw")));
  EXPECT_EQ(ReadFileBytes(dir.file("empty.raw")).size(), 12u);
}

TEST(VolumeFilesTest, Mx3ReadsSlicesByTheHeadExtents) {
  TempFolder dir;
  // Head 2 x 1 x 2; slice records claim 9 x 9 but hold 1 x 2 elements each.
  WriteFileBytes(dir.file("odd.mx3"), HexBytes("02000000 01000000 02000000"
                                               "09000000 09000000 0102"
                                               "09000000 09000000 0304"));
  HeapMatrix3D<unsigned char> v;
  ASSERT_TRUE(v.Load(dir.file("odd.mx3")));
  ASSERT_EQ(v.NumElements(), 4);
  EXPECT_EQ(v(1, 0, 1), 4);
}

// One defect per case: the read fails, the volume is empty and nothing is sized
// from the forged head (no allocation message).
TEST(VolumeFilesTest, ShortAndForgedFilesFailCleanly) {
  const struct {
    const char* name;
    const char* hex;
  } cases[] = {
      {"head.3dm", "0200 03"},
      {"head.raw", "02000000 03000000"},
      {"body.3dm", "0100 0200 0200 010203"},
      {"body.raw", "01000000 02000000 02000000 010203"},
      {"body.mx3", "01000000 01000000 02000000 01000000 02000000 01"},
      {"forged.3dm", "3075 3075 3075"},  // 30000^3, then a 100-byte body
      {"forged.raw", "30750000 30750000 30750000"},
      {"forged.mx3", "30750000 30750000 30750000"},
      {"huge.raw", "ffffff7f ffffff7f ffffff7f 00000000"},
      // A head with an extent below 1 is a volume without voxels, whatever follows it.
      {"zero0.3dm", "0000 0100 0200 0102"},
      {"zero1.3dm", "0100 0000 0200 0102"},
      {"zero2.3dm", "0100 0200 0000 0102"},
      {"negative.3dm", "ffff 0100 0200 0102"},
      {"zero.raw", "01000000 00000000 02000000 0102"},
      {"zero.mx3", "01000000 01000000 00000000 01000000 02000000 0102"},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = HexBytes(c.hex);
    if (std::string(c.name).rfind("forged", 0) == 0) bytes.resize(bytes.size() + 100, 0);
    WriteFileBytes(dir.file(c.name), bytes);
    HeapMatrix3D<unsigned char> v = Coded<unsigned char>(2, 2, 2);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(v.Load(dir.file(c.name))) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
    EXPECT_EQ(v.NumElements(), 0) << c.name;
    EXPECT_EQ(v.dim0(), 0) << c.name;
  }
  // The stream forms report through the stream.
  std::istringstream in(std::string("\x01\x00\x01\x00\x02\x00\x07", 7));
  HeapMatrix3D<unsigned char> v;
  EXPECT_TRUE(v.Read3dm(in).fail());
  EXPECT_EQ(v.NumElements(), 0);
  std::istringstream zero(std::string("\x01\x00\x00\x00\x02\x00", 6));
  v = Coded<unsigned char>(2, 2, 2);
  EXPECT_TRUE(v.Read3dm(zero).fail());
  EXPECT_EQ(v.NumElements(), 0);
}

TEST(VolumeFilesTest, WritersReportFilesTheyCannotWrite) {
  TempFolder dir;
  const HeapMatrix3D<short> v = Coded<short>(2, 3, 4);
  EXPECT_FALSE(v.Save(dir.file("no/such/folder/v.3dm")));
  EXPECT_FALSE(v.SaveRaw(""));
  EXPECT_FALSE(v.Save("/dev/full"));  // the writes fail when the data is flushed
  EXPECT_FALSE(v.SaveMx3("/dev/full"));
}

TEST(VolumeFilesTest, NumpyReadsAndWritesEachLayout) {
  TempFolder dir;
  const HeapMatrix3D<short> v = Coded<short>(2, 3, 4);
  ASSERT_TRUE(v.Save(dir.file("c.3dm")));
  ASSERT_TRUE(v.Save(dir.file("c.mx3")));
  ASSERT_TRUE(v.Save(dir.file("c.raw")));
  const char* script = R"(
import sys
import numpy as np
d = sys.argv[1]
z, y, x = np.indices((2, 3, 4))
want = (z * 100 - y * 10 + x - 7).astype('<i2')

b = np.fromfile(d + '/c.3dm', dtype='<i2')
assert list(b[:3]) == [2, 3, 4] and (b[3:].reshape(2, 3, 4) == want).all(), '3dm'
raw = open(d + '/c.raw', 'rb').read()
assert list(np.frombuffer(raw[:12], '<i4')) == [2, 3, 4], 'raw head'
assert (np.frombuffer(raw[12:], '<i2').reshape(2, 3, 4) == want).all(), 'raw body'
mx3 = open(d + '/c.mx3', 'rb').read()
assert list(np.frombuffer(mx3[:12], '<i4')) == [2, 3, 4], 'mx3 head'
for s in range(2):
    rec = mx3[12 + s * 32: 12 + (s + 1) * 32]
    assert list(np.frombuffer(rec[:8], '<i4')) == [3, 4], 'mx3 record'
    assert (np.frombuffer(rec[8:], '<i2').reshape(3, 4) == want[s]).all(), 'mx3 slice'

# numpy writes doubles in all three layouts, 3 x 2 x 5.
p = (np.arange(30, dtype='<f8') * 0.5 - 3.25).reshape(3, 2, 5)
with open(d + '/p.3dm', 'wb') as f:
    f.write(np.array([3, 2, 5], '<i2').tobytes() + p.tobytes())
with open(d + '/p.raw', 'wb') as f:
    f.write(np.array([3, 2, 5], '<i4').tobytes() + p.tobytes())
with open(d + '/p.mx3', 'wb') as f:
    f.write(np.array([3, 2, 5], '<i4').tobytes())
    for s in range(3):
        f.write(np.array([2, 5], '<i4').tobytes() + p[s].tobytes())
print('ok')
)";
  ProcessResult r = RunPython(script, {dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
  for (const char* name : {"p.3dm", "p.raw", "p.mx3"}) {
    HeapMatrix3D<double> p;
    ASSERT_TRUE(p.Load(dir.file(name))) << name;
    ASSERT_EQ(p.dim0(), 3);
    ASSERT_EQ(p.dim1(), 2);
    ASSERT_EQ(p.dim2(), 5);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(p(i / 10, i / 5 % 2, i % 5), i * 0.5 - 3.25) << name << " " << i;
  }
}
