#include "img/AnalyzeHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "TestSupport.h"

namespace {

int16_t I16(const std::vector<uint8_t>& b, int at) {
  int16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
int32_t I32(const std::vector<uint8_t>& b, int at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
float F32(const std::vector<uint8_t>& b, int at) {
  float v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void SetI16(std::vector<uint8_t>& b, int at, int16_t v) { std::memcpy(b.data() + at, &v, 2); }
void SetI32(std::vector<uint8_t>& b, int at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }
void SetF32(std::vector<uint8_t>& b, int at, float v) { std::memcpy(b.data() + at, &v, 4); }

AnalyzeImageInfo Info(int bits, int x, int y, int z) {
  AnalyzeImageInfo info;
  info.bits = bits;
  info.xDim = x;
  info.yDim = y;
  info.zDim = z;
  info.xVoxel = 1.5;
  info.yVoxel = 2.0;
  info.zVoxel = 0.5;
  return info;
}

AnalyzeRange Range(int glmin, int glmax) {
  AnalyzeRange range;
  range.glmin = glmin;
  range.glmax = glmax;
  return range;
}


}  // namespace

TEST(AnalyzeHeaderTest, StripAnalyzeExtensionOnlyTakesImgOrHdrOfTheFilePart) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a/b.img", "a/b"},     {"a/b.hdr", "a/b"},       {"b.img", "b"},
      {"a/b.HDR", "a/b.HDR"}, {"a/b.img.gz", "a/b.img.gz"}, {".img", ".img"},
      {"a/.hdr", "a/.hdr"},   {"a.img/b", "a.img/b"},   {"a\\b.img", "a\\b"},
      {"a/b", "a/b"},
  };
  for (const auto& c : cases) {
    std::string name = c.in;
    StripAnalyzeExtension(name);
    EXPECT_EQ(name, c.out) << c.in;
  }
}

TEST(AnalyzeHeaderTest, SwapBytesReversesEachItem) {
  uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SwapBytes(b, 1, 2);  // two 16-bit items
  EXPECT_EQ(ToHex(std::vector<uint8_t>(b, b + 8)), "0201040305060708");
  SwapBytes(b, 2, 2);  // two 32-bit items
  EXPECT_EQ(ToHex(std::vector<uint8_t>(b, b + 8)), "0304010208070605");
}

TEST(AnalyzeHeaderTest, WriteHeaderLaysOutTheFieldsByOffset) {
  TempFolder dir;
  std::string description(100, 'd');
  description[3] = '\\';
  ASSERT_EQ(write_header(dir.file("h.img"), Info(16, 64, 32, 8), description, Range(-5, 1000)), 0);
  std::vector<uint8_t> b = ReadFileBytes(dir.file("h.hdr"));
  ASSERT_EQ(b.size(), 348u);
  EXPECT_EQ(I32(b, 0), 348);
  EXPECT_EQ(I32(b, 32), 16384);
  EXPECT_EQ(b[38], 'r');
  EXPECT_EQ(I16(b, 40), 4);
  EXPECT_EQ(I16(b, 42), 64);
  EXPECT_EQ(I16(b, 44), 32);
  EXPECT_EQ(I16(b, 46), 8);
  EXPECT_EQ(I16(b, 48), 1);
  EXPECT_EQ(I16(b, 70), 4);
  EXPECT_EQ(I16(b, 72), 16);
  EXPECT_EQ(F32(b, 80), 1.5f);
  EXPECT_EQ(F32(b, 84), 2.0f);
  EXPECT_EQ(F32(b, 88), 0.5f);
  EXPECT_EQ(I32(b, 140), 1000);
  EXPECT_EQ(I32(b, 144), -5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[148])), description.substr(0, 79));
  EXPECT_EQ(b[148 + 79], 0);
  // Every byte outside the fields is zero.
  int nonZero = 0;
  for (int i = 0; i < 348; ++i) {
    bool inField = i < 4 || (i >= 32 && i < 36) || i == 38 || (i >= 40 && i < 50) || (i >= 70 && i < 74) ||
                   (i >= 80 && i < 92) || (i >= 140 && i < 228);
    if (!inField && b[i] != 0) ++nonZero;
  }
  EXPECT_EQ(nonZero, 0);

  const struct {
    int bits;
    int datatype;
  } types[] = {{1, 1}, {8, 2}, {16, 4}, {32, 8}, {12, 0}};
  for (const auto& t : types) {
    ASSERT_EQ(write_header(dir.file("t.hdr"), Info(t.bits, 1, 1, 1), "", Range(0, 0)), 0);
    EXPECT_EQ(I16(ReadFileBytes(dir.file("t.hdr")), 70), t.datatype) << t.bits;
  }
  // ".hdr" is appended to any other extension.
  ASSERT_EQ(write_header(dir.file("x.foo"), Info(8, 1, 1, 1), "", Range(0, 0)), 0);
  EXPECT_EQ(ReadFileBytes(dir.file("x.foo.hdr")).size(), 348u);
}

TEST(AnalyzeHeaderTest, WriteHeaderReportsAFileItCannotCreate) {
  TempFolder dir;
  testing::internal::CaptureStderr();
  int status = write_header(dir.file("missing/h.hdr"), Info(16, 1, 1, 1), "", Range(0, 0));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kAnalyzeCannotCreateHeader);
  EXPECT_EQ(MaskSourceLines(err), "P: cannot open file " + dir.file("missing/h.hdr") + " for output\n");
}

TEST(AnalyzeHeaderTest, OpenHeaderReadsWhatWriteHeaderWrote) {
  TempFolder dir;
  ASSERT_EQ(write_header(dir.file("h"), Info(16, 64, 32, 8), "desc", Range(0, 65535)), 0);
  ImageFileHandle handle;
  AnalyzeImageInfo info;
  AnalyzeRange range;
  open_header(dir.file("h.img"), handle, info, range);
  EXPECT_EQ(handle.status, 0);
  EXPECT_NE(handle.header, nullptr);
  EXPECT_EQ(info.bits, 16);
  EXPECT_EQ(info.xDim, 64);
  EXPECT_EQ(info.yDim, 32);
  EXPECT_EQ(info.zDim, 8);
  EXPECT_EQ(info.xVoxel, 1.5);
  EXPECT_EQ(info.zVoxel, 0.5);
  EXPECT_EQ(range.glmin, 0);
  EXPECT_EQ(range.glmax, 65535);
  EXPECT_EQ(range.swapped, 0);
  CloseImageFile(handle);
  EXPECT_EQ(handle.status, 0);
  EXPECT_EQ(handle.header, nullptr);
}

TEST(AnalyzeHeaderTest, OpenHeaderAcceptsTheOtherByteOrder) {
  TempFolder dir;
  ASSERT_EQ(write_header(dir.file("be"), Info(16, 300, 2, 3), "", Range(-7, 4000)), 0);
  std::vector<uint8_t> b = ReadFileBytes(dir.file("be.hdr"));
  for (int at : {0, 32, 80, 84, 88, 140, 144}) std::reverse(b.begin() + at, b.begin() + at + 4);
  for (int at : {40, 42, 44, 46, 48, 70, 72}) std::reverse(b.begin() + at, b.begin() + at + 2);
  WriteFileBytes(dir.file("be.hdr"), b);

  ImageFileHandle handle;
  AnalyzeImageInfo info;
  AnalyzeRange range;
  open_header(dir.file("be.hdr"), handle, info, range);
  EXPECT_EQ(handle.status, 0);
  EXPECT_EQ(range.swapped, 1);
  EXPECT_EQ(info.bits, 16);
  EXPECT_EQ(info.xDim, 300);
  EXPECT_EQ(info.yDim, 2);
  EXPECT_EQ(info.zDim, 3);
  EXPECT_EQ(info.yVoxel, 2.0);
  EXPECT_EQ(range.glmin, -7);
  EXPECT_EQ(range.glmax, 4000);
  CloseImageFile(handle);
}

// One defect per case, edited into a good 16-bit header; status, open file and messages.
TEST(AnalyzeHeaderTest, OpenHeaderRejectsOrWarnsAboutDefects) {
  using Edit = std::function<void(std::vector<uint8_t>&)>;
  const struct {
    const char* name;
    Edit edit;
    int status;
    bool staysOpen;
    const char* messages;  // "%s" is the header name
  } cases[] = {
      {"short", [](auto& b) { b.pop_back(); }, 211, false, "P: failed to read data from file %s\n"},
      {"long", [](auto& b) { b.push_back(0); }, 211, false, "P: more data than expected was found in file %s\n"},
      {"sizeof", [](auto& b) { SetI32(b, 0, 347); }, 206, false, "P: invalid header for file %s\n"},
      {"bits32", [](auto& b) { SetI16(b, 72, 32); }, 204, false, "P: cannot read 32 bit/pixel data from file %s\n"},
      {"bits1", [](auto& b) { SetI16(b, 72, 1); }, 0, true, ""},
      {"negdim", [](auto& b) { SetI16(b, 42, -64); }, 205, true,
       "P: invalid dimensions less than or equal to zero in header file %s\n"},
      {"zerovox", [](auto& b) { SetF32(b, 84, 0.0f); }, 208, true,
       "P: invalid voxel sizes less than or equal to zero in header file %s\n"},
      {"both", [](auto& b) { SetI16(b, 46, 0); SetF32(b, 80, -1.0f); }, 208, true,
       "P: invalid dimensions less than or equal to zero in header file %s\n"
       "P: invalid voxel sizes less than or equal to zero in header file %s\n"},
      {"maxbelowmin", [](auto& b) { SetI32(b, 144, 0); SetI32(b, 140, -1); }, 207, true,
       "P: global maximum is <= global minimum in header file %s\n"},
      {"maxoutofrange", [](auto& b) { SetI32(b, 144, -5); SetI32(b, 140, -32768); }, 207, true,
       "P: global maximum is out of possible range in header file %s\n"},
      {"range8bit", [](auto& b) { SetI16(b, 72, 8); SetI32(b, 144, 0); SetI32(b, 140, -1); }, 0, true, ""},
  };
  TempFolder dir;
  ASSERT_EQ(write_header(dir.file("good"), Info(16, 64, 32, 8), "", Range(0, 65535)), 0);
  const std::vector<uint8_t> good = ReadFileBytes(dir.file("good.hdr"));
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.edit(bytes);
    const std::string name = dir.file(std::string(c.name) + ".hdr");
    WriteFileBytes(name, bytes);
    ImageFileHandle handle;
    AnalyzeImageInfo info;
    AnalyzeRange range;
    testing::internal::CaptureStderr();
    open_header(name, handle, info, range);
    std::string err = MaskSourceLines(testing::internal::GetCapturedStderr());
    std::string expected = c.messages;
    for (size_t at; (at = expected.find("%s")) != std::string::npos;) expected.replace(at, 2, name);
    EXPECT_EQ(handle.status, c.status) << c.name;
    EXPECT_EQ(handle.header != nullptr, c.staysOpen) << c.name;
    EXPECT_EQ(err, expected) << c.name;
    if (c.status == 205) {
      EXPECT_EQ(info.xDim, 64) << "absolute value of a negative extent";
    }
    CloseImageFile(handle);
  }
}

TEST(AnalyzeHeaderTest, OpenHeaderReportsAMissingFile) {
  TempFolder dir;
  ImageFileHandle handle;
  AnalyzeImageInfo info;
  AnalyzeRange range;
  testing::internal::CaptureStderr();
  open_header(dir.file("none.img"), handle, info, range);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(handle.status, kAnalyzeTestOpenFailed);
  EXPECT_EQ(handle.header, nullptr);
  EXPECT_EQ(MaskSourceLines(err), "P: unable to open input file " + dir.file("none.hdr") + "\n");
}
