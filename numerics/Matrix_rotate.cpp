// Matrix<T>: rotation about the centre and the squared distance of column vectors.
#include <cmath>

#include "numerics/Matrix.h"
#include "numerics/MatrixElement.h"

namespace {

// A source coordinate counts as integral within 0.0001 of floor or ceil.
bool Integral(double v, int* index) {
  const double lo = std::floor(v);
  const double hi = std::ceil(v);
  if (std::fabs(lo - v) < 0.0001) {
    *index = TruncToInt32(lo);
    return true;
  }
  if (std::fabs(hi - v) < 0.0001) {
    *index = TruncToInt32(hi);
    return true;
  }
  return false;
}

}  // namespace

template <class T>
T Matrix<T>::SquaredDistance(const Matrix<T>& other) const {
  if (other.cols != 1 || cols != 1 || rows != other.rows) return T();
  const Matrix<T> d = *this - other;
  const Matrix<T> product = d.Transpose() * d;
  return product.data == nullptr ? T() : product.data[0];
}

template <class T>
Matrix<T> Matrix<T>::Rotate(double angle) const {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(rows, cols);
  if (result.data == nullptr || data == nullptr) return result;

  const double theta = angle / 180.0 * 3.141592653589793;
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  const double hr = rows * 0.5;
  const double hk = cols * 0.5;
  auto inside = [this](int r, int q) { return r >= 0 && r < rows && q >= 0 && q < cols; };

  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const double y = i + 0.5 - hr;
      const double x = j + 0.5 - hk;
      const double r = s * x + c * y + hr - 0.5;
      const double q = c * x - s * y + hk - 0.5;
      int ri = 0;
      int qi = 0;
      if (Integral(r, &ri) && Integral(q, &qi)) {
        result.rowTable[i][j] = inside(ri, qi) ? rowTable[ri][qi] : T();
        continue;
      }
      // Inverse-distance weights of the four neighbours, held in T.
      const int rows2[2] = {TruncToInt32(std::floor(r)), TruncToInt32(std::ceil(r))};
      const int cols2[2] = {TruncToInt32(std::floor(q)), TruncToInt32(std::ceil(q))};
      T value = T();
      T weightSum = T();
      for (int rr : rows2) {
        for (int qq : cols2) {
          if (!inside(rr, qq)) continue;
          const double d = std::sqrt((rr - r) * (rr - r) + (qq - q) * (qq - q));
          const T weight = E::FromDouble(1.0 / d);
          value = E::Add(value, E::Mul(rowTable[rr][qq], weight));
          weightSum = E::Add(weightSum, weight);
        }
      }
      result.rowTable[i][j] = E::Less(T(), weightSum) ? E::Div(value, weightSum) : T();
    }
  }
  return result;
}

#define SEGMENTER_INSTANTIATE(T)                                        \
  template T Matrix<T>::SquaredDistance(const Matrix<T>&) const;        \
  template Matrix<T> Matrix<T>::Rotate(double) const;
SEGMENTER_MATRIX_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
