#include "volume/AnalyzeVolume.h"

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Conversions.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/TemporaryFiles.h"
#include "volume/VolumeFileNames.h"

AnalyzeImageInfo* ReadAnalyzeHeader(AnalyzeImageInfo& info, const std::string& headerName, AnalyzeRange& range) {
  ImageFileHandle handle;
  open_header(headerName, handle, info, range);
  const int status = handle.status;
  CloseImageFile(handle);
  if (handle.status != kAnalyzeOk) FatalExit(1, "");
  if (status == kAnalyzeBadDimensions) {
    std::printf("WARNING: Illegal dimension\n");
    std::printf("WARNING: Note illegal values\n");
  } else if (status == kAnalyzeBadVoxelSize) {
    std::printf("WARNING: Illegal voxel size\n");
    std::printf("WARNING: Note illegal values\n");
  } else if (status != kAnalyzeOk) {
    FatalExit(1, "");  // open_header has printed the reason
  }
  std::fflush(stdout);
  return &info;
}

int ReadAnalyzeData(const std::string& dataName, const AnalyzeImageInfo& info, const AnalyzeRange& range,
                    HeapMatrix3D<short>& volume) {
  const int X = static_cast<uint16_t>(info.xDim), Y = static_cast<uint16_t>(info.yDim),
            Z = static_cast<uint16_t>(info.zDim);
  // A header with an extent 0 describes no voxel: there is no volume to read.
  if (X == 0 || Y == 0 || Z == 0) {
    std::printf("Can not read %s: its header's extents %d x %d x %d hold no voxel\n", dataName.c_str(), X, Y, Z);
    std::fflush(stdout);
    return 0;
  }
  // A folder (or device) opens, but its reported size is no voxel count.
  if (PathExists(dataName) && !IsRegularFile(dataName)) {
    std::printf("Not a regular file: %s\n", dataName.c_str());
    std::fflush(stdout);
    return 0;
  }
  std::FILE* f = OpenFile(dataName, "rb");
  if (!f) {
    std::printf("File open error!");
    std::fflush(stdout);
    return 0;
  }
  auto readError = [f]() {
    std::fclose(f);
    std::printf("file read error\n");
    std::fflush(stdout);
    return kAnalyzeDataReadError;
  };

  const int64_t n = static_cast<int64_t>(X) * Y * Z;
  const int64_t bytesPerVoxel = info.bits == 8 ? 1 : 2;

  // The file must hold every voxel before anything is sized from the header.
  long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return readError();
  long end = std::ftell(f);
  if (end < here || std::fseek(f, here, SEEK_SET) != 0) return readError();
  if (static_cast<int64_t>(end - here) < n * bytesPerVoxel) return readError();

  // The file's voxels, read whole before the volume changes (each one is read over).
  const size_t count = static_cast<size_t>(n);
  std::unique_ptr<uint16_t[]> values(new uint16_t[count]);
  if (info.bits == 8) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[count]);
    if (std::fread(bytes.get(), 1, count, f) != count) return readError();
    for (size_t i = 0; i < count; ++i) values[i] = bytes[i];
  } else {
    if (std::fread(values.get(), 2, count, f) != count) return readError();
    if (range.swapped)
      for (size_t i = 0; i < count; ++i) SwapBytes(&values[i], 1, 1);
    uint16_t largest = 0;
    for (size_t i = 0; i < count; ++i) largest = std::max(largest, values[i]);
    // Values beyond the signed range are brought into 0 .. 32767 for the whole volume.
    if (largest > 32767)
      for (size_t i = 0; i < count; ++i) values[i] = static_cast<uint16_t>(values[i] >> 1);
  }
  std::fclose(f);

  if (volume.SetSize(Z, Y, X) < 1) return kAnalyzeDataReadError;  // allocation refused
  // Row by row: a view of another volume (AttachBox) keeps its extents through
  // SetSize, and its rows do not lie in one block.
  size_t i = 0;
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y) {
      short* row = volume[z][y];
      for (int x = 0; x < X; ++x) row[x] = static_cast<short>(values[i++]);
    }
  return 1;
}

bool ReadAnalyze(const std::string& name, HeapMatrix3D<short>& volume) {
  const std::string base = volume_names::WithoutExtension(name);
  AnalyzeImageInfo info;
  AnalyzeRange range;
  ReadAnalyzeHeader(info, base + ".hdr", range);
  // A voxel file that does not read must not leave an older volume behind that
  // would then count as read.
  if (ReadAnalyzeData(base + ".img", info, range, volume) != 1) volume.Clear();
  return volume.NumElements() > 0;
}

namespace {

// The files of one pair as written and the names the header records and messages show.
struct PairFiles {
  std::string header;       // the header file written
  std::string voxels;       // the voxel file written
  std::string shownHeader;  // the header's name in messages
  std::string description;  // "<folder>\<base>.a" of the pair's name
};

PairFiles FilesOf(const std::string& name) {
  const volume_names::SplitName split = volume_names::SplitForWriting(name);
  return {split.With(".hdr"), split.With(".img"), split.With(".hdr"), split.With(".a")};
}

int WritePair(const PairFiles& files, const AnalyzeImageInfo& info, const AnalyzeRange& range,
              const HeapMatrix3D<short>& volume) {
  // The header's extents are 16-bit: a larger one would read back as another size.
  for (int extent : {info.xDim, info.yDim, info.zDim}) {
    if (extent < 0 || extent > kMaxAnalyzeExtent) {
      std::printf("Can not write %s: extent %d outside 0..%d\n", files.shownHeader.c_str(), extent,
                  kMaxAnalyzeExtent);
      std::fflush(stdout);
      return 0;
    }
  }
  const int headerStatus = write_header(files.header, info, files.description, range);

  std::FILE* f = OpenFile(files.voxels, "wb");
  if (!f) return 0;
  bool ok = true;
  if (volume.NumElements() > 0) {
    const int X = volume.dim2();
    std::vector<uint8_t> lowBytes(static_cast<size_t>(X));
    for (int z = 0; z < volume.dim0() && ok; ++z)
      for (int y = 0; y < volume.dim1() && ok; ++y) {
        const short* row = volume[z][y];
        if (info.bits == 16) {
          ok = std::fwrite(row, 2, static_cast<size_t>(X), f) == static_cast<size_t>(X);
        } else {
          for (int x = 0; x < X; ++x) lowBytes[x] = LowByte(row[x]);
          ok = std::fwrite(lowBytes.data(), 1, lowBytes.size(), f) == lowBytes.size();
        }
      }
  }
  if (std::fclose(f) != 0) ok = false;
  return ok && headerStatus == kAnalyzeOk ? 1 : 0;
}

// The header fields of a 16-bit pair: voxel sizes 1.0, glmin 0, glmax 65535.
void Header16(const HeapMatrix3D<short>& volume, AnalyzeImageInfo& info, AnalyzeRange& range) {
  info.bits = 16;
  info.xDim = volume.dim2();
  info.yDim = volume.dim1();
  info.zDim = volume.dim0();
  info.xVoxel = info.yVoxel = info.zVoxel = 1.0;
  range.glmin = 0;
  range.glmax = 65535;
  range.swapped = 1;
}

bool Write3dmWhole(const std::string& name, const HeapMatrix3D<unsigned char>& volume) {
  TemporaryFiles temps;
  const std::string temp = temps.Make(name, ".3dm");
  return !temp.empty() && volume.Save3dm(temp, name) && temps.Rename(temp, name);
}

bool WriteAnalyzeWhole(const std::string& name, const HeapMatrix3D<unsigned char>& volume) {
  HeapMatrix3D<short> wide;
  ConvertVolume(wide, volume);
  AnalyzeImageInfo info;
  AnalyzeRange range;
  Header16(wide, info, range);
  const PairFiles out = FilesOf(name);
  // The header records the output's own name, whatever file it is written to first.
  TemporaryFiles temps;
  PairFiles temp = out;
  temp.header = temps.Make(name, ".hdr");
  temp.voxels = temp.header.empty() ? "" : temps.Make(name, ".img");
  bool ok = !temp.voxels.empty() && WritePair(temp, info, range, wide) == 1;
  // A header under the output's name stands for a complete pair: an older header goes
  // first, the voxels come into place next and the header last, in one held step so
  // that a fatal end or an interrupt comes before the renames or after them.
  FatalExitHold hold;
  ok = ok && DeleteFileAt(out.header) && temps.Rename(temp.voxels, out.voxels);
  if (ok && !temps.Rename(temp.header, out.header)) {
    DeleteFileAt(out.voxels);
    ok = false;
  }
  return ok;
}

}  // namespace

int WriteAnalyze(const std::string& name, const AnalyzeImageInfo& info, const AnalyzeRange& range,
                 const HeapMatrix3D<short>& volume) {
  return WritePair(FilesOf(name), info, range, volume);
}

int WriteAnalyze16(const std::string& name, const HeapMatrix3D<short>& volume) {
  AnalyzeImageInfo info;
  AnalyzeRange range;
  Header16(volume, info, range);
  return WriteAnalyze(name, info, range, volume);
}

int WriteAnalyzeVolume(const std::string& name, const HeapMatrix3D<unsigned char>& volume) {
  HeapMatrix3D<short> wide;
  ConvertVolume(wide, volume);
  return WriteAnalyze16(name, wide);
}

bool ReadVolume(const std::string& name, HeapMatrix3D<short>& volume) {
  const std::string ext = volume_names::Extension(name);
  bool ok = false;
  if (ext == "3dm")
    ok = volume.Load(name);
  else if (ext == "img" || ext == "hdr")
    ok = ReadAnalyze(name, volume);
  return ok && volume.NumElements() > 0;
}

bool WriteVolume(const std::string& name, const HeapMatrix3D<unsigned char>& volume) {
  if (volume.NumElements() == 0) return false;
  const std::string ext = volume_names::Extension(name);
  if (ext == "3dm") return Write3dmWhole(name, volume);
  if (ext == "img" || ext == "hdr") return WriteAnalyzeWhole(name, volume);
  return false;
}
