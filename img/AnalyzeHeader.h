#pragma once
// The Analyze 7.5 header: reading, checking and writing the 348-byte ".hdr" file.
//
// Byte grammar of the header (every other byte is written as 0 and ignored on reading).
// Multi-byte fields are in the byte order of the writer; this program writes
// little-endian. A reader decides the order by sizeof_hdr alone.
//
//   offset  width  type     field          written                        read
//   ------  -----  -------  -------------  -----------------------------  ------------------------------
//        0      4  int32    sizeof_hdr     348                            348 directly or byte-reversed,
//                                                                         else rejected (206)
//       32      4  int32    extents        16384                          reversed with the header only
//       38      1  char     regular        'r'                            ignored
//       40      2  int16    dim[0]         4                              reversed with the header only
//       42      2  int16    dim[1]         x extent (columns)             |value|; <= 0 warns (205)
//       44      2  int16    dim[2]         y extent (rows)                |value|; <= 0 warns (205)
//       46      2  int16    dim[3]         z extent (slices)              |value|; <= 0 warns (205)
//       48      2  int16    dim[4]         1                              reversed with the header only
//       70      2  int16    datatype       bits 1->1 8->2 16->4 32->8     reversed, never checked
//                                          other->0
//       72      2  int16    bitpix         bits per voxel                 must be 1, 8 or 16 (else 204)
//       80      4  float32  pixdim[1]      x voxel size                   |value|; <= 0 warns (208)
//       84      4  float32  pixdim[2]      y voxel size                   |value|; <= 0 warns (208)
//       88      4  float32  pixdim[3]      z voxel size                   |value|; <= 0 warns (208)
//      140      4  int32    glmax          range.glmax                    checked for 16-bit data (207)
//      144      4  int32    glmin          range.glmin                    checked for 16-bit data (207)
//      148     80  char     descrip        at most 79 characters, then 0  ignored
//
// A header file of any other length than 348 bytes is rejected (211).
//
// Messages of this layer go to standard error, each one line starting with
// "<source file>: <line>: ".
#include <cstdio>
#include <string>

constexpr int kAnalyzeHeaderSize = 348;

// Status codes of the header layer.
enum AnalyzeStatus : int {
  kAnalyzeOk = 0,
  kAnalyzeNoMemory = 1,             // a working copy of a name could not be made
  kAnalyzeCloseFailed = 107,        // closing a file failed
  kAnalyzeTestOpenFailed = 114,     // the test open failed
  kAnalyzeOpenFailed = 117,         // the open failed after a successful test open
  kAnalyzeBadBitpix = 204,          // bits per voxel not 1, 8 or 16
  kAnalyzeBadDimensions = 205,      // an extent <= 0 (a warning: reading goes on)
  kAnalyzeBadSizeofHdr = 206,       // sizeof_hdr is 348 in neither byte order
  kAnalyzeBadRange = 207,           // glmax / glmin impossible for 16-bit data
  kAnalyzeBadVoxelSize = 208,       // a voxel size <= 0 (a warning: reading goes on)
  kAnalyzeBadHeaderLength = 211,    // the header file is not exactly 348 bytes
  kAnalyzeDataReadError = 212,      // the voxel file is shorter than the header says
  kAnalyzeCannotCreateHeader = 401, // write_header: the header file could not be created
  kAnalyzeHeaderCloseFailed = 406,  // write_header: closing the header file failed
  kAnalyzeHeaderWriteFailed = 503,  // write_header: writing the 348 bytes failed
};

// The header as the volume layer sees it.
struct AnalyzeImageInfo {
  int bits = 0;   // bits per voxel
  int xDim = 0;   // columns
  int yDim = 0;   // rows
  int zDim = 0;   // slices
  double xVoxel = 0.0;
  double yVoxel = 0.0;
  double zVoxel = 0.0;
};

struct AnalyzeRange {
  int glmin = 0;
  int glmax = 0;
  int swapped = 0;  // set by the reader: 1 when the header was in the other byte order
};

// Files of one header read. The data slot is never opened by this program; both
// compression flags stay 0 because every file is read plain.
struct ImageFileHandle {
  std::FILE* data = nullptr;
  std::FILE* header = nullptr;
  int status = 0;
  int headerCompressed = 0;
  int dataCompressed = 0;
};

// Reads and checks the header of `name` (a trailing ".img" or ".hdr" is replaced by
// ".hdr"). Fills info, range and handle.status. Statuses 205 and 208 are warnings:
// info then holds the absolute values and the header file stays open as on success.
// On success (and after a warning) the caller closes the handle with CloseImageFile;
// on every other failure the file is already closed.
void open_header(const std::string& name, ImageFileHandle& handle, AnalyzeImageInfo& info,
                 AnalyzeRange& range);

// Writes a little-endian header. ".hdr" replaces a trailing ".img" or is appended,
// unless the name already ends in ".hdr". Only the first 79 characters of the
// description are kept. Returns 0, or 401 / 503 / 406 after a message.
int write_header(const std::string& name, const AnalyzeImageInfo& info, const std::string& description,
                 const AnalyzeRange& range);

// Opens a file "rb" after a test open. *status becomes 0, 114, 107 or 117; null on failure.
std::FILE* OpenImageFile(const std::string& name, int* compressed, int* status);

// Opens "rb" and closes again: 0, 114 when the open fails or the path is not a
// regular file (a folder opens too), 107 when the close fails.
int TestOpenFile(const std::string& name);

// Closes a plain file: 0, or 107 when the close fails.
int fclose_decompress(std::FILE* file, int compressed);

// Closes the open files of the handle and clears their slots; handle.status becomes
// the result of closing the header (0 on success), or a non-zero result of closing the data.
void CloseImageFile(ImageFileHandle& handle);

// Removes a trailing ".img" or ".hdr" (case-sensitive) from the file part of the name
// (the text after the last '/'); a name whose file part starts with that '.' is kept.
void StripAnalyzeExtension(std::string& name);

// Detects the byte order of a header by its sizeof_hdr and, when reversed, reverses
// the fields the reader uses. Returns 0 (native), 1 (swapped) or -1 (not a header).
int SwapAnalyzeHeader(unsigned char header[kAnalyzeHeaderSize]);

// Reverses the byte order of each of n consecutive items of 2k bytes, in place.
void SwapBytes(void* p, int k, int n);
