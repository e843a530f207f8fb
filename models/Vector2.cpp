#include "models/Vector2.h"

#include <algorithm>

Vector2::Vector2(int n) {
  if (n > 0) data_.assign(static_cast<size_t>(n), 0.0);
}

void Vector2::Resize(int size, bool keep) {
  if (size == Size()) return;
  if (size <= 0) {
    data_.clear();
    data_.shrink_to_fit();
    return;
  }
  std::vector<double> fresh(static_cast<size_t>(size), 0.0);
  if (keep) std::copy_n(data_.begin(), std::min(size, Size()), fresh.begin());
  data_.swap(fresh);
}

Vector2& Vector2::operator+=(const Vector2& other) {
  const int n = std::min(Size(), other.Size());
  for (int i = 0; i < n; ++i) data_[i] += other.data_[i];
  return *this;
}

double Vector2::Dot(const Vector2& other) const {
  const int n = std::min(Size(), other.Size());
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += data_[i] * other.data_[i];
  return sum;
}

void Subtract(Vector2& out, const Vector2& a, const Vector2& b) {
  Vector2 result = a;  // a's elements stand beyond the common length
  const int n = std::min(a.Size(), b.Size());
  for (int i = 0; i < n; ++i) result[i] = a[i] - b[i];
  out = result;
}

Vector2 operator-(const Vector2& a, const Vector2& b) {
  Vector2 out;
  Subtract(out, a, b);
  return out;
}

void Scale(Vector2& out, const Vector2& v, double s) {
  out = v;
  for (int i = 0; i < out.Size(); ++i) out[i] *= s;
}

Vector2 operator*(const Vector2& v, double s) {
  Vector2 out;
  Scale(out, v, s);
  return out;
}

void Divide(Vector2& out, const Vector2& v, double s) { Scale(out, v, 1.0 / s); }

Vector2 operator/(const Vector2& v, double s) {
  Vector2 out;
  Divide(out, v, s);
  return out;
}
