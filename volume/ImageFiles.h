#pragma once
// Image files: the portable pixmap family (Raster<T>::ReadPpm / WritePpm) and 8-bit
// grey images written through the FreeImage library.
//
// Portable pixmap, as written (all header numbers decimal text):
//   "P" type "\n"            type 2 grey text, 3 colour text, 5 grey binary,
//                            6 colour binary; 4 is written as a header alone
//   cols " " rows "\n"
//   "255\n"
//   body                     type 2: rows*cols values, each followed by one space,
//                                    no line breaks, top row first;
//                            type 3: every value three times, each followed by a space;
//                            type 5: rows*cols bytes, row-major;
//                            type 6: every byte three times (rows*cols*3 bytes).
//   Float pixels are truncated toward zero; a byte written for a float pixel is the
//   low byte of that integer.
//
// As read: line 1 is "P" and the type digits alone on the line (trailing blanks and a
// carriage return allowed). Then width, height and the maximum value, separated by
// white space and by comment lines starting with "#". The rest of the maximum value's
// line must be blank; its newline ends the header and the body follows. Colour
// pixels become (r + g + b) / 3 (integer division). Text values are decimal integers
// (a byte image keeps their low byte). A reader rejects: a first line that is not
// "P" and a number, a type other than 2, 3, 5, 6, a width or height below 1 or past
// 2^31 - 1 pixels, a maximum value outside 1 .. 65535 (above 255 for the binary types,
// whose samples are one byte), anything else in the header, and a body shorter than
// the header says (checked before the image is sized). Bytes after the body are ignored.
#include "numerics/Matrix.h"

struct FIBITMAP;

// Writes the image as an 8-bit grey image (palette i -> grey i) in the format that the
// file name's extension selects (".tif" for TIFF), matrix row 0 at the top, with dpi
// dots per inch stored as dpi * 11811 / 300 pixels per metre on both axes. True when
// the library reports a successful save; false, printing nothing, for an empty image,
// an unknown extension, a format that cannot be written at 8 bits, a failed
// allocation or a failed save.
bool SaveGreyImage(const Matrix<unsigned char>& image, const char* fileName, int dpi);

// Saves a FreeImage bitmap in the format the file name selects, after checking that
// the format can be written at the bitmap's bit depth. Does not unload the bitmap.
bool SaveImage(FIBITMAP* bitmap, const char* fileName, int flags);
