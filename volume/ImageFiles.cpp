// Image files: portable pixmaps read and written by Raster<T>, grey images through
// FreeImage. The layouts are in ImageFiles.h.
#include "volume/ImageFiles.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Conversions.h"
#include "platform/NativePath.h"
#include "volume/Raster.h"

namespace {

// A cursor over the bytes of a pixmap file.
class PixmapText {
 public:
  explicit PixmapText(const std::string& bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - pos_; }
  const unsigned char* here() const { return reinterpret_cast<const unsigned char*>(bytes_.data()) + pos_; }

  // Line 1: "P" and a number, then only blanks up to the newline.
  bool ReadMagic(int& type) {
    if (!Take('P')) return false;
    if (!ReadNumber(type)) return false;
    return RestOfLineBlank();
  }

  // A header number, after white space and comment lines.
  bool ReadHeaderNumber(int& value) {
    for (;;) {
      if (pos_ < bytes_.size() && IsSpace(bytes_[pos_])) {
        ++pos_;
      } else if (pos_ < bytes_.size() && bytes_[pos_] == '#') {
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
    return ReadNumber(value);
  }

  // Blanks up to and including the newline.
  bool RestOfLineBlank() {
    while (pos_ < bytes_.size() && (bytes_[pos_] == ' ' || bytes_[pos_] == '\t' || bytes_[pos_] == '\r')) ++pos_;
    return Take('\n');
  }

  // A body value: white space, an optional sign, decimal digits within the int range.
  bool ReadValue(int& value) {
    while (pos_ < bytes_.size() && IsSpace(bytes_[pos_])) ++pos_;
    bool negative = false;
    if (pos_ < bytes_.size() && (bytes_[pos_] == '-' || bytes_[pos_] == '+')) negative = bytes_[pos_++] == '-';
    int magnitude = 0;
    if (!ReadNumber(magnitude)) return false;
    value = negative ? -magnitude : magnitude;
    return true;
  }

  void Skip(size_t n) { pos_ += n; }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

  bool Take(char c) {
    if (pos_ >= bytes_.size() || bytes_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // Decimal digits (at least one) whose value fits an int.
  bool ReadNumber(int& value) {
    int64_t v = 0;
    size_t digits = 0;
    while (pos_ < bytes_.size() && bytes_[pos_] >= '0' && bytes_[pos_] <= '9') {
      v = v * 10 + (bytes_[pos_] - '0');
      if (v > std::numeric_limits<int>::max()) return false;
      ++pos_;
      ++digits;
    }
    value = static_cast<int>(v);
    return digits > 0;
  }

  const std::string& bytes_;
  size_t pos_ = 0;
};

template <class T>
T PixelFromInt(int v) {
  if constexpr (std::is_same_v<T, unsigned char>) {
    return LowByte(v);
  } else {
    return static_cast<T>(v);
  }
}

template <class T>
int PixelAsInt(T v) {
  if constexpr (std::is_same_v<T, unsigned char>) {
    return v;
  } else {
    return TruncToInt32(v);
  }
}

void ReadFailure(const char* what, const char* fileName) {
  std::cerr << what << " in input file " << fileName << " in ppm::read()" << std::endl;
}

}  // namespace

template <class T>
bool Raster<T>::ReadPpm(const char* fileName) {
  const char* name = fileName ? fileName : "";
  // A folder opens as a stream, and reading it would throw from the stream buffer.
  if (PathExists(name) && !IsRegularFile(name)) {
    std::cerr << "Not a regular file: " << name << " in ppm::read()" << std::endl;
    return false;
  }
  std::ifstream in;
  if (!OpenInputStream(in, name)) {
    std::cerr << "Fail to open input file " << name << " in ppm::read()" << std::endl;
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    ReadFailure("Read error", name);
    return false;
  }
  PixmapText text(bytes);
  int type = 0, width = 0, height = 0, maxValue = 0;
  if (!text.ReadMagic(type) || !text.ReadHeaderNumber(width) || !text.ReadHeaderNumber(height) ||
      !text.ReadHeaderNumber(maxValue) || !text.RestOfLineBlank() || width < 1 || height < 1 ||
      int64_t(width) * height > std::numeric_limits<int>::max() || maxValue < 1 || maxValue > 65535) {
    ReadFailure("Bad header", name);
    return false;
  }
  const bool binary = type == 5 || type == 6;
  if ((type != 2 && type != 3 && !binary) || (binary && maxValue > 255)) {
    ReadFailure(("Unsupported type " + std::to_string(type) + " or maximum value " + std::to_string(maxValue)).c_str(),
                name);
    return false;
  }

  // The samples of the body, checked against the bytes that remain before anything is
  // allocated: a binary sample is one byte, a text sample at least a digit and a blank.
  const int64_t pixels = int64_t(width) * height;
  const int64_t samples = (type == 3 || type == 6) ? 3 * pixels : pixels;
  const int64_t needed = binary ? samples : 2 * samples - 1;
  if (int64_t(text.remaining()) < needed) {
    ReadFailure("Short body", name);
    return false;
  }
  std::vector<T> values(static_cast<size_t>(pixels));
  const int perPixel = static_cast<int>(samples / pixels);
  for (int64_t i = 0; i < pixels; ++i) {
    int64_t sum = 0;
    for (int k = 0; k < perPixel; ++k) {
      int v = 0;
      if (binary) {
        v = text.here()[0];
        text.Skip(1);
      } else if (!text.ReadValue(v)) {
        ReadFailure("Short or bad body", name);
        return false;
      }
      sum += v;
    }
    values[i] = PixelFromInt<T>(static_cast<int>(sum / perPixel));  // colour: the integer mean
  }
  if (width != cols || height != rows) Matrix<T>::SetSize(height, width);
  std::copy(values.begin(), values.end(), data);
  return true;
}

template <class T>
bool Raster<T>::WritePpm(const char* fileName, int type) const {
  const char* name = fileName ? fileName : "";
  std::ofstream out;
  if (!OpenOutputStream(out, name)) {
    std::cerr << "Error opening output file ColorImage::Write()" << std::endl;
    return false;
  }
  std::string text = "P" + std::to_string(type) + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n255\n";
  const int64_t n = data ? int64_t(rows) * cols : 0;
  if (type == 2 || type == 3) {
    const int copies = type == 2 ? 1 : 3;
    for (int64_t i = 0; i < n; ++i) {
      const std::string value = std::to_string(PixelAsInt(data[i])) + " ";
      for (int k = 0; k < copies; ++k) text += value;
    }
  } else if (type == 5 || type == 6) {
    const int copies = type == 5 ? 1 : 3;
    text.reserve(text.size() + static_cast<size_t>(n) * copies);
    for (int64_t i = 0; i < n; ++i) text.append(static_cast<size_t>(copies), static_cast<char>(LowByte(PixelAsInt(data[i]))));
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (out.fail()) {
    std::cerr << "Error writing output file " << name << " in ColorImage::Write()" << std::endl;
    return false;
  }
  return true;
}

bool SaveGreyImage(const Matrix<unsigned char>& image, const char* fileName, int dpi) {
  if (fileName == nullptr || image.data == nullptr || image.rows < 1 || image.cols < 1) return false;
  FIBITMAP* bitmap = FreeImage_Allocate(image.cols, image.rows, 8, 0, 0, 0);
  if (bitmap == nullptr) return false;
  // The library counts scan lines from the bottom: matrix row 0 is the top line.
  for (int y = image.rows - 1; y >= 0; --y)
    std::memcpy(FreeImage_GetScanLine(bitmap, y), image.rowTable[image.rows - 1 - y], static_cast<size_t>(image.cols));
  const int64_t perMetre = int64_t(dpi) * 11811 / 300;  // 300 dpi is 11811 pixels per metre
  const int32_t resolution = static_cast<int32_t>(
      std::max<int64_t>(std::numeric_limits<int32_t>::min(), std::min<int64_t>(perMetre, std::numeric_limits<int32_t>::max())));
  BITMAPINFOHEADER* info = FreeImage_GetInfoHeader(bitmap);
  info->biXPelsPerMeter = resolution;
  info->biYPelsPerMeter = resolution;
  RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
  const bool saved = SaveImage(bitmap, fileName, 0);
  FreeImage_Unload(bitmap);
  return saved;
}

bool SaveImage(FIBITMAP* bitmap, const char* fileName, int flags) {
  if (bitmap == nullptr || fileName == nullptr) return false;
  const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(fileName);
  if (format == FIF_UNKNOWN) return false;
  const unsigned bits = FreeImage_GetBPP(bitmap);
  if (!FreeImage_FIFSupportsWriting(format) || !FreeImage_FIFSupportsExportBPP(format, static_cast<int>(bits))) return false;
  return FreeImage_Save(format, bitmap, NativePath(fileName).c_str(), flags) == TRUE;
}

// The file members are instantiated here; the rest of the class in Raster.cpp.
template bool Raster<unsigned char>::ReadPpm(const char*);
template bool Raster<float>::ReadPpm(const char*);
template bool Raster<unsigned char>::WritePpm(const char*, int) const;
template bool Raster<float>::WritePpm(const char*, int) const;
