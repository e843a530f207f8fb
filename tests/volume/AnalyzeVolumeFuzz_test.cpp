// Fuzz run of the Analyze pair reader on pairs written to a scratch folder and read in
// this process. Three good pairs (16-bit little-endian, 16-bit big-endian with values
// that halve, 8-bit) get header bytes and the voxel file's length mutated: first every
// byte of the header is set to a few values in turn, then random edits (a fixed seed, so
// every run sees the same inputs; the sanitizer build runs them too). For a longer run
// (the random inputs and their seed; the sweep of the header bytes runs once):
//   SEGMENTER_FUZZ_ITERATIONS=3000000 SEGMENTER_FUZZ_SEED=5 build/release/tests/volume/volume_tests
//     --gtest_filter='AnalyzeVolumeFuzz*'
//
// The header layer decides first, as ReadAnalyze does: a status that ends the program
// there is a refusal, and one that ends it in this process cannot be read. A header it
// accepts (also with the warnings of an illegal extent or voxel size) is read with
// ReadAnalyze, which must never crash and must either refuse (false, an empty volume)
// or give the volume the header describes, voxel for voxel. A decoder of the header
// written below from the file layout says which outcome each input has.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../models/TextMutator.h"
#include "TestSupport.h"
#include "img/AnalyzeHeader.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Multi-byte fields in the header's byte order.
void Put(Bytes& b, size_t at, uint64_t v, int width, bool big) {
  for (int i = 0; i < width; ++i) b[at + (big ? width - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t Get(const Bytes& b, size_t at, int width, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(b[at + (big ? width - 1 - i : i)]) << (8 * i);
  return v;
}
int I16(const Bytes& b, size_t at, bool big) { return static_cast<int16_t>(Get(b, at, 2, big)); }
int I32(const Bytes& b, size_t at, bool big) { return static_cast<int32_t>(Get(b, at, 4, big)); }
float F32(const Bytes& b, size_t at, bool big) {
  const uint32_t bits = static_cast<uint32_t>(Get(b, at, 4, big));
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

struct Pair {
  Bytes hdr, img;
};

// A good pair of x * y * z voxels with value(i) for voxel i of the file.
Pair GoodPair(bool big, int bits, int x, int y, int z, uint32_t (*value)(int)) {
  Pair p;
  p.hdr.assign(kAnalyzeHeaderSize, 0);
  Put(p.hdr, 0, 348, 4, big);
  Put(p.hdr, 32, 16384, 4, big);
  p.hdr[38] = 'r';
  const int dims[5] = {4, x, y, z, 1};
  for (int i = 0; i < 5; ++i) Put(p.hdr, 40 + 2 * i, static_cast<uint16_t>(dims[i]), 2, big);
  Put(p.hdr, 70, bits == 8 ? 2 : 4, 2, big);
  Put(p.hdr, 72, static_cast<uint16_t>(bits), 2, big);
  const float sizes[3] = {1.0f, 2.0f, 0.5f};
  for (int i = 0; i < 3; ++i) {
    uint32_t raw;
    std::memcpy(&raw, &sizes[i], 4);
    Put(p.hdr, 80 + 4 * i, raw, 4, big);
  }
  Put(p.hdr, 140, 65535, 4, big);  // glmax
  const int bytes = bits == 8 ? 1 : 2;
  for (int i = 0; i < x * y * z; ++i) {
    p.img.resize(p.img.size() + bytes);
    Put(p.img, p.img.size() - bytes, value(i), bytes, big);
  }
  return p;
}

// What the reader must make of a pair.
struct Expected {
  int headerStatus = 0;  // of open_header: 0, the warnings 205 and 208, or a refusal
  bool read = false;     // ReadAnalyze gives a volume
  bool big = false;
  int bits = 0, x = 0, y = 0, z = 0;
  int64_t needed = 0;  // bytes of voxels the header's extents describe
};

Expected Decode(const Bytes& hdr, size_t imgBytes) {
  Expected e;
  if (hdr.size() != static_cast<size_t>(kAnalyzeHeaderSize)) {
    e.headerStatus = kAnalyzeBadHeaderLength;
    return e;
  }
  if (I32(hdr, 0, false) == 348) {
    e.big = false;
  } else if (I32(hdr, 0, true) == 348) {
    e.big = true;
  } else {
    e.headerStatus = kAnalyzeBadSizeofHdr;
    return e;
  }
  e.bits = I16(hdr, 72, e.big);
  if (e.bits != 1 && e.bits != 8 && e.bits != 16) {
    e.headerStatus = kAnalyzeBadBitpix;
    return e;
  }
  const int glmax = I32(hdr, 140, e.big), glmin = I32(hdr, 144, e.big);
  if (e.bits == 16 && ((glmin >= 0 && glmax < 0) || (glmin < 0 && glmax <= -32768))) {
    e.headerStatus = kAnalyzeBadRange;
    return e;
  }
  const int dims[3] = {I16(hdr, 42, e.big), I16(hdr, 44, e.big), I16(hdr, 46, e.big)};
  bool sizesPositive = true;
  for (int i = 0; i < 3; ++i) sizesPositive = sizesPositive && F32(hdr, 80 + 4 * i, e.big) > 0.0f;
  if (!sizesPositive) {
    e.headerStatus = kAnalyzeBadVoxelSize;
  } else if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) {
    e.headerStatus = kAnalyzeBadDimensions;
  }
  e.x = std::abs(dims[0]);
  e.y = std::abs(dims[1]);
  e.z = std::abs(dims[2]);
  e.needed = static_cast<int64_t>(e.x) * e.y * e.z * (e.bits == 8 ? 1 : 2);
  e.read = e.needed > 0 && static_cast<int64_t>(imgBytes) >= e.needed;
  return e;
}

// The voxel the file holds at (z, y, x), as the layout and the halving rule give it.
std::vector<short> FileVoxels(const Expected& e, const Bytes& img) {
  const int64_t n = static_cast<int64_t>(e.x) * e.y * e.z;
  std::vector<uint32_t> values(static_cast<size_t>(n));
  uint32_t largest = 0;
  for (int64_t i = 0; i < n; ++i) {
    values[i] = e.bits == 8 ? img[i] : static_cast<uint32_t>(Get(img, 2 * i, 2, e.big));
    largest = std::max(largest, values[i]);
  }
  std::vector<short> voxels(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    voxels[i] = static_cast<short>(e.bits != 8 && largest > 32767 ? values[i] >> 1 : values[i]);
  return voxels;
}

// Standard output and error go to /dev/null while it lives: the reader's messages of
// thousands of inputs would bury the test's own.
class QuietStreams {
 public:
  QuietStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    out_ = dup(1);
    err_ = dup(2);
    std::FILE* null = std::fopen("/dev/null", "w");
    dup2(fileno(null), 1);
    dup2(fileno(null), 2);
    std::fclose(null);
  }
  ~QuietStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out_, 1);
    dup2(err_, 2);
    close(out_);
    close(err_);
  }

 private:
  int out_, err_;
};

// The pair's folder: in memory under /dev/shm where there is one (each input writes
// two files), else a test folder of the build tree.
class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/dev/shm/segmenter-fuzz-XXXXXX";
    if (mkdtemp(name) != nullptr) {
      path_ = name;
    } else {
      fallback_ = std::make_unique<TempFolder>();
      path_ = fallback_->path();
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!fallback_) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::unique_ptr<TempFolder> fallback_;
  std::string path_;
};

class PairFuzz {
 public:
  explicit PairFuzz(const std::string& stem) : stem_(stem) {}

  // Writes and reads one pair; an empty text when the outcome is the decoded one.
  std::string Check(const Pair& p) {
    WriteFileBytes(stem_ + ".hdr", p.hdr);
    WriteFileBytes(stem_ + ".img", p.img);
    const Expected e = Decode(p.hdr, p.img.size());
    ImageFileHandle handle;
    AnalyzeImageInfo info;
    AnalyzeRange range;
    open_header(stem_ + ".hdr", handle, info, range);
    const int status = handle.status;
    CloseImageFile(handle);
    if (handle.status != kAnalyzeOk) return "the header did not close";
    if (status != e.headerStatus)
      return "header status " + std::to_string(status) + ", decoded " + std::to_string(e.headerStatus);
    if (status != kAnalyzeOk && status != kAnalyzeBadDimensions && status != kAnalyzeBadVoxelSize) {
      ++refusedByHeader;
      return "";
    }
    HeapMatrix3D<short> volume;
    volume.SetSize(1, 1, 2);  // an older volume must not count as read
    const bool read = ReadAnalyze(stem_ + ".img", volume);
    if (read != e.read) return std::string("read ") + (read ? "a volume" : "nothing") + " against the decoding";
    if (!read) {
      ++refusedByReader;
      return volume.NumElements() == 0 ? "" : "a refused pair left voxels";
    }
    ++readWhole;
    if (volume.dim0() != e.z || volume.dim1() != e.y || volume.dim2() != e.x)
      return "extents " + std::to_string(volume.dim2()) + " x " + std::to_string(volume.dim1()) + " x " +
             std::to_string(volume.dim0());
    const std::vector<short> want = FileVoxels(e, p.img);
    size_t i = 0;
    for (int z = 0; z < e.z; ++z)
      for (int y = 0; y < e.y; ++y)
        for (int x = 0; x < e.x; ++x, ++i)
          if (volume(z, y, x) != want[i]) return "voxel " + std::to_string(i);
    return "";
  }

  int refusedByHeader = 0, refusedByReader = 0, readWhole = 0;

 private:
  std::string stem_;
};

std::vector<Pair> Seeds() {
  return {GoodPair(false, 16, 4, 3, 2, [](int i) { return static_cast<uint32_t>(i * 1000); }),
          GoodPair(true, 16, 3, 2, 2, [](int i) { return static_cast<uint32_t>(i * 5000 + 7); }),  // halves
          GoodPair(false, 8, 5, 2, 3, [](int i) { return static_cast<uint32_t>(i * 9); })};
}

// Offsets of the fields the reader looks at; random edits favour them.
const std::vector<size_t>& FieldBytes() {
  static const std::vector<size_t> offsets = [] {
    std::vector<size_t> v;
    for (size_t at : {0, 32, 80, 84, 88, 140, 144})
      for (size_t k = 0; k < 4; ++k) v.push_back(at + k);
    for (size_t at = 40; at < 50; ++at) v.push_back(at);
    for (size_t at = 70; at < 74; ++at) v.push_back(at);
    return v;
  }();
  return offsets;
}

// One to four header edits, sometimes a header of another length, and a voxel file of
// the length the header needs, one byte less, or another length.
Pair Mutate(const Pair& seed, TextMutator& random) {
  Pair p = seed;
  static const uint8_t kSpecial[] = {0x00, 0xff, 0x80, 0x7f, 0x01};
  const int edits = 1 + static_cast<int>(random.Below(4));
  for (int k = 0; k < edits; ++k) {
    const size_t at = random.Below(2) ? FieldBytes()[random.Below(FieldBytes().size())] : random.Below(p.hdr.size());
    switch (random.Below(4)) {
      case 0:
        p.hdr[at] = kSpecial[random.Below(sizeof kSpecial)];
        break;
      case 1:
        p.hdr[at] ^= static_cast<uint8_t>(1u << random.Below(8));
        break;
      default:
        p.hdr[at] = static_cast<uint8_t>(random.Next());
        break;
    }
  }
  if (random.Below(32) == 0) p.hdr.resize(random.Below(2) ? random.Below(348) : 349 + random.Below(4), 0);

  const Expected e = Decode(p.hdr, 0);
  const int64_t needed = e.needed > 0 && e.needed <= (1 << 17) ? e.needed : -1;
  size_t length = p.img.size();
  switch (random.Below(8)) {
    case 0:
    case 1:
    case 2:
      if (needed >= 0) length = static_cast<size_t>(needed);
      break;
    case 3:
      if (needed > 0) length = static_cast<size_t>(needed - 1);
      break;
    case 4:
      length = random.Below(p.img.size() + 17);
      break;
    default:
      break;
  }
  const size_t old = p.img.size();
  p.img.resize(length);
  for (size_t i = old; i < length; ++i) p.img[i] = static_cast<uint8_t>(random.Next());
  return p;
}

TEST(AnalyzeVolumeFuzz, AnyHeaderAndVoxelFileLengthIsRefusedOrReadAsTheHeaderSays) {
  ScratchFolder dir;
  PairFuzz fuzz(dir.file("f"));
  const std::vector<Pair> seeds = Seeds();
  std::string problem, input;
  {
    QuietStreams quiet;
    // Every byte of each header set to a few values in turn.
    for (size_t s = 0; s < seeds.size() && problem.empty(); ++s)
      for (size_t at = 0; at < seeds[s].hdr.size() && problem.empty(); ++at)
        for (int v : {0x00, 0xff, 0x80, seeds[s].hdr[at] ^ 0x01}) {
          Pair p = seeds[s];
          p.hdr[at] = static_cast<uint8_t>(v);
          problem = fuzz.Check(p);
          if (!problem.empty()) {
            input = "seed pair " + std::to_string(s) + ", byte " + std::to_string(at) + " = " + std::to_string(v);
            break;
          }
        }
    TextMutator random(TextMutator::Seed(41));
    const int n = TextMutator::Iterations(3000);
    for (int i = 0; i < n && problem.empty(); ++i) {
      const Pair p = Mutate(seeds[static_cast<size_t>(i) % seeds.size()], random);
      problem = fuzz.Check(p);
      if (!problem.empty()) input = "random input " + std::to_string(i) + ": header " + ToHex(p.hdr) +
                                    ", voxel file of " + std::to_string(p.img.size()) + " bytes";
    }
  }
  ASSERT_EQ(problem, "") << input;
  // The inputs reach every outcome.
  EXPECT_GT(fuzz.refusedByHeader, 100);
  EXPECT_GT(fuzz.refusedByReader, 100);
  EXPECT_GT(fuzz.readWhole, 100);
  std::printf("%d refused by the header layer, %d by the voxel reader, %d read\n", fuzz.refusedByHeader,
              fuzz.refusedByReader, fuzz.readWhole);
}

}  // namespace
