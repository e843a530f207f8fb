#include "img/AnalyzeHeader.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "platform/HostAssumptions.h"
#include "platform/NativePath.h"

namespace {

// The source path in messages, from the repository root ("img/AnalyzeHeader.cpp").
const char* SourceName() {
  static const char* name = [] {
    const char* full = __FILE__;
    const char* cut = std::strstr(full, "img/AnalyzeHeader.cpp");
    return cut ? cut : full;
  }();
  return name;
}

// One message of this layer: "<source>: <line>: " and the formatted text.
__attribute__((format(printf, 2, 3))) void Report(int line, const char* format, ...) {
  std::fprintf(stderr, "%s: %d: ", SourceName(), line);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

// Field offsets of the 348-byte header (see the grammar in the header file).
constexpr int kSizeofHdr = 0;
constexpr int kExtents = 32;
constexpr int kRegular = 38;
constexpr int kDim = 40;  // dim[0] .. dim[4], int16 each
constexpr int kDatatype = 70;
constexpr int kBitpix = 72;
constexpr int kPixdim1 = 80;  // pixdim[1] .. pixdim[3], float32 each
constexpr int kGlmax = 140;
constexpr int kGlmin = 144;
constexpr int kDescrip = 148;
constexpr int kDescripLength = 80;

int16_t GetI16(const unsigned char* h, int offset) {
  int16_t v;
  std::memcpy(&v, h + offset, 2);
  return v;
}
int32_t GetI32(const unsigned char* h, int offset) {
  int32_t v;
  std::memcpy(&v, h + offset, 4);
  return v;
}
float GetF32(const unsigned char* h, int offset) {
  float v;
  std::memcpy(&v, h + offset, 4);
  return v;
}
void PutI16(unsigned char* h, int offset, int16_t v) { std::memcpy(h + offset, &v, 2); }
void PutI32(unsigned char* h, int offset, int32_t v) { std::memcpy(h + offset, &v, 4); }
void PutF32(unsigned char* h, int offset, float v) { std::memcpy(h + offset, &v, 4); }

int16_t Low16(int v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu)); }

int DatatypeForBits(int bits) {
  switch (bits) {
    case 1: return 1;
    case 8: return 2;
    case 16: return 4;
    case 32: return 8;
    default: return 0;
  }
}

}  // namespace

void SwapBytes(void* p, int k, int n) {
  unsigned char* bytes = static_cast<unsigned char*>(p);
  const int width = 2 * k;
  for (int item = 0; item < n; ++item) {
    unsigned char* b = bytes + static_cast<size_t>(item) * width;
    for (int i = 0, j = width - 1; i < j; ++i, --j) {
      unsigned char t = b[i];
      b[i] = b[j];
      b[j] = t;
    }
  }
}

int SwapAnalyzeHeader(unsigned char header[kAnalyzeHeaderSize]) {
  if (GetI32(header, kSizeofHdr) == kAnalyzeHeaderSize) return 0;
  SwapBytes(header + kSizeofHdr, 2, 1);
  if (GetI32(header, kSizeofHdr) != kAnalyzeHeaderSize) return -1;
  SwapBytes(header + kExtents, 2, 1);
  SwapBytes(header + kDim, 1, 5);
  SwapBytes(header + kDatatype, 1, 1);
  SwapBytes(header + kBitpix, 1, 1);
  SwapBytes(header + kPixdim1, 2, 3);
  SwapBytes(header + kGlmax, 2, 1);
  SwapBytes(header + kGlmin, 2, 1);
  return 1;
}

void StripAnalyzeExtension(std::string& name) {
  size_t slash = name.rfind('/');
  size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = name.rfind('.');
  // No '.' in the file part, or only a leading one: nothing to strip.
  if (dot == std::string::npos || dot <= fileStart) return;
  std::string tail = name.substr(dot);
  if (tail == ".img" || tail == ".hdr") name.erase(dot);
}

int TestOpenFile(const std::string& name) {
  // A folder opens too, but is no header file.
  if (PathExists(name) && !IsRegularFile(name)) return kAnalyzeTestOpenFailed;
  std::FILE* f = OpenFile(name, "rb");
  if (!f) return kAnalyzeTestOpenFailed;
  return std::fclose(f) == 0 ? kAnalyzeOk : kAnalyzeCloseFailed;
}

int fclose_decompress(std::FILE* file, int /*compressed: files are always plain*/) {
  return std::fclose(file) == 0 ? kAnalyzeOk : kAnalyzeCloseFailed;
}

std::FILE* OpenImageFile(const std::string& name, int* compressed, int* status) {
  *compressed = 0;
  int test = TestOpenFile(name);
  if (test != kAnalyzeOk) {
    *status = test;
    return nullptr;
  }
  std::FILE* f = OpenFile(name, "rb");
  *status = f ? kAnalyzeOk : kAnalyzeOpenFailed;
  return f;
}

void CloseImageFile(ImageFileHandle& handle) {
  handle.status = kAnalyzeOk;
  if (handle.header) {
    handle.status = fclose_decompress(handle.header, handle.headerCompressed);
    handle.header = nullptr;
  }
  if (handle.data) {
    int result = fclose_decompress(handle.data, handle.dataCompressed);
    handle.data = nullptr;
    if (result != kAnalyzeOk) handle.status = result;
  }
}

void open_header(const std::string& name, ImageFileHandle& handle, AnalyzeImageInfo& info,
                 AnalyzeRange& range) {
  handle.data = nullptr;
  handle.header = nullptr;
  handle.status = kAnalyzeOk;

  // A std::string copy cannot fail quietly (it throws), so status 1 is not reached here.
  std::string headerName = name;
  StripAnalyzeExtension(headerName);
  headerName += ".hdr";
  const char* hn = headerName.c_str();

  handle.header = OpenImageFile(headerName, &handle.headerCompressed, &handle.status);
  if (!handle.header) {
    Report(__LINE__, "unable to open input file %s\n", hn);
    return;
  }

  auto closeWith = [&handle](int status) {
    fclose_decompress(handle.header, handle.headerCompressed);
    handle.header = nullptr;
    handle.status = status;
  };

  unsigned char h[kAnalyzeHeaderSize];
  if (std::fread(h, 1, sizeof h, handle.header) != sizeof h) {
    Report(__LINE__, "failed to read data from file %s\n", hn);
    closeWith(kAnalyzeBadHeaderLength);
    return;
  }
  if (std::fgetc(handle.header) != EOF) {
    Report(__LINE__, "more data than expected was found in file %s\n", hn);
    closeWith(kAnalyzeBadHeaderLength);
    return;
  }

  int swapped = SwapAnalyzeHeader(h);
  if (swapped < 0) {
    Report(__LINE__, "invalid header for file %s\n", hn);
    closeWith(kAnalyzeBadSizeofHdr);
    return;
  }

  const int bitpix = GetI16(h, kBitpix);
  const int dim1 = GetI16(h, kDim + 2), dim2 = GetI16(h, kDim + 4), dim3 = GetI16(h, kDim + 6);
  const float pix1 = GetF32(h, kPixdim1), pix2 = GetF32(h, kPixdim1 + 4), pix3 = GetF32(h, kPixdim1 + 8);
  range.swapped = swapped;
  info.bits = bitpix;
  info.xDim = std::abs(dim1);
  info.yDim = std::abs(dim2);
  info.zDim = std::abs(dim3);
  info.xVoxel = std::fabs(static_cast<double>(pix1));
  info.yVoxel = std::fabs(static_cast<double>(pix2));
  info.zVoxel = std::fabs(static_cast<double>(pix3));

  if (bitpix != 8 && bitpix != 16 && bitpix != 1) {
    Report(__LINE__, "cannot read %i bit/pixel data from file %s\n", bitpix, hn);
    closeWith(kAnalyzeBadBitpix);
    return;
  }
  if (!(dim1 > 0 && dim2 > 0 && dim3 > 0)) {
    Report(__LINE__, "invalid dimensions less than or equal to zero in header file %s\n", hn);
    handle.status = kAnalyzeBadDimensions;
  }
  if (!(pix1 > 0 && pix2 > 0 && pix3 > 0)) {
    Report(__LINE__, "invalid voxel sizes less than or equal to zero in header file %s\n", hn);
    handle.status = kAnalyzeBadVoxelSize;
  }

  range.glmin = GetI32(h, kGlmin);
  range.glmax = GetI32(h, kGlmax);
  if (bitpix == 16) {
    if (range.glmin >= 0 && range.glmax < 0) {
      Report(__LINE__, "global maximum is <= global minimum in header file %s\n", hn);
      handle.status = kAnalyzeBadRange;
    } else if (range.glmin < 0 && range.glmax <= -32768) {
      Report(__LINE__, "global maximum is out of possible range in header file %s\n", hn);
      handle.status = kAnalyzeBadRange;
    }
  }
}

int write_header(const std::string& name, const AnalyzeImageInfo& info, const std::string& description,
                 const AnalyzeRange& range) {
  std::string headerName = name;
  size_t dot = name.rfind('.');
  std::string tail = dot == std::string::npos ? name : name.substr(dot);
  if (tail != ".hdr") {
    StripAnalyzeExtension(headerName);
    headerName += ".hdr";
  }
  const char* hn = headerName.c_str();

  unsigned char h[kAnalyzeHeaderSize];
  std::memset(h, 0, sizeof h);
  PutI32(h, kSizeofHdr, kAnalyzeHeaderSize);
  PutI32(h, kExtents, 16384);
  h[kRegular] = 'r';
  PutI16(h, kDim, 4);
  PutI16(h, kDim + 2, Low16(info.xDim));
  PutI16(h, kDim + 4, Low16(info.yDim));
  PutI16(h, kDim + 6, Low16(info.zDim));
  PutI16(h, kDim + 8, 1);
  PutI16(h, kDatatype, static_cast<int16_t>(DatatypeForBits(info.bits)));
  PutI16(h, kBitpix, Low16(info.bits));
  PutF32(h, kPixdim1, static_cast<float>(info.xVoxel));
  PutF32(h, kPixdim1 + 4, static_cast<float>(info.yVoxel));
  PutF32(h, kPixdim1 + 8, static_cast<float>(info.zVoxel));
  PutI32(h, kGlmax, range.glmax);
  PutI32(h, kGlmin, range.glmin);
  size_t keep = description.size() < kDescripLength - 1 ? description.size() : kDescripLength - 1;
  std::memcpy(h + kDescrip, description.data(), keep);

  std::FILE* f = OpenFile(headerName, "wb");
  if (!f) {
    Report(__LINE__, "cannot open file %s for output\n", hn);
    return kAnalyzeCannotCreateHeader;
  }
  if (std::fwrite(h, 1, sizeof h, f) != sizeof h) {
    Report(__LINE__, "file write error writing header %s\n", hn);
    if (std::fclose(f) != 0) {
      Report(__LINE__, "failed to close header file %s\n", hn);
      return kAnalyzeHeaderCloseFailed;
    }
    return kAnalyzeHeaderWriteFailed;
  }
  if (std::fclose(f) != 0) {
    Report(__LINE__, "failed to close header file %s\n", hn);
    return kAnalyzeHeaderCloseFailed;
  }
  return kAnalyzeOk;
}
