// Matrix<T>: Gaussian derivative, difference-of-Gaussians, Gabor and Mexican-hat
// kernels. Values are computed in double and stored through MatrixElement<T>.
#include <cmath>

#include "numerics/Matrix.h"
#include "numerics/MatrixElement.h"

namespace {

const double kTwoPi = 6.283185307179586;
const double kPi = 3.141592653589793;

// G(x; sigma), the normalised 1-D Gaussian.
double Gaussian(double x, double sigma) {
  return std::exp(-(x * x) / (2.0 * sigma * sigma)) / (sigma * std::sqrt(kTwoPi));
}

// 2h + 1 with the wrap of the 32-bit arithmetic it is computed in; a side below 1
// (a negative half-width) gives the empty kernel.
int Side(int h) {
  return static_cast<int>(2u * static_cast<unsigned>(h) + 1u);
}

// Divides the kernel by its sum; a sum of 0 (an integer kernel whose values all
// truncate to 0, or an all-zero kernel) leaves it as it is.
template <class T>
void DivideBySum(Matrix<T>& kernel) {
  T sum = kernel.Sum();
  if (!MatrixElement<T>::IsZero(sum)) kernel = kernel / sum;
}

}  // namespace

double GaussianSecondDerivative(double x, double sigma) {
  const double sigma2 = sigma * sigma;
  const double sigma4 = sigma * sigma * sigma * sigma;
  return Gaussian(x, sigma) * (x * x / sigma4 - 1.0 / sigma2);
}

template <class T>
void Matrix<T>::GaussianDerivativeFilter(int dims, double sigma, int order, double extent) {
  using E = MatrixElement<T>;
  const int h = TruncToInt32(extent * sigma);
  const int n = Side(h);
  Matrix<T> kernel;
  if (n < 1) {
    Release();
    return;
  }
  if (dims == 1) {
    kernel.SetSize(1, n);
    if (kernel.data != nullptr && order >= 0 && order <= 2) {
      for (int j = 0; j < n; ++j) {
        const double x = j - h;
        double v = 0.0;
        if (order == 0) {
          v = Gaussian(x, sigma);
        } else if (order == 1) {
          v = -x * Gaussian(x, sigma) / (sigma * sigma);
        } else {
          v = GaussianSecondDerivative(x, sigma);
        }
        kernel.data[j] = E::FromDouble(v);
      }
    }
  } else {
    kernel.SetSize(n, n);
    if (kernel.data != nullptr && (order == 0 || order == 2)) {
      const double sigma6 = sigma * sigma * sigma * sigma * sigma * sigma;
      for (int i = 0; i < n; ++i) {
        const double y = i - h;
        for (int j = 0; j < n; ++j) {
          const double x = j - h;
          double v = 0.0;
          if (order == 0) {
            const double r = std::sqrt(x * x + y * y);
            v = std::exp(-(r * r) / (2.0 * sigma * sigma)) / (sigma * std::sqrt(kTwoPi));
          } else {
            const double r2 = x * x + y * y;
            v = (r2 - 2.0 * sigma * sigma) * std::exp(-r2 / (2.0 * sigma * sigma)) / (kTwoPi * sigma6);
          }
          kernel.rowTable[i][j] = E::FromDouble(v);
        }
      }
      if (order == 0) DivideBySum(kernel);
    }
  }
  *this = kernel;
}

template <class T>
void Matrix<T>::MakeDoGKernel(double a, double b) {
  using E = MatrixElement<T>;
  const int n = static_cast<int>(5u * static_cast<unsigned>(TruncToInt32(b)) + 1u);
  const int h = (n - 1) / 2;
  if (n < 1) {
    Release();
    return;
  }
  Matrix<T> kernel;
  kernel.SetSize(n, n);
  if (kernel.data != nullptr) {
    for (int i = 0; i < n; ++i) {
      const double y = i - h;
      for (int j = 0; j < n; ++j) {
        const double x = j - h;
        const double r = std::sqrt(x * x + y * y);
        const double v = std::exp(-(r * r) / (2.0 * b * b)) / (b * std::sqrt(kTwoPi)) -
                         std::exp(-(r * r) / (2.0 * a * a)) / (a * std::sqrt(kTwoPi));
        kernel.rowTable[i][j] = E::FromDouble(v);
      }
    }
  }
  *this = kernel;
}

template <class T>
void Matrix<T>::MakeGaborKernel(double frequency, double sigma, double angle) {
  using E = MatrixElement<T>;
  const double f = frequency;
  const int h = f > 1e-10 ? TruncToInt32(std::floor(1.5 * sigma / f))
                          : TruncToInt32(std::floor(1.5 * sigma));
  const int n = Side(h);
  if (n < 1) {
    Release();
    return;
  }

  // Separable Gaussian envelope of width sigma / f: E = g^T g.
  Matrix<T> g;
  g.SetSize(1, n);
  if (g.data != nullptr) {
    for (int j = 0; j < n; ++j) {
      const double x = j - h;
      g.data[j] = E::FromDouble((f * f / (sigma * sigma)) *
                                std::exp(-(x * x) * (f * f) / (2.0 * sigma * sigma)));
    }
  }
  Matrix<T> envelope = g.Transpose() * g;

  // Carrier cos(f * u), u the first component of the rotated (row, column) offset.
  const double theta = angle / 180.0 * kPi;
  // Only the first row of the rotation (cos, -sin; sin, cos) is needed.
  const double cosTheta = std::cos(theta);
  const double minusSinTheta = -std::sin(theta);
  Matrix<T> carrier;
  carrier.SetSize(n, n);
  if (carrier.data != nullptr) {
    for (int i = 0; i < n; ++i) {
      const double y = i - h;
      for (int j = 0; j < n; ++j) {
        const double x = j - h;
        // First component of rotation * (y, x)^T, accumulated from 0 as a matrix
        // product does.
        double u = 0.0;
        u = u + cosTheta * y;
        u = u + minusSinTheta * x;
        carrier.rowTable[i][j] = E::FromDouble(std::cos(f * u));
      }
    }
  }

  envelope *= carrier;
  *this = envelope;
  DivideBySum(*this);
}

template <class T>
void Matrix<T>::MakeMexicanHatKernel(double s) {
  using E = MatrixElement<T>;
  const int h = TruncToInt32(std::floor(0.5 * s));
  const int n = Side(h);
  if (n < 1) {
    Release();
    return;
  }
  SetSize(n, n);
  if (data == nullptr) return;
  for (int i = 0; i < n; ++i) {
    const double y = i - h;
    for (int j = 0; j < n; ++j) {
      const double x = j - h;
      const double r2 = x * x + y * y;
      rowTable[i][j] = E::FromDouble((r2 - s * s) * std::exp(-r2 / (2.0 * s * s)) / (s * s));
    }
  }
  const double mean = E::ToDouble(Sum()) / (static_cast<double>(rows) * cols);
  for (int i = 0; i < n * n; ++i) data[i] = E::FromDouble(10.0 * (E::ToDouble(data[i]) - mean));
}

#define SEGMENTER_INSTANTIATE(T)                                                         \
  template void Matrix<T>::GaussianDerivativeFilter(int, double, int, double);           \
  template void Matrix<T>::MakeDoGKernel(double, double);                                \
  template void Matrix<T>::MakeGaborKernel(double, double, double);                      \
  template void Matrix<T>::MakeMexicanHatKernel(double);
SEGMENTER_MATRIX_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
