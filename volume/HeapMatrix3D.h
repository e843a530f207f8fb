#pragma once
// HeapMatrix3D<T>: the 3-D volume of the program, for T = unsigned char, short, int,
// float and double. The program's 32-bit `long` is int32_t, which is `int` here, so
// HeapMatrix3D<int32_t> is HeapMatrix3D<int>.
//
// Layout: dim0 slices (z) of dim1 rows (y) of dim2 columns (x). Voxel (z, y, x) is
// reached as volume[z][y][x] through a slice table of dim0 entries, each pointing at
// dim1 row pointers. A volume that owns its elements keeps them in one zero-filled
// block in that order (voxel (z, y, x) is element (z*dim1 + y)*dim2 + x), so each
// slice is consecutive. The x, y and z of a SubVolume box run along dim2, dim1, dim0.
//
// Ownership: a volume owns its block and tables and frees them in Release and in its
// destructor; copies are deep. A view made by AttachBox owns its tables and its
// margin slices but not the viewed elements: the viewed volume must outlive the view
// and must not be resized or released while the view is used.
//
// A volume whose extents multiply to less than 1 holds no elements; its extents may
// still be stored (e.g. 0 x 5 x 5). Negative extents are stored as 0.
//
// Element access does not check indices. Integer arithmetic (Sum, AddConstant,
// Rescale) is done in T and wraps at T's width; float arithmetic rounds to float.
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "numerics/SubVolume.h"

template <class T>
class Matrix;
template <class T>
class VectorQo;

template <class T>
class HeapMatrix3D {
 public:
  HeapMatrix3D() = default;
  HeapMatrix3D(const HeapMatrix3D& other) { *this = other; }
  // Deep copy through both slice tables (a view can be copied into an owned volume).
  // Assigning a volume to itself does nothing.
  HeapMatrix3D& operator=(const HeapMatrix3D& other);
  virtual ~HeapMatrix3D();

  // ---- sizing ----
  // Sizes the volume and returns the number of elements it holds (0 when none).
  // Unchanged extents keep the contents. Otherwise the old contents are released and
  // a zero-filled block is allocated. When the block or its slice and row tables
  // cannot be had (or the block would exceed 2^31 - 1 elements) "Can not allocate
  // memory size of %d x %d x %d\n" is printed on
  // standard output, the volume is left empty (extents 0) and the result is 0; with
  // SetVolumeAllocationFailureFatal(true) the run ends there instead (status 1).
  int SetSize(int dim0, int dim1, int dim2);
  // Frees everything; the volume becomes empty (extents 0). Returns true.
  virtual bool Release();
  virtual void Clear();
  void SetZero();
  bool IsInside(int z, int y, int x) const {
    return z >= 0 && z < dim0_ && y >= 0 && y < dim1_ && x >= 0 && x < dim2_;
  }

  int dim0() const { return dim0_; }
  int dim1() const { return dim1_; }
  int dim2() const { return dim2_; }
  // Number of voxels held: 0 for a volume without elements.
  int64_t NumElements() const {
    return slices_ ? static_cast<int64_t>(dim0_) * dim1_ * dim2_ : 0;
  }

  // ---- element access (inline, unchecked) ----
  T** operator[](int z) { return slices_[z]; }
  const T* const* operator[](int z) const { return slices_[z]; }
  T& operator()(int z, int y, int x) { return slices_[z][y][x]; }
  const T& operator()(int z, int y, int x) const { return slices_[z][y][x]; }

  // ---- files, layout by extension: "3dm", "mx3", anything else raw ----
  // Readers release the volume once the file has opened. A file that does not open
  // gives false and leaves the volume unchanged. A head with an extent below 1 (a
  // volume without voxels) and a file shorter than its head says (checked before any
  // allocation) give false and an empty volume. None of these prints a line: the
  // caller names the file.
  virtual bool Load(const std::string& name);
  virtual bool LoadMx3(const std::string& name);
  // Writers give false when the file does not open or a write or the close fails.
  // The "3dm" layout stores 16-bit extents: Save refuses a volume with an extent above
  // kMax3dmExtent ("Can not write <name>: extent <n> exceeds 32767\n" on standard
  // output) and creates no file; Write3dm then writes nothing and sets the failbit.
  static constexpr int kMax3dmExtent = 32767;
  virtual bool Save(const std::string& name) const;
  // The "3dm" layout written to `file` whatever its extension; the refusal of a large
  // extent names `shownName` (Save of a "3dm" name is Save3dm(name, name)).
  bool Save3dm(const std::string& file, const std::string& shownName) const;
  virtual bool SaveMx3(const std::string& name) const;
  // Stream forms. A reader that meets a short stream or a head with an extent below 1
  // sets its failbit and leaves the volume empty; writers leave a failed write in the
  // stream's state.
  virtual std::istream& ReadMx3(std::istream& in);
  virtual std::ostream& WriteMx3(std::ostream& out) const;
  virtual std::istream& Read3dm(std::istream& in);
  virtual std::ostream& Write3dm(std::ostream& out) const;
  virtual bool SaveRaw(const std::string& name) const;
  virtual bool LoadRaw(const std::string& name);
  std::istream& ReadRaw(std::istream& in);
  std::ostream& WriteRaw(std::ostream& out) const;
  // The largest extent when it exceeds kMax3dmExtent, else 0.
  int Largest3dmExtentExceeded() const;

  // ---- element operations ----
  virtual void Fill(T value);
  // Sum accumulated in T (wraps for integer types); 0 without elements.
  virtual T Sum() const;
  // Largest / smallest element; 0 without elements.
  virtual T Max() const;
  virtual T Min() const;
  // Both start at voxel (0, 0, 0); without elements the outputs are not written.
  virtual void MinMax(T& min, T& max) const;
  // Maps [Min, Max] linearly onto [lo, hi]. Integer types use the truncated integer
  // factor (hi - lo) / (max - min), so a narrower target range maps every voxel to lo;
  // a constant volume becomes lo.
  virtual void Rescale(T lo, T hi);
  // Copies plane `index` across `axis` into out: axis 0 gives dim1 x dim2 (out[y][x]),
  // 1 gives dim0 x dim2 (out[z][x]), 2 gives dim0 x dim1 (out[z][y]). A bad axis or
  // index leaves out as it was.
  virtual void GetSlice(Matrix<T>& out, int index, char axis) const;
  // Makes this volume a view on `box` of `source` with marginBefore and marginAfter
  // slices of its own (zero-filled) before and after. Slice marginBefore + i views
  // source slice box.z0 + i, or source.dim0() - 1 - box.z0 - i when `reverse`.
  // Writing a viewed voxel writes the source. A box that is empty or does not lie
  // inside the source, a negative margin or an empty source leave this volume empty;
  // so do tables or margin slices that cannot be allocated (with SetSize's message).
  virtual void AttachBox(HeapMatrix3D& source, const SubVolume& box, int marginBefore, int marginAfter,
                         bool reverse);
  virtual void FlipDim0();
  virtual void FlipDim1();
  virtual void FlipDim2();
  // Copies the size0 x size1 x size2 window around voxel (centre0, centre1, centre2)
  // into out, from centre - (size - 1) / 2 to centre + size / 2 on each axis. A window
  // that is not wholly inside prints "Cannot crop: out of bounds. \n" and leaves out
  // a zero volume of the requested size.
  virtual void CropAround(HeapMatrix3D& out, int size0, int size1, int size2, int centre0, int centre1,
                          int centre2) const;

  // ---- connected components (HeapMatrix3D_components.cpp) ----
  // The volume is read as a label volume: a voxel's label is its value as an int
  // (float and double truncated toward zero), and a component is a maximal set of
  // voxels of exactly equal value joined through the six face neighbours. The
  // per-label tables hold 2000 entries, so labels must lie in 0 .. 1999; a label
  // outside that range (negative or 2000 and above) makes the operations answer 2001
  // (AreLabelsConnected: true).
  //
  // Forest of ConnectedComponents, both volumes sized to this volume's extents:
  //   link: at a non-root voxel the linear index (z*dim1 + y)*dim2 + x of a voxel
  //         nearer its root; at a root -rank (-1 for a voxel never joined).
  //   size: at a root the voxel count of its component, 0 elsewhere.
  // Built in one raster scan with union by rank and no path compression: a join
  // through (z-1) links straight to that neighbour's root and raises its rank to at
  // least 2; joins through (y-1) and then (x-1) hang the root of lower rank under the
  // other (on equal ranks the neighbour's root wins).

  // The root of voxel (z, y, x) in `link` (links followed, never shortened). Reads
  // only `link`, not this volume.
  virtual void FindRoot(const HeapMatrix3D<int>& link, int z, int y, int x, int& rootZ, int& rootY,
                        int& rootX) const;
  // Builds the forest; returns the largest label, -1 when there is no voxel.
  virtual int ConnectedComponents(HeapMatrix3D<int>& link, HeapMatrix3D<int>& size) const;
  // Makes every label one component, in passes until a pass finds nothing to do: the
  // largest component of each label keeps it (ties: the first root in scan order);
  // any other component gets a new label above the largest one or, with mergeSmall
  // and fewer than 1000 voxels, the label of the first face neighbour (around its
  // root, else around its voxels in scan order) that lies in a kept component of
  // another label; one without such a neighbour waits for a later pass. When
  // newLabelSource is given it becomes 2000 entries of -1 and entry n receives the
  // old label of the component that got the new label n (n < 2000).
  // Returns the largest label of the final volume, or 2001 when a label lies outside
  // 0 .. 1999 or a new label does not fit in T (a byte volume past 255); changes
  // made before that stay. A pass that changes no voxel ends the passes, since
  // repeating it would change nothing either.
  virtual int MakeLabelsConnected(bool mergeSmall, VectorQo<short>* newLabelSource);
  // Keeps the largest component of every label (ties: the first root in scan order)
  // and, with keepTwo, the second largest of labels 7 and 8; every other voxel
  // becomes 0. Returns ConnectedComponents' result, or 2001 (volume unchanged) when
  // a label lies outside 0 .. 1999.
  virtual int KeepLargestComponents(bool keepTwo);
  // True when no label has two components (and when a label lies outside 0 .. 1999).
  virtual bool AreLabelsConnected() const;

  virtual void AddConstant(T c);
  virtual void ClampBelow(T bound);
  virtual void ClampAbove(T bound);

 private:
  void CopyElementsFrom(const HeapMatrix3D& other);
  // SetSize, with the new block zero-filled or (for a caller that writes every element
  // at once, or releases the volume) left as allocated.
  int Resize(int dim0, int dim1, int dim2, bool zeroFill);
  bool ReadBody(std::istream& in, int d0, int d1, int d2, bool sliceRecords);
  // Head (int16 or int32 extents), then the body; the three raw layouts.
  std::istream& ReadLayout(std::istream& in, bool wideExtents, bool sliceRecords);

  T* data_ = nullptr;      // owned elements (a view: its margin slices only)
  T*** slices_ = nullptr;  // dim0 entries into rows_
  T** rows_ = nullptr;     // dim0 * dim1 row pointers
  int dim0_ = 0;
  int dim1_ = 0;
  int dim2_ = 0;
};

extern template class HeapMatrix3D<unsigned char>;
extern template class HeapMatrix3D<short>;
extern template class HeapMatrix3D<int>;
extern template class HeapMatrix3D<float>;
extern template class HeapMatrix3D<double>;

// Widens every voxel (0 .. 255 kept); out takes in's extents.
void ConvertVolume(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& in);
// Keeps the low 8 bits of every voxel (300 -> 44, -1 -> 255); out takes in's extents.
void ConvertVolume(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<short>& in);
// out := in[z0..z1][y0..y1][x0..x1] (inclusive), sized to the box. A box that is empty
// or not wholly inside `in` gives false and an empty out.
bool CropVolume(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& in,
                const SubVolume& box);
// Writes every voxel (z, y, x) of `in` to (z0 + z, y0 + y, x0 + x) of `out` (not resized).
// A block that does not fit wholly inside `out` gives false and writes nothing.
bool PasteSubVolume(HeapMatrix3D<unsigned char>& out, int x0, int y0, int z0,
                    const HeapMatrix3D<unsigned char>& in);

// Program-wide choice for a volume whose elements or tables cannot be allocated: false
// (the default) leaves it empty after the message, for callers that check the result;
// true ends the run with that message and status 1, which the program chooses so that
// no caller goes on with an empty volume it did not expect.
void SetVolumeAllocationFailureFatal(bool fatal);
