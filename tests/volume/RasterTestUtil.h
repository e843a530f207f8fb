#pragma once
// Small builders for image tests.
#include <vector>

#include "volume/Raster.h"

// An image from its pixels in row-major order.
template <class T>
Raster<T> Image(int rows, int cols, const std::vector<double>& pixels) {
  Raster<T> image(rows, cols);
  for (int i = 0; i < rows * cols; ++i) image.data[i] = static_cast<T>(pixels.at(i));
  return image;
}

template <class T>
std::vector<double> Pixels(const Matrix<T>& m) {
  std::vector<double> out;
  for (int i = 0; i < m.rows * m.cols; ++i) out.push_back(m.data[i]);
  return out;
}
