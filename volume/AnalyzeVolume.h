#pragma once
// Volumes as Analyze 7.5 pairs (".hdr" + ".img") and the by-extension volume files.
//
// The ".img" holds the voxels only, x fastest, then y, then z: the voxel at column x,
// row y, slice z is element (z*Y + y)*X + x. X is the volume's dim2, Y its dim1 and
// Z its dim0. 8-bit files are read as one unsigned byte per voxel, 16-bit (and 1-bit)
// files as 16-bit values in the header's byte order. This program writes 16-bit
// little-endian pairs.
#include <string>

#include "img/AnalyzeHeader.h"
#include "volume/HeapMatrix3D.h"

// Reads and checks a header (a trailing ".img" or ".hdr" becomes ".hdr"). A header
// with an illegal extent or voxel size prints two "WARNING: " lines on standard output
// and is used with absolute values; any other failure ends the program with status 1
// after the header layer's message.
AnalyzeImageInfo* ReadAnalyzeHeader(AnalyzeImageInfo& info, const std::string& headerName, AnalyzeRange& range);

// Reads the voxels of a ".img" into `volume`. Returns 1 on success; 0 when an extent
// of `info` is 0, so that there is no voxel to read ("Can not read <name>: its
// header's extents <x> x <y> x <z> hold no voxel\n", checked before the file is
// opened), when the file does not open ("File open error!") or is not a regular file
// ("Not a regular file: <name>\n"); 212 when it is shorter than the header's extents
// need ("file read error\n"); on failure the volume is left as it was. Unsigned 16-bit
// values above 32767 make every value of the volume halve.
int ReadAnalyzeData(const std::string& dataName, const AnalyzeImageInfo& info, const AnalyzeRange& range,
                    HeapMatrix3D<short>& volume);

// Reads the pair named by `name` without its extension ("a/b.img", "a/b.hdr" and "a/b"
// read a/b.hdr and a/b.img). True when the volume holds voxels afterwards; a header
// with an extent 0 and a voxel file that fails to read leave the volume empty.
bool ReadAnalyze(const std::string& name, HeapMatrix3D<short>& volume);

// Writes "<folder>\<base>.hdr" and "<folder>\<base>.img", where folder is the text
// before the last '/' (or '\') of the name and base the file name without its
// extension; a name without a folder writes into the working folder. The header's
// description is "<folder>\<base>.a". info.bits 16 writes 16-bit voxels, any other
// depth the low byte of each voxel. Returns 1, or 0 when the header or the voxel file
// could not be written in full. An info extent outside 0 .. kMaxAnalyzeExtent (the
// header holds 16-bit extents) writes nothing: "Can not write <folder>\<base>.hdr:
// extent <n> outside 0..32767\n" on standard output, result 0.
constexpr int kMaxAnalyzeExtent = 32767;
int WriteAnalyze(const std::string& name, const AnalyzeImageInfo& info, const AnalyzeRange& range,
                 const HeapMatrix3D<short>& volume);

// A 16-bit pair with voxel sizes 1.0, glmin 0 and glmax 65535; the result of WriteAnalyze.
int WriteAnalyze16(const std::string& name, const HeapMatrix3D<short>& volume);

// A byte volume widened to a 16-bit pair, as WriteAnalyze16 writes it.
int WriteAnalyzeVolume(const std::string& name, const HeapMatrix3D<unsigned char>& volume);

// By the exact text after the last '.': "3dm" reads a volume file, "img" or "hdr" an
// Analyze pair. True only when the read succeeded and the volume holds voxels; any
// other extension reads nothing and gives false.
bool ReadVolume(const std::string& name, HeapMatrix3D<short>& volume);

// "3dm" writes a volume file, "img" or "hdr" a 16-bit Analyze pair. True only when the
// volume holds voxels and was written in full; any other extension, and an empty
// volume, write nothing. The files are written under temporary names beside the
// output ("<base>.partial-<unique>.3dm", ".hdr", ".img", where <base> is the output's
// file name without its extension, cut at its end when the temporary's name would pass
// the folder's limit for a name) and renamed into place only when complete: for a pair
// an older header is removed first, then the ".img" and last the ".hdr" take their
// names, so a header under the output's name stands for a complete pair. The header
// records the output's own name, as WriteAnalyze16 writes it. On failure no temporary
// file is left and nothing new stands under the output's names (an older file there
// stays, except an older header once the renames have begun).
bool WriteVolume(const std::string& name, const HeapMatrix3D<unsigned char>& volume);
