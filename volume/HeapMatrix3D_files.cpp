// HeapMatrix3D: the raw volume files.
//
// Three layouts, all little-endian, without magic number or element-type tag (the
// reader must use the writer's element type). Elements are in voxel order: slice 0
// first, row 0 first within a slice, column 0 first within a row.
//
//   "3dm":  int16 dim0, int16 dim1, int16 dim2 (low 16 bits of each extent; read
//           signed, so 32768 and above read as negative), then the elements.
//   "mx3":  int32 dim0, int32 dim1, int32 dim2, then dim0 slice records of
//           int32 dim1, int32 dim2 (ignored on reading) and dim1 * dim2 elements.
//   raw:    int32 dim0, int32 dim1, int32 dim2, then the elements.
//
// A reader rejects a head it cannot read in full, a head with an extent below 1 (a
// volume without voxels: nothing behind the head is read) and a body shorter than the
// head says; it checks the body length before sizing anything (for a stream that
// cannot tell its length only short reads are detected).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"
#include "volume/HeapMatrix3D.h"
#include "volume/VolumeFileNames.h"

namespace {

// Reads three extents; false when the stream holds fewer bytes.
template <class Field>
bool ReadExtents(std::istream& in, int (&d)[3]) {
  BinaryReader reader(in);
  Field f[3];
  for (Field& v : f) reader.bytes(&v, sizeof v);
  if (!reader.ok()) return false;
  for (int i = 0; i < 3; ++i) d[i] = f[i];
  return true;
}

}  // namespace

template <class T>
bool HeapMatrix3D<T>::ReadBody(std::istream& in, int d0, int d1, int d2, bool sliceRecords) {
  BinaryReader reader(in);
  const int64_t perSlice = static_cast<int64_t>(d1) * d2;  // < 2^62
  const int64_t recordBytes = sliceRecords ? 8 : 0;
  const int64_t maxCount = std::numeric_limits<int32_t>::max();
  if (perSlice > maxCount) return false;
  if (!reader.fits(d0, recordBytes + perSlice * static_cast<int64_t>(sizeof(T)))) return false;
  // Every element is read over, or the volume released: no zero fill first.
  if (Resize(d0, d1, d2, false) < 1) return false;
  for (int z = 0; z < d0 && reader.ok(); ++z) {
    if (sliceRecords) reader.skip(8);
    reader.bytes(slices_[z][0], static_cast<size_t>(perSlice) * sizeof(T));
  }
  if (!reader.ok()) {
    Release();
    return false;
  }
  return true;
}


template <class T>
std::istream& HeapMatrix3D<T>::ReadLayout(std::istream& in, bool wideExtents, bool sliceRecords) {
  Release();
  int d[3];
  if (!(wideExtents ? ReadExtents<int32_t>(in, d) : ReadExtents<int16_t>(in, d))) {
    in.setstate(std::ios::failbit);
    return in;
  }
  // A volume without voxels is refused like a short file.
  if (d[0] < 1 || d[1] < 1 || d[2] < 1 || !ReadBody(in, d[0], d[1], d[2], sliceRecords))
    in.setstate(std::ios::failbit);
  return in;
}

template <class T>
std::istream& HeapMatrix3D<T>::Read3dm(std::istream& in) {
  return ReadLayout(in, false, false);
}

template <class T>
std::istream& HeapMatrix3D<T>::ReadMx3(std::istream& in) {
  return ReadLayout(in, true, true);
}

template <class T>
std::istream& HeapMatrix3D<T>::ReadRaw(std::istream& in) {
  return ReadLayout(in, true, false);
}

// The writers go row by row through the slice table, so views are written right too.
template <class T>
std::ostream& HeapMatrix3D<T>::Write3dm(std::ostream& out) const {
  // The head's 16-bit extents would read back as another size: nothing is written.
  if (Largest3dmExtentExceeded() != 0) {
    out.setstate(std::ios::failbit);
    return out;
  }
  BinaryWriter writer(out);
  writer.i16(LowShort(dim0_));
  writer.i16(LowShort(dim1_));
  writer.i16(LowShort(dim2_));
  if (!slices_) return out;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) writer.bytes(slices_[z][y], sizeof(T) * dim2_);
  return out;
}

template <class T>
std::ostream& HeapMatrix3D<T>::WriteMx3(std::ostream& out) const {
  BinaryWriter writer(out);
  writer.i32(dim0_);
  writer.i32(dim1_);
  writer.i32(dim2_);
  if (!slices_) return out;
  for (int z = 0; z < dim0_; ++z) {
    writer.i32(dim1_);
    writer.i32(dim2_);
    for (int y = 0; y < dim1_; ++y) writer.bytes(slices_[z][y], sizeof(T) * dim2_);
  }
  return out;
}

template <class T>
std::ostream& HeapMatrix3D<T>::WriteRaw(std::ostream& out) const {
  BinaryWriter writer(out);
  writer.i32(dim0_);
  writer.i32(dim1_);
  writer.i32(dim2_);
  if (!slices_) return out;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) writer.bytes(slices_[z][y], sizeof(T) * dim2_);
  return out;
}

namespace {

enum class Layout { k3dm, kMx3, kRaw };

Layout LayoutOf(const std::string& name) {
  const std::string ext = volume_names::Extension(name);
  if (ext == "3dm") return Layout::k3dm;
  if (ext == "mx3") return Layout::kMx3;
  return Layout::kRaw;
}

// A folder (or device) opens as a stream, but reads nothing a volume is made of:
// refused with one line naming it. True for a regular file or a missing one (whose
// open then fails as usual).
bool RefuseNonRegularFile(const std::string& name) {
  if (!PathExists(name) || IsRegularFile(name)) return true;
  std::printf("Not a regular file: %s\n", name.c_str());
  std::fflush(stdout);
  return false;
}

}  // namespace

template <class T>
bool HeapMatrix3D<T>::Load(const std::string& name) {
  if (!RefuseNonRegularFile(name)) return false;
  std::ifstream in;
  if (!OpenInputStream(in, name)) return false;
  switch (LayoutOf(name)) {
    case Layout::k3dm: Read3dm(in); break;
    case Layout::kMx3: ReadMx3(in); break;
    case Layout::kRaw: ReadRaw(in); break;
  }
  return !in.fail();
}

template <class T>
bool HeapMatrix3D<T>::LoadMx3(const std::string& name) {
  if (!RefuseNonRegularFile(name)) return false;
  std::ifstream in;
  if (!OpenInputStream(in, name)) return false;
  ReadMx3(in);
  return !in.fail();
}

template <class T>
bool HeapMatrix3D<T>::LoadRaw(const std::string& name) {
  if (!RefuseNonRegularFile(name)) return false;
  std::ifstream in;
  if (!OpenInputStream(in, name)) return false;
  ReadRaw(in);
  return !in.fail();
}

template <class T>
int HeapMatrix3D<T>::Largest3dmExtentExceeded() const {
  const int largest = std::max(dim0_, std::max(dim1_, dim2_));
  return largest > kMax3dmExtent ? largest : 0;
}

template <class T>
bool HeapMatrix3D<T>::Save(const std::string& name) const {
  if (LayoutOf(name) == Layout::k3dm) return Save3dm(name, name);
  std::ofstream out;
  if (!OpenOutputStream(out, name)) return false;
  if (LayoutOf(name) == Layout::kMx3)
    WriteMx3(out);
  else
    WriteRaw(out);
  out.close();
  return !out.fail();
}

template <class T>
bool HeapMatrix3D<T>::Save3dm(const std::string& file, const std::string& shownName) const {
  if (Largest3dmExtentExceeded() != 0) {
    std::printf("Can not write %s: extent %d exceeds %d\n", shownName.c_str(), Largest3dmExtentExceeded(),
                kMax3dmExtent);
    std::fflush(stdout);
    return false;
  }
  std::ofstream out;
  if (!OpenOutputStream(out, file)) return false;
  Write3dm(out);
  out.close();
  return !out.fail();
}

template <class T>
bool HeapMatrix3D<T>::SaveMx3(const std::string& name) const {
  std::ofstream out;
  if (!OpenOutputStream(out, name)) return false;
  WriteMx3(out);
  out.close();
  return !out.fail();
}

template <class T>
bool HeapMatrix3D<T>::SaveRaw(const std::string& name) const {
  std::ofstream out;
  if (!OpenOutputStream(out, name)) return false;
  WriteRaw(out);
  out.close();
  return !out.fail();
}

// The file members are instantiated here; the rest of the class in HeapMatrix3D.cpp.
#define SEGMENTER_INSTANTIATE_VOLUME_FILES(T)                                             \
  template bool HeapMatrix3D<T>::ReadBody(std::istream&, int, int, int, bool);            \
  template std::istream& HeapMatrix3D<T>::ReadLayout(std::istream&, bool, bool);          \
  template std::istream& HeapMatrix3D<T>::Read3dm(std::istream&);                         \
  template std::istream& HeapMatrix3D<T>::ReadMx3(std::istream&);                         \
  template std::istream& HeapMatrix3D<T>::ReadRaw(std::istream&);                         \
  template std::ostream& HeapMatrix3D<T>::Write3dm(std::ostream&) const;                  \
  template std::ostream& HeapMatrix3D<T>::WriteMx3(std::ostream&) const;                  \
  template std::ostream& HeapMatrix3D<T>::WriteRaw(std::ostream&) const;                  \
  template bool HeapMatrix3D<T>::Load(const std::string&);                                \
  template bool HeapMatrix3D<T>::LoadMx3(const std::string&);                             \
  template bool HeapMatrix3D<T>::LoadRaw(const std::string&);                             \
  template bool HeapMatrix3D<T>::Save(const std::string&) const;                          \
  template bool HeapMatrix3D<T>::Save3dm(const std::string&, const std::string&) const;   \
  template int HeapMatrix3D<T>::Largest3dmExtentExceeded() const;                         \
  template bool HeapMatrix3D<T>::SaveMx3(const std::string&) const;                       \
  template bool HeapMatrix3D<T>::SaveRaw(const std::string&) const;

SEGMENTER_INSTANTIATE_VOLUME_FILES(unsigned char)
SEGMENTER_INSTANTIATE_VOLUME_FILES(short)
SEGMENTER_INSTANTIATE_VOLUME_FILES(int)
SEGMENTER_INSTANTIATE_VOLUME_FILES(float)
SEGMENTER_INSTANTIATE_VOLUME_FILES(double)
