#include "volume/AnalyzeVolume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "TestSupport.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/VolumeFileNames.h"

namespace fs = std::filesystem;

namespace {

const char* kHippocampus = "/work/shared/data/hippocampus/train/hippocampus_001";

// 16-bit voxel value at (z, y, x); below 32768 so no halving applies.
short Value16(int z, int y, int x) { return static_cast<short>(x * 1000 + y * 100 + z * 7 + 300); }

HeapMatrix3D<short> Coded16(int d0, int d1, int d2) {
  HeapMatrix3D<short> v;
  v.SetSize(d0, d1, d2);
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) v[z][y][x] = Value16(z, y, x);
  return v;
}

void ExpectCoded16(const HeapMatrix3D<short>& v, int d0, int d1, int d2) {
  ASSERT_EQ(v.dim0(), d0);
  ASSERT_EQ(v.dim1(), d1);
  ASSERT_EQ(v.dim2(), d2);
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) ASSERT_EQ(v(z, y, x), Value16(z, y, x)) << z << " " << y << " " << x;
}

// Writes a little-endian 16-bit pair "<stem>.hdr" / "<stem>.img" holding `values`
// (x fastest) with extents x, y, z.
void WritePair16(const std::string& stem, int x, int y, int z, const std::vector<uint16_t>& values) {
  AnalyzeImageInfo info;
  info.bits = 16;
  info.xDim = x;
  info.yDim = y;
  info.zDim = z;
  info.xVoxel = info.yVoxel = info.zVoxel = 1.0;
  AnalyzeRange range;
  range.glmax = 32767;
  ASSERT_EQ(write_header(stem + ".hdr", info, "", range), 0);
  std::vector<uint8_t> bytes(values.size() * 2);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  WriteFileBytes(stem + ".img", bytes);
}

void SetI16(const std::string& path, int at, int16_t v) {
  std::vector<uint8_t> b = ReadFileBytes(path);
  std::memcpy(b.data() + at, &v, 2);
  WriteFileBytes(path, b);
}


}  // namespace

TEST(AnalyzeVolumeTest, NibabelReadsOurSixteenBitPair) {
  TempFolder dir;
  ASSERT_TRUE(MakeFolder(dir.file("out")));
  const HeapMatrix3D<short> v = Coded16(3, 4, 5);
  ASSERT_EQ(WriteAnalyze16(dir.file("out/res.img"), v), 1);
  EXPECT_EQ(ReadFileBytes(dir.file("out/res.hdr")).size(), 348u);
  EXPECT_EQ(ReadFileBytes(dir.file("out/res.img")).size(), 3u * 4 * 5 * 2);

  const char* script = R"(
import sys
import numpy as np
import nibabel as nib
img = nib.load(sys.argv[1])
h = img.header
assert int(h['sizeof_hdr']) == 348
assert int(h['datatype']) == 4 and int(h['bitpix']) == 16
assert [int(d) for d in h['dim'][:5]] == [4, 5, 4, 3, 1], h['dim']
assert [float(p) for p in h['pixdim'][1:4]] == [1.0, 1.0, 1.0]
data = np.asanyarray(img.dataobj).reshape(5, 4, 3)
x, y, z = np.indices((5, 4, 3))
assert (data == x * 1000 + y * 100 + z * 7 + 300).all()
print(int(h['glmin']), int(h['glmax']))
print(h['descrip'].item().decode())
)";
  ProcessResult r = RunPython(script, {dir.file("out/res.hdr")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string descrip = dir.file("out\\res.a");
  for (char& c : descrip)
    if (c == '/') c = '\\';
  EXPECT_EQ(r.out, "0 65535\n" + descrip.substr(0, 79) + "\n");

  // It reads back without warnings.
  HeapMatrix3D<short> back;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ReadAnalyze(dir.file("out/res.img"), back));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ExpectCoded16(back, 3, 4, 5);
}

TEST(AnalyzeVolumeTest, WeReadNibabelPairsOfBothByteOrders) {
  TempFolder dir;
  const char* script = R"(
import sys
import numpy as np
import nibabel as nib
d = sys.argv[1]
x, y, z = np.indices((5, 4, 3))
for name, dtype, endian in [('u8', 'u1', '<'), ('le16', '<i2', '<'), ('be16', '>i2', '>')]:
    data = (x * 40 + y * 10 + z) if dtype == 'u1' else (x * 1000 + y * 100 + z * 7 + 300)
    hdr = nib.AnalyzeHeader(endianness=endian)
    hdr.set_data_dtype(dtype)
    hdr.set_data_shape((5, 4, 3))
    hdr.set_zooms((1.0, 2.0, 3.0))
    nib.save(nib.AnalyzeImage(data.astype(dtype), None, hdr), d + '/' + name + '.img')
print('ok')
)";
  ProcessResult r = RunPython(script, {dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(ReadFileBytes(dir.file("be16.hdr"))[3], 0x5c) << "not big-endian";

  for (const char* name : {"le16.img", "be16.hdr"}) {
    HeapMatrix3D<short> v;
    ASSERT_TRUE(ReadAnalyze(dir.file(name), v)) << name;
    ExpectCoded16(v, 3, 4, 5);
  }
  HeapMatrix3D<short> bytes;
  ASSERT_TRUE(ReadAnalyze(dir.file("u8"), bytes));
  ASSERT_EQ(bytes.dim0(), 3);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(bytes(z, y, x), x * 40 + y * 10 + z);
}

TEST(AnalyzeVolumeTest, ReadsTheHippocampusPairsLikeNibabel) {
  TempFolder dir;
  for (const char* kind : {"brain", "label"}) {
    const std::string stem = std::string(kHippocampus) + "." + kind;
    HeapMatrix3D<short> v;
    ASSERT_TRUE(ReadAnalyze(stem + ".hdr", v)) << kind;
    EXPECT_EQ(v.dim0(), 40);
    EXPECT_EQ(v.dim1(), 54);
    EXPECT_EQ(v.dim2(), 35);
    ASSERT_TRUE(v.SaveRaw(dir.file(std::string(kind) + ".raw")));
  }
  const char* script = R"(
import sys
import numpy as np
import nibabel as nib
stem, d = sys.argv[1], sys.argv[2]
for kind in ('brain', 'label'):
    want = np.asanyarray(nib.load(stem + '.' + kind + '.hdr').dataobj).reshape(35, 54, 40).transpose(2, 1, 0)
    raw = open(d + '/' + kind + '.raw', 'rb').read()
    assert list(np.frombuffer(raw[:12], '<i4')) == [40, 54, 35]
    ours = np.frombuffer(raw[12:], '<i2').reshape(40, 54, 35)
    assert (ours == want).all(), kind
print('ok')
)";
  ProcessResult r = RunPython(script, {kHippocampus, dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

TEST(AnalyzeVolumeTest, LargeUnsignedValuesHalveTheWholeVolume) {
  const struct {
    std::vector<uint16_t> stored;
    std::vector<short> read;
  } cases[] = {
      {{32767, 1000, 3}, {32767, 1000, 3}},
      {{40000, 1000, 3}, {20000, 500, 1}},
      {{65534, 1000, 3}, {32767, 500, 1}},  // -2 as a signed value
  };
  TempFolder dir;
  for (const auto& c : cases) {
    WritePair16(dir.file("h"), 3, 1, 1, c.stored);
    HeapMatrix3D<short> v;
    ASSERT_TRUE(ReadAnalyze(dir.file("h.img"), v));
    for (int x = 0; x < 3; ++x) EXPECT_EQ(v(0, 0, x), c.read[x]) << c.stored[0];
  }
}

// The exit paths of the reader, through a child process: status and both streams.
TEST(AnalyzeVolumeTest, ReaderExitPathsThroughTheTool) {
  using Edit = std::function<void(const std::string& stem)>;
  const struct {
    const char* name;
    Edit edit;
    int status;
    const char* out;  // "%s" is the stem
    const char* err;  // "%s" is the stem
  } cases[] = {
      {"good", [](const std::string&) {}, 0, "2 3 4\n", ""},
      {"short", [](const std::string& s) { auto b = ReadFileBytes(s + ".hdr"); b.pop_back(); WriteFileBytes(s + ".hdr", b); },
       1, "", "P: failed to read data from file %s.hdr\n"},
      {"long", [](const std::string& s) { auto b = ReadFileBytes(s + ".hdr"); b.push_back(1); WriteFileBytes(s + ".hdr", b); },
       1, "", "P: more data than expected was found in file %s.hdr\n"},
      {"bits32", [](const std::string& s) { SetI16(s + ".hdr", 72, 32); }, 1, "",
       "P: cannot read 32 bit/pixel data from file %s.hdr\n"},
      {"nohdr", [](const std::string& s) { DeleteFileAt(s + ".hdr"); }, 1, "", "P: unable to open input file %s.hdr\n"},
      {"negdim", [](const std::string& s) { SetI16(s + ".hdr", 42, -4); }, 0,
       "WARNING: Illegal dimension\nWARNING: Note illegal values\n2 3 4\n",
       "P: invalid dimensions less than or equal to zero in header file %s.hdr\n"},
      {"zerovox", [](const std::string& s) { SetI16(s + ".hdr", 82, 0); SetI16(s + ".hdr", 80, 0); }, 0,
       "WARNING: Illegal voxel size\nWARNING: Note illegal values\n2 3 4\n",
       "P: invalid voxel sizes less than or equal to zero in header file %s.hdr\n"},
      {"zerodim", [](const std::string& s) { SetI16(s + ".hdr", 44, 0); }, 1,
       "WARNING: Illegal dimension\nWARNING: Note illegal values\n"
       "Can not read %s.img: its header's extents 4 x 0 x 2 hold no voxel\n",
       "P: invalid dimensions less than or equal to zero in header file %s.hdr\ncannot read volume %s.img\n"},
      {"noimg", [](const std::string& s) { DeleteFileAt(s + ".img"); }, 1, "File open error!",
       "cannot read volume %s.img\n"},
      {"shortimg", [](const std::string& s) { auto b = ReadFileBytes(s + ".img"); b.pop_back(); WriteFileBytes(s + ".img", b); },
       1, "file read error\n", "cannot read volume %s.img\n"},
      {"forged", [](const std::string& s) { for (int at : {42, 44, 46}) SetI16(s + ".hdr", at, 30000); }, 1,
       "file read error\n", "cannot read volume %s.img\n"},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    const std::string stem = dir.file(c.name);
    std::vector<uint16_t> values(24);
    for (int i = 0; i < 24; ++i) values[i] = static_cast<uint16_t>(i * 11);
    WritePair16(stem, 4, 3, 2, values);
    c.edit(stem);
    ProcessResult r = RunProcess({VOLUME_TOOL, "read", stem + ".img"});
    std::string out = c.out, err = c.err;
    for (size_t at; (at = out.find("%s")) != std::string::npos;) out.replace(at, 2, stem);
    for (size_t at; (at = err.find("%s")) != std::string::npos;) err.replace(at, 2, stem);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, out) << c.name;
    EXPECT_EQ(MaskSourceLines(r.err), err) << c.name;
  }
}

TEST(AnalyzeVolumeTest, FoldersInPlaceOfFilesAreRefusedWithOneLine) {
  // A folder opens like a file and reports a huge size: each reader refuses it.
  const struct {
    const char* name;
    const char* folder;  // made in place of this file of the pair
    const char* read;    // the name given to the tool
    const char* out;     // "%s" is the temporary folder
    const char* err;
  } cases[] = {
      {"voxel file", "a.img", "a.img", "Not a regular file: %s/a.img\n", "cannot read volume %s/a.img\n"},
      {"header", "b.hdr", "b.img", "", "P: unable to open input file %s/b.hdr\n"},
      {"volume file", "c.3dm", "c.3dm", "Not a regular file: %s/c.3dm\n", "cannot read volume %s/c.3dm\n"},
  };
  TempFolder dir;
  auto fill = [&dir](std::string text) {
    for (size_t at; (at = text.find("%s/")) != std::string::npos;) text.replace(at, 3, dir.file(""));
    return text;
  };
  for (const auto& c : cases) {
    const std::string stem = dir.file(std::string(c.folder).substr(0, 1));
    WritePair16(stem, 2, 1, 1, {1, 2});
    DeleteFileAt(dir.file(c.folder));
    ASSERT_TRUE(MakeFolder(dir.file(c.folder))) << c.name;
    ProcessResult r = RunProcess({VOLUME_TOOL, "read", dir.file(c.read)});
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, fill(c.out)) << c.name;
    EXPECT_EQ(MaskSourceLines(r.err), fill(c.err)) << c.name;
  }
}

TEST(AnalyzeVolumeTest, ExtentsBeyondTheSixteenBitHeaderAreNotWritten) {
  TempFolder dir;
  HeapMatrix3D<short> v;
  v.SetSize(1, 40000, 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteAnalyze16(dir.file("wide.img"), v), 0);
  // The header is named as the writer formats it (backslash before the base name).
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Can not write " + volume_names::SplitForWriting(dir.file("wide.img")).With(".hdr") +
                ": extent 40000 outside 0..32767\n");
  EXPECT_FALSE(PathExists(dir.file("wide.hdr")));
  EXPECT_FALSE(PathExists(dir.file("wide.img")));

  // The limit itself is written and reads back.
  v.SetSize(1, 1, 32767);
  v[0][0][32766] = 9;
  ASSERT_EQ(WriteAnalyze16(dir.file("widest.img"), v), 1);
  HeapMatrix3D<short> back;
  ASSERT_TRUE(ReadAnalyze(dir.file("widest.img"), back));
  EXPECT_EQ(back.dim2(), 32767);
  EXPECT_EQ(back(0, 0, 32766), 9);
}

TEST(AnalyzeVolumeTest, NameRulesOfReadingAndWriting) {
  TempFolder dir;
  ASSERT_TRUE(MakeFolder(dir.file("d.x")));
  const HeapMatrix3D<short> v = Coded16(2, 3, 4);
  ASSERT_EQ(WriteAnalyze16(dir.file("d.x/b.img"), v), 1);
  // The pair is found from either file name, and from the name without extension,
  // also inside a folder whose name holds a '.'.
  for (const char* name : {"d.x/b.img", "d.x/b.hdr", "d.x/b"}) {
    HeapMatrix3D<short> back;
    EXPECT_TRUE(ReadAnalyze(dir.file(name), back)) << name;
    ExpectCoded16(back, 2, 3, 4);
  }
  // ReadVolume compares the extension exactly and reports only what it read.
  HeapMatrix3D<short> held = Coded16(1, 1, 2);
  EXPECT_FALSE(ReadVolume(dir.file("d.x/b.HDR"), held));
  EXPECT_FALSE(ReadVolume(dir.file("d.x/b.nii"), held));
  EXPECT_EQ(held.NumElements(), 2);
  EXPECT_TRUE(ReadVolume(dir.file("d.x/b.hdr"), held));
  ExpectCoded16(held, 2, 3, 4);
  ASSERT_TRUE(v.Save(dir.file("v.3dm")));
  HeapMatrix3D<short> fromFile;
  EXPECT_TRUE(ReadVolume(dir.file("v.3dm"), fromFile));
  ExpectCoded16(fromFile, 2, 3, 4);
  EXPECT_FALSE(ReadVolume(dir.file("missing.3dm"), fromFile));

  // A voxel file that fails to read leaves no older volume behind.
  WriteFileBytes(dir.file("d.x/b.img"), {1, 2, 3});
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ReadAnalyze(dir.file("d.x/b.img"), held));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "file read error\n");
  EXPECT_EQ(held.NumElements(), 0);

  // A name without a folder is written into the working folder.
  ASSERT_TRUE(MakeFolder(dir.file("work")));
  ProcessResult r = RunProcess({VOLUME_TOOL, "write16", dir.file("v.3dm"), "plain.img"}, dir.file("work"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir.file("work/plain.hdr")).size(), 348u);
  EXPECT_EQ(ReadFileBytes(dir.file("work/plain.img")).size(), 48u);
  EXPECT_FALSE(PathExists("/plain.hdr"));

  // A folder that does not exist: the header layer says so and the write fails.
  testing::internal::CaptureStderr();
  EXPECT_EQ(WriteAnalyze16(dir.file("none/x.img"), v), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open file"), std::string::npos);
}

TEST(AnalyzeVolumeTest, NamesWithBlanksAreTheirOwnFiles) {
  // "res .img" and " d/res.img" are other files than "res.img" and "d/res.img": writing
  // and reading them leaves the blank-less pairs as they were.
  TempFolder dir;
  ASSERT_TRUE(MakeFolder(dir.file("d")));
  ASSERT_TRUE(MakeFolder(dir.file(" d")));
  const HeapMatrix3D<short> kept = Coded16(1, 1, 2), other = Coded16(2, 3, 4);
  for (const char* plain : {"res.img", "d/res.img"}) ASSERT_EQ(WriteAnalyze16(dir.file(plain), kept), 1);
  for (const char* blank : {"res .img", " d/res.img", "d/ res.img"}) {
    ASSERT_EQ(WriteAnalyze16(dir.file(blank), other), 1) << blank;
    HeapMatrix3D<short> back;
    EXPECT_TRUE(ReadAnalyze(dir.file(blank), back)) << blank;
    ExpectCoded16(back, 2, 3, 4);
  }
  EXPECT_TRUE(PathExists(dir.file("res .hdr")));
  EXPECT_TRUE(PathExists(dir.file(" d/res.hdr")));
  EXPECT_TRUE(PathExists(dir.file("d/ res.hdr")));
  for (const char* plain : {"res.img", "d/res.img"}) {
    HeapMatrix3D<short> back;
    EXPECT_TRUE(ReadAnalyze(dir.file(plain), back)) << plain;
    ExpectCoded16(back, 1, 1, 2);
  }
}

TEST(AnalyzeVolumeTest, WriteVolumeByExtension) {
  TempFolder dir;
  HeapMatrix3D<unsigned char> labels;
  labels.SetSize(2, 2, 3);
  for (int i = 0; i < 12; ++i) labels[i / 6][i / 3 % 2][i % 3] = static_cast<unsigned char>(i * 20);

  ASSERT_TRUE(WriteVolume(dir.file("l.3dm"), labels));
  HeapMatrix3D<unsigned char> back;
  ASSERT_TRUE(back.Load(dir.file("l.3dm")));
  EXPECT_EQ(back(1, 1, 2), 220);

  ASSERT_TRUE(WriteVolume(dir.file("l.img"), labels));  // widened to 16 bits
  EXPECT_EQ(ReadFileBytes(dir.file("l.img")).size(), 24u);
  HeapMatrix3D<short> wide;
  ASSERT_TRUE(ReadVolume(dir.file("l.hdr"), wide));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(wide(i / 6, i / 3 % 2, i % 3), i * 20);

  EXPECT_FALSE(WriteVolume(dir.file("l.tif"), labels));
  EXPECT_FALSE(PathExists(dir.file("l.tif")));
  EXPECT_FALSE(WriteVolume(dir.file("e.3dm"), HeapMatrix3D<unsigned char>()));

  // Through the tool: status and message of a write that cannot be done.
  ProcessResult ok = RunProcess({VOLUME_TOOL, "write8", dir.file("l.3dm"), dir.file("t.img")});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ReadFileBytes(dir.file("t.img")), ReadFileBytes(dir.file("l.img")));
  ProcessResult bad = RunProcess({VOLUME_TOOL, "write8", dir.file("l.3dm"), dir.file("t.nii")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "cannot write volume " + dir.file("t.nii") + "\n");
}

TEST(AnalyzeVolumeTest, WriteVolumeLeavesWholeFilesOrNothingUnderTheOutputsNames) {
  // The files come into place under temporary names; what stands under the output's
  // names afterwards holds the bytes the direct writers give for that name (the header
  // records the output's own name), and nothing else is left in the folder.
  TempFolder dir;
  auto listing = [&](const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.file(folder))) names.insert(e.path().filename().string());
    return names;
  };
  HeapMatrix3D<unsigned char> labels, other;
  labels.SetSize(2, 2, 3);
  for (int i = 0; i < 12; ++i) labels[i / 6][i / 3 % 2][i % 3] = static_cast<unsigned char>(i * 20);
  other.SetSize(1, 2, 2);
  other.Fill(5);
  ASSERT_TRUE(MakeFolder(dir.file("w")));
  ASSERT_EQ(WriteAnalyzeVolume(dir.file("w/l.img"), labels), 1);
  ASSERT_TRUE(labels.Save(dir.file("w/l.3dm")));
  const std::vector<uint8_t> header = ReadFileBytes(dir.file("w/l.hdr")), voxels = ReadFileBytes(dir.file("w/l.img")),
                             volumeFile = ReadFileBytes(dir.file("w/l.3dm"));
  fs::remove_all(dir.file("w"));
  for (const char* name : {"l.img", "l.hdr", "l.3dm"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(MakeFolder(dir.file("w")));
    // An older output of other extents under the same name is replaced.
    ASSERT_TRUE(WriteVolume(dir.file("w") + "\\" + name, other));
    ASSERT_TRUE(WriteVolume(dir.file("w") + "\\" + name, labels));
    if (std::string(name) == "l.3dm") {
      EXPECT_EQ(listing("w"), (std::set<std::string>{"l.3dm"}));
      EXPECT_TRUE(ReadFileBytes(dir.file("w/l.3dm")) == volumeFile);
    } else {
      EXPECT_EQ(listing("w"), (std::set<std::string>{"l.hdr", "l.img"}));
      EXPECT_TRUE(ReadFileBytes(dir.file("w/l.hdr")) == header);
      EXPECT_TRUE(ReadFileBytes(dir.file("w/l.img")) == voxels);
    }
    fs::remove_all(dir.file("w"));
  }

  // A folder where a file of the output belongs: the write fails and leaves the folder
  // as it was, without a temporary file or the other file of the pair. The header comes
  // last, so an older header is gone once the voxel file could not take its name: no
  // header stands beside voxels it does not describe.
  for (const char* blocked : {"x.hdr", "x.img", "x.3dm"}) {
    SCOPED_TRACE(blocked);
    ASSERT_TRUE(MakeFolder(dir.file("f/") + blocked));
    if (std::string(blocked) == "x.img") WriteFileText(dir.file("f/x.hdr"), "an older header");
    const std::string output = std::string(blocked) == "x.3dm" ? "f/x.3dm" : "f/x.img";
    EXPECT_FALSE(WriteVolume(dir.file(output), labels));
    EXPECT_EQ(listing("f"), (std::set<std::string>{blocked}));
    fs::remove_all(dir.file("f"));
  }
  // An extent the layout cannot hold: the message names the output, not a temporary.
  HeapMatrix3D<unsigned char> wide;
  wide.SetSize(1, 1, 40000);
  ASSERT_TRUE(MakeFolder(dir.file("f")));
  // The pair's names are spelt with backslashes only, the volume file's as given.
  auto backslashed = [](std::string text) {
    for (char& ch : text) ch = ch == '/' ? '\\' : ch;
    return text;
  };
  const struct {
    const char* name;
    std::string message;
  } tooWide[] = {
      {"f\\w.3dm", "Can not write " + dir.file("f\\w.3dm") + ": extent 40000 exceeds 32767\n"},
      {"f\\w.img", "Can not write " + backslashed(dir.file("f\\w.hdr")) + ": extent 40000 outside 0..32767\n"},
  };
  for (const auto& c : tooWide) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteVolume(dir.file(c.name), wide)) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_TRUE(fs::is_empty(dir.file("f"))) << c.name;
  }

  // A folder path under a regular file: nothing can be created there.
  WriteFileText(dir.file("plain"), "x");
  EXPECT_FALSE(WriteVolume(dir.file("plain/x.img"), labels));
  EXPECT_EQ(ReadFileText(dir.file("plain")), "x");
}

TEST(AnalyzeVolumeTest, AnOutputNameAsLongAsTheFolderTakesIsWritten) {
  // 250 bytes: the temporaries' names beside it are cut to fit the folder's limit of 255;
  // the files under the output's names hold what the direct writers give for that name.
  TempFolder dir;
  HeapMatrix3D<unsigned char> labels;
  labels.SetSize(2, 2, 3);
  for (int i = 0; i < 12; ++i) labels[i / 6][i / 3 % 2][i % 3] = static_cast<unsigned char>(i * 20);
  ASSERT_TRUE(labels.Save(dir.file("labels.3dm")));
  std::string accented;
  for (int i = 0; i < 123; ++i) accented += "\xC3\xA9";  // 246 bytes of two-byte characters
  for (const std::string& base : {std::string(246, 'n'), accented}) {
    for (const char* ext : {".img", ".3dm"}) {
      const std::string name = base + ext;
      SCOPED_TRACE(name);
      ASSERT_TRUE(MakeFolder(dir.file("w")));
      std::set<std::string> files;
      if (std::string(ext) == ".img") {
        ASSERT_EQ(WriteAnalyzeVolume(dir.file("w/" + name), labels), 1);
        files = {base + ".hdr", base + ".img"};
      } else {
        ASSERT_TRUE(labels.Save(dir.file("w/" + name)));
        files = {name};
      }
      std::map<std::string, std::vector<uint8_t>> direct;
      for (const std::string& file : files) direct[file] = ReadFileBytes(dir.file("w/" + file));
      fs::remove_all(dir.file("w"));
      ASSERT_TRUE(MakeFolder(dir.file("w")));

      const ProcessResult r = RunProcess({VOLUME_TOOL, "write8", dir.file("labels.3dm"), dir.file("w/" + name)});
      EXPECT_EQ(r.status, 0) << r.err;
      std::set<std::string> written;
      for (const auto& e : fs::directory_iterator(dir.file("w"))) written.insert(e.path().filename().string());
      EXPECT_EQ(written, files);
      for (const std::string& file : files) EXPECT_TRUE(ReadFileBytes(dir.file("w/" + file)) == direct[file]) << file;
      fs::remove_all(dir.file("w"));
    }
  }
}

TEST(AnalyzeVolumeTest, WriteAnalyzeKeepsTheLowByteBelowSixteenBits) {
  TempFolder dir;
  HeapMatrix3D<short> v;
  v.SetSize(1, 1, 3);
  v[0][0][0] = 300;
  v[0][0][1] = -1;
  v[0][0][2] = 7;
  AnalyzeImageInfo info;
  info.bits = 8;
  info.xDim = 3;
  info.yDim = info.zDim = 1;
  info.xVoxel = info.yVoxel = info.zVoxel = 1.0;
  ASSERT_EQ(WriteAnalyze(dir.file("b.img"), info, AnalyzeRange(), v), 1);
  EXPECT_EQ(ToHex(ReadFileBytes(dir.file("b.img"))), "2cff07");
  HeapMatrix3D<short> back;
  ASSERT_TRUE(ReadAnalyze(dir.file("b.hdr"), back));
  EXPECT_EQ(back(0, 0, 0), 44);
  EXPECT_EQ(back(0, 0, 1), 255);
}
