// Raster: drawing rectangles, circles and discs; statistics and erosion along point lists.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "numerics/HistogramFunctions.h"
#include "platform/Conversions.h"
#include "volume/Raster.h"
#include "volume/RasterPixels.h"

namespace {

constexpr double kTwoPi = 2.0 * 3.141592653589793;

constexpr int kEdgeDr[4] = {0, -1, 0, 1};
constexpr int kEdgeDc[4] = {-1, 0, 1, 0};

// d to the power e (e >= 0) by repeated squaring.
double PowerBySquaring(double d, int e) {
  double result = 1.0;
  for (; e > 0; e >>= 1) {
    if (e & 1) result *= d;
    d *= d;
  }
  return result;
}

// Calls f(row, col) for every point of the list that lies inside a rows x cols image.
template <class F>
void ForEachPoint(const PointList2D& points, int rows, int cols, F f) {
  int row = 0, col = 0;
  bool more = points.rows.First(&row) && points.cols.First(&col);
  while (more) {
    if (row >= 0 && row < rows && col >= 0 && col < cols) f(row, col);
    more = points.rows.Next(&row) && points.cols.Next(&col);
  }
}

}  // namespace

template <class T>
void Raster<T>::DrawRectangle(const ImageRect& rect, T value) {
  const bool topInside = rect.rowStart >= 0 && rect.rowStart < rows;
  const bool bottomInside = rect.rowEnd >= 0 && rect.rowEnd < rows;
  for (int c = std::max(rect.colStart, 0); c <= rect.colEnd && c < cols; ++c) {
    if (topInside) rowTable[rect.rowStart][c] = value;
    if (bottomInside) rowTable[rect.rowEnd][c] = value;
  }
  const bool leftInside = rect.colStart >= 0 && rect.colStart < cols;
  const bool rightInside = rect.colEnd >= 0 && rect.colEnd < cols;
  for (int r = std::max(rect.rowStart, 0); r <= rect.rowEnd && r < rows; ++r) {
    if (leftInside) rowTable[r][rect.colStart] = value;
    if (rightInside) rowTable[r][rect.colEnd] = value;
  }
}

template <class T>
void Raster<T>::DrawThickRectangle(const ImageRect& rect, T value) {
  for (int k = 1; k <= 3; ++k) {
    ImageRect grown = rect;
    grown.colStart -= k;
    grown.colEnd += k;
    grown.rowStart -= k;
    grown.rowEnd += k;
    DrawRectangle(grown, value);
  }
}

template <class T>
void Raster<T>::FillRectangle(const ImageRect& rect, T value) {
  for (int r = std::max(rect.rowStart, 0); r <= rect.rowEnd && r < rows; ++r)
    for (int c = std::max(rect.colStart, 0); c <= rect.colEnd && c < cols; ++c) rowTable[r][c] = value;
}

template <class T>
void Raster<T>::DrawCircle(int radius, double centreRow, double centreCol, T value) {
  if (radius < 0) return;  // the angle would run backwards for ever
  // 50 points per unit of radius; the count is formed in 64 bits so that it cannot wrap.
  const double step = kTwoPi / static_cast<double>(int64_t(50) * radius);
  double theta = 0.0;
  for (;;) {
    const int r = TruncToInt32(std::cos(theta) * radius + centreRow + 0.5);
    const int c = TruncToInt32(std::sin(theta) * radius + centreCol + 0.5);
    if (r >= 0 && r < rows && c >= 0 && c < cols) rowTable[r][c] = value;
    if (!(theta + step < kTwoPi)) break;
    theta += step;
  }
}

template <class T>
void Raster<T>::DrawCenteredCircle(T value) {
  const int m = std::min(rows, cols);
  FillDisc(m * 0.5, m * 0.5 - 0.5, m * 0.5 - 0.5, value);
}

template <class T>
void Raster<T>::FillDisc(double radius, double centreRow, double centreCol, T value) {
  const double limit = radius * radius;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double dc = j - centreCol, dr = i - centreRow;
      if (dc * dc + dr * dr < limit) rowTable[i][j] = value;
    }
}

template <class T>
T Raster<T>::MeanAlongPoints(const PointList2D& points, short power) const {
  const int absPower = power < 0 ? -int(power) : int(power);
  if constexpr (std::is_same_v<T, float>) {
    float sum = 0.0f;
    int n = 0;
    ForEachPoint(points, rows, cols, [&](int r, int c) {
      sum += rowTable[r][c];
      ++n;
    });
    const float mean = n >= 1 ? sum / static_cast<float>(n) : sum;
    if (power == 1) return mean;
    float acc = 0.0f;
    ForEachPoint(points, rows, cols, [&](int r, int c) {
      double t = PowerBySquaring(rowTable[r][c] - mean, absPower);
      if (power < 0) t = 1.0 / t;
      acc += static_cast<float>(t);
    });
    if (n >= 1) acc = acc / static_cast<float>(n);
    return static_cast<float>(SignOfFloat(acc) * std::pow(std::fabs(acc), 1.0 / power));
  } else {
    // Byte images sum in 64-bit integers: a byte accumulator would keep only the sum
    // modulo 256.
    int64_t sum = 0;
    int64_t n = 0;
    ForEachPoint(points, rows, cols, [&](int r, int c) {
      sum += rowTable[r][c];
      ++n;
    });
    const int64_t mean = n >= 1 ? sum / n : sum;
    if (power == 1) return static_cast<T>(mean);
    int64_t acc = 0;
    ForEachPoint(points, rows, cols, [&](int r, int c) {
      double t = PowerBySquaring(static_cast<double>(rowTable[r][c] - mean), absPower);
      if (power < 0) t = 1.0 / t;
      acc += TruncToInt32(t);
    });
    if (n >= 1) acc = acc / n;
    // A byte's sign: 1 when non-zero.
    const double sign = acc != 0 ? 1.0 : 0.0;
    return PixelFromDouble<T>(sign * std::pow(std::fabs(static_cast<double>(acc)), 1.0 / power));
  }
}

template <class T>
int Raster<T>::ErodeOnce(PointList2D& points) {
  std::vector<int> peeled;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const T v = rowTable[r][c];
      if (!(v > T(0))) continue;
      bool edge = r == 0 || c == 0 || r == rows - 1 || c == cols - 1;
      // A float pixel is compared with its own value truncated, so 2.5 differs from 2.5.
      const double own = PixelLabel(v);
      for (int k = 0; k < 4 && !edge; ++k) {
        const int nr = r + kEdgeDr[k], nc = c + kEdgeDc[k];
        if (nr >= 0 && nr < rows && nc >= 0 && nc < cols && static_cast<double>(rowTable[nr][nc]) != own) edge = true;
      }
      if (edge) peeled.push_back(r * cols + c);
    }
  for (int index : peeled) data[index] = T(0);
  for (int index : peeled) {
    const int r = index / cols, c = index % cols;
    bool isolated = true;
    for (int k = 0; k < 4 && isolated; ++k) {
      const int nr = r + kEdgeDr[k], nc = c + kEdgeDc[k];
      if (nr >= 0 && nr < rows && nc >= 0 && nc < cols && rowTable[nr][nc] != T(0)) isolated = false;
    }
    if (isolated) points.Append(r, c);
  }
  return static_cast<int>(peeled.size());
}

template <class T>
int Raster<T>::Erode(PointList2D& points, int times) {
  points.Clear();
  int calls = 0;
  for (int i = 0; i < times; ++i) {
    if (ErodeOnce(points) < 1) break;
    ++calls;
  }
  return calls;
}

// The drawing members are instantiated here; the rest of the class in Raster.cpp.
#define SEGMENTER_INSTANTIATE_RASTER_DRAW(T)                                   \
  template void Raster<T>::DrawRectangle(const ImageRect&, T);                 \
  template void Raster<T>::DrawThickRectangle(const ImageRect&, T);            \
  template void Raster<T>::FillRectangle(const ImageRect&, T);                 \
  template void Raster<T>::DrawCircle(int, double, double, T);                 \
  template void Raster<T>::DrawCenteredCircle(T);                              \
  template void Raster<T>::FillDisc(double, double, double, T);                \
  template T Raster<T>::MeanAlongPoints(const PointList2D&, short) const;      \
  template int Raster<T>::ErodeOnce(PointList2D&);                             \
  template int Raster<T>::Erode(PointList2D&, int);

SEGMENTER_INSTANTIATE_RASTER_DRAW(unsigned char)
SEGMENTER_INSTANTIATE_RASTER_DRAW(float)
