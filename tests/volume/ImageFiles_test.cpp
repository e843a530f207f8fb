// Image files: portable pixmaps and grey images through FreeImage.
#include "volume/ImageFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "RasterTestUtil.h"
#include "TestSupport.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/Raster.h"

namespace {

template <class T>
class FileTypesTest : public testing::Test {};
using PixelTypes = testing::Types<unsigned char, float>;
TYPED_TEST_SUITE(FileTypesTest, PixelTypes);

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

TYPED_TEST(FileTypesTest, WritesEachType) {
  TempFolder dir;
  Raster<TypeParam> image = Image<TypeParam>(2, 3, {1, 2, 3, 200, 0, 255});
  struct Case {
    int type;
    std::string bytes;
  } cases[] = {
      {5, std::string("P5\n3 2\n255\n") + std::string("\x01\x02\x03\xc8\x00\xff", 6)},
      {6, std::string("P6\n3 2\n255\n") +
              std::string("\x01\x01\x01\x02\x02\x02\x03\x03\x03\xc8\xc8\xc8\x00\x00\x00\xff\xff\xff", 18)},
      {2, "P2\n3 2\n255\n1 2 3 200 0 255 "},
      {3, "P3\n3 2\n255\n1 1 1 2 2 2 3 3 3 200 200 200 0 0 0 255 255 255 "},
      {4, "P4\n3 2\n255\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string path = dir.file("out.ppm");
    ASSERT_TRUE(image.WritePpm(path.c_str(), c.type));
    EXPECT_EQ(ToHex(ReadFileBytes(path)), ToHex(Bytes(c.bytes)));
  }
  // The header of a grey binary file, byte for byte.
  EXPECT_EQ(ToHex(Bytes("P5\n3 2\n255\n")), ToHex(HexBytes("50 35 0A 33 20 32 0A 32 35 35 0A")));
}

TEST(ImageFilesTest, FloatPixelsAreTruncated) {
  TempFolder dir;
  Raster<float> image = Image<float>(1, 3, {7.9, -1.5, 300.2});
  ASSERT_TRUE(image.WritePpm(dir.file("t.pgm").c_str(), 2));
  EXPECT_EQ(ReadFileText(dir.file("t.pgm")), "P2\n3 1\n255\n7 -1 300 ");
  ASSERT_TRUE(image.WritePpm(dir.file("b.pgm").c_str(), 5));
  EXPECT_EQ(ToHex(ReadFileBytes(dir.file("b.pgm"))), ToHex(Bytes(std::string("P5\n3 1\n255\n\x07\xff\x2c", 14))));
}

TYPED_TEST(FileTypesTest, ReadsEachType) {
  TempFolder dir;
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<double> pixels;
  } cases[] = {
      {"grey binary", std::string("P5\n2 2\n255\n\x0a\x14\x1f\xff", 15), {10, 20, 31, 255}},
      {"colour binary", std::string("P6\n2 1\n255\n\x0a\x14\x1f\x00\x00\x03", 17), {20, 1}},
      {"grey text", "P2\n2 2\n255\n1 2\n3 4\n", {1, 2, 3, 4}},
      {"colour text", "P3\n1 2\n255\n10 20 31 255 255 254", {20, 254}},
      {"comments and blanks", "P5\n# made by hand\n#\n  2 \n 1\n255  \r\nAB", {65, 66}},
      {"carriage returns", std::string("P5\r\n2 1\r\n255\r\n\x01\x02", 16), {1, 2}},
      {"trailing bytes ignored", "P2\n1 1\n255\n9 8 7", {9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("in.ppm");
    WriteFileBytes(path, Bytes(c.bytes));
    Raster<TypeParam> image;
    ASSERT_TRUE(image.ReadPpm(path.c_str()));
    EXPECT_EQ(Pixels(image), c.pixels);
  }
}

TYPED_TEST(FileTypesTest, ReadKeepsOrResizesTheImage) {
  TempFolder dir;
  const std::string path = dir.file("in.pgm");
  WriteFileBytes(path, Bytes("P2\n3 2\n255\n1 2 3 4 5 6"));
  Raster<TypeParam> same(2, 3);
  const TypeParam* block = same.data;
  ASSERT_TRUE(same.ReadPpm(path.c_str()));
  EXPECT_EQ(same.data, block);  // same extents: read in place
  EXPECT_EQ(Pixels(same), std::vector<double>({1, 2, 3, 4, 5, 6}));
  Raster<TypeParam> other(3, 2);
  ASSERT_TRUE(other.ReadPpm(path.c_str()));
  EXPECT_EQ(other.rows, 2);
  EXPECT_EQ(other.cols, 3);
  EXPECT_EQ(Pixels(other), std::vector<double>({1, 2, 3, 4, 5, 6}));
}

TEST(ImageFilesTest, TextValuesInByteImagesKeepTheLowByte) {
  TempFolder dir;
  WriteFileBytes(dir.file("in.pgm"), Bytes("P2\n3 1\n255\n300 -1 7"));
  Raster<unsigned char> bytes;
  ASSERT_TRUE(bytes.ReadPpm(dir.file("in.pgm").c_str()));
  EXPECT_EQ(Pixels(bytes), std::vector<double>({44, 255, 7}));
  Raster<float> floats;
  ASSERT_TRUE(floats.ReadPpm(dir.file("in.pgm").c_str()));
  EXPECT_EQ(Pixels(floats), std::vector<double>({300, -1, 7}));
}

// Every defect is reported in one line naming the file, and the image is unchanged.
TEST(ImageFilesTest, RejectsBadFiles) {
  TempFolder dir;
  const std::string path = dir.file("bad.ppm");
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"empty", "", "Bad header"},
      {"no P", "Q5\n1 1\n255\nA", "Bad header"},
      {"no type", "P\n1 1\n255\nA", "Bad header"},
      {"header on one line", "P5 1 1 255\nA", "Bad header"},
      {"first line too long for a type", "P5xxxxxxxxxxxx\n1 1\n255\nA", "Bad header"},
      {"missing height", "P5\n1\n", "Bad header"},
      {"letters for the width", "P5\nabc 1 1\n255\nA", "Bad header"},
      {"zero width", "P5\n0 1\n255\n", "Bad header"},
      {"width past int", "P5\n99999999999 1\n255\nA", "Bad header"},
      {"too many pixels", "P5\n65536 65536\n255\nA", "Bad header"},
      {"maximum 0", "P5\n1 1\n0\nA", "Bad header"},
      {"maximum past 65535", "P2\n1 1\n70000\n1", "Bad header"},
      {"text after the maximum", "P5\n1 1\n255 x\nA", "Bad header"},
      {"no newline after the maximum", "P5\n1 1\n255", "Bad header"},
      {"type 4", "P4\n1 1\n255\nA", "Unsupported type 4 or maximum value 255"},
      {"type 7", "P7\n1 1\n255\nA", "Unsupported type 7 or maximum value 255"},
      {"two-byte samples", "P5\n1 1\n65535\nAB", "Unsupported type 5 or maximum value 65535"},
      {"short binary body", "P5\n2 2\n255\nABC", "Short body"},
      {"short colour body", "P6\n1 1\n255\nAB", "Short body"},
      {"short text body", "P2\n3 1\n255\n1 2", "Short body"},
      {"text body ends early", "P2\n3 1\n255\n1 2    ", "Short or bad body"},
      {"letters in a text body", "P3\n1 1\n255\n1 x 3", "Short or bad body"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(path, Bytes(c.bytes));
    Raster<unsigned char> image = Image<unsigned char>(1, 2, {5, 6});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(image.ReadPpm(path.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(c.message) + " in input file " + path + " in ppm::read()\n");
    EXPECT_EQ(image.rows, 1);
    EXPECT_EQ(Pixels(image), std::vector<double>({5, 6}));
  }
}

TEST(ImageFilesTest, UnopenableFiles) {
  TempFolder dir;
  Raster<unsigned char> image = Image<unsigned char>(1, 1, {5});
  const std::string missing = dir.file("missing.ppm");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(image.ReadPpm(missing.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fail to open input file " + missing + " in ppm::read()\n");
  EXPECT_EQ(Pixels(image), std::vector<double>({5}));

  // A folder opens as a stream but is refused before anything is read from it.
  const std::string folder = dir.file("x.ppm");
  ASSERT_TRUE(MakeFolder(folder));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(image.ReadPpm(folder.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a regular file: " + folder + " in ppm::read()\n");
  EXPECT_EQ(Pixels(image), std::vector<double>({5}));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(image.WritePpm(dir.file("no/such/folder.ppm").c_str(), 5));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error opening output file ColorImage::Write()\n");

  // A write that fails is not reported as success.
  if (PathExists("/dev/full")) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(image.WritePpm("/dev/full", 5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error writing output file /dev/full in ColorImage::Write()\n");
  }
}

// Pillow reads what we write and writes what we read.
TEST(ImageFilesTest, PillowPeer) {
  TempFolder dir;
  Raster<unsigned char> image(3, 4);
  for (int i = 0; i < 12; ++i) image.data[i] = static_cast<unsigned char>(i * 21);
  ASSERT_TRUE(image.WritePpm(dir.file("ours5.pgm").c_str(), 5));
  ASSERT_TRUE(image.WritePpm(dir.file("ours2.pgm").c_str(), 2));
  ASSERT_TRUE(image.WritePpm(dir.file("ours6.ppm").c_str(), 6));
  const std::string script = R"(
import sys
from PIL import Image
folder = sys.argv[1]
for name in ('ours5.pgm', 'ours2.pgm', 'ours6.ppm'):
    im = Image.open(folder + '/' + name)
    print(name, im.mode, im.size[0], im.size[1], ' '.join(str(p if isinstance(p, int) else p[0]) for p in im.getdata()))
grey = Image.new('L', (3, 2))
grey.putdata([0, 10, 20, 250, 251, 252])
grey.save(folder + '/theirs.pgm')
colour = Image.new('RGB', (2, 1))
colour.putdata([(10, 20, 31), (0, 0, 255)])
colour.save(folder + '/theirs.ppm')
)";
  ProcessResult r = RunPython(script, {dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string pixels = "0 21 42 63 84 105 126 147 168 189 210 231";
  EXPECT_EQ(r.out, "ours5.pgm L 4 3 " + pixels + "\nours2.pgm L 4 3 " + pixels + "\nours6.ppm RGB 4 3 " + pixels + "\n");

  Raster<unsigned char> grey;
  ASSERT_TRUE(grey.ReadPpm(dir.file("theirs.pgm").c_str()));
  EXPECT_EQ(grey.rows, 2);
  EXPECT_EQ(Pixels(grey), std::vector<double>({0, 10, 20, 250, 251, 252}));
  Raster<float> colour;
  ASSERT_TRUE(colour.ReadPpm(dir.file("theirs.ppm").c_str()));
  EXPECT_EQ(Pixels(colour), std::vector<double>({20, 85}));
}

// A grey TIFF: tiffinfo reports 8-bit grey, the extents and about 300 dpi; Pillow sees
// matrix row 0 at the top.
TEST(ImageFilesTest, SaveGreyImageWritesTiff) {
  TempFolder dir;
  Matrix<unsigned char> m(3, 5);
  for (int i = 0; i < 15; ++i) m.data[i] = static_cast<unsigned char>(17 * i + 3);
  const std::string path = dir.file("t.tif");
  ASSERT_TRUE(SaveGreyImage(m, path.c_str(), 300));

  ProcessResult info = RunProcess({"/usr/bin/tiffinfo", path});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Image Width: 5 Image Length: 3"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Bits/Sample: 8"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Samples/Pixel: 1"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("min-is-black"), std::string::npos) << info.out;
  const size_t at = info.out.find("Resolution: ");
  ASSERT_NE(at, std::string::npos) << info.out;
  std::istringstream resolution(info.out.substr(at + 12));
  double x = 0, y = 0;
  char comma = 0;
  std::string unit;
  resolution >> x >> comma >> y >> unit;
  EXPECT_NEAR(x, 300.0, 0.01);
  EXPECT_NEAR(y, 300.0, 0.01);
  EXPECT_EQ(unit, "pixels/inch");

  const std::string script = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
print(im.mode, im.size[0], im.size[1], ' '.join(str(p) for p in im.getdata()))
)";
  ProcessResult r = RunPython(script, {path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "L 5 3 3 20 37 54 71 88 105 122 139 156 173 190 207 224 241\n");
}

TEST(ImageFilesTest, SaveGreyImageFailures) {
  TempFolder dir;
  Matrix<unsigned char> m(2, 2);
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"unknown extension", dir.file("t.unknownext")},
      {"no extension", dir.file("plain")},
      {"missing folder", dir.file("no/such/t.tif")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(SaveGreyImage(m, c.file.c_str(), 300));
    EXPECT_FALSE(PathExists(c.file));
  }
  EXPECT_FALSE(SaveGreyImage(Matrix<unsigned char>(), dir.file("empty.tif").c_str(), 300));
  EXPECT_FALSE(PathExists(dir.file("empty.tif")));
  EXPECT_FALSE(SaveGreyImage(m, nullptr, 300));
  EXPECT_FALSE(SaveImage(nullptr, dir.file("null.tif").c_str(), 0));
}
