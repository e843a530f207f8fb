#pragma once
// Vector2: the dense double vector of the Gaussian-mixture code (one sample, a mean,
// a difference). Separate from VectorQo<T>.
//
// Shapes never raise errors: operations on two vectors work over their common length
// (see each operation). Element access does not check the index.
#include <vector>

class Vector2 {
 public:
  // Empty: size 0.
  Vector2() = default;
  // n zeros (n <= 0: empty).
  explicit Vector2(int n);
  Vector2(const Vector2& other) = default;
  // Resized to the source's size, elements copied.
  Vector2& operator=(const Vector2& other) = default;
  virtual ~Vector2() = default;

  // Same size: nothing. 0 or below: empty. Otherwise a new block of zeros; with `keep`
  // the common prefix is copied.
  virtual void Resize(int size, bool keep);

  int Size() const { return static_cast<int>(data_.size()); }
  double& operator[](int i) { return data_[i]; }
  const double& operator[](int i) const { return data_[i]; }

  // Element-wise over the common length; the rest of this vector stays.
  Vector2& operator+=(const Vector2& other);
  // Sum of products over the common length.
  double Dot(const Vector2& other) const;

 private:
  std::vector<double> data_;
};

// a - b, sized as a: the difference over the common length, a's elements beyond it.
void Subtract(Vector2& out, const Vector2& a, const Vector2& b);
Vector2 operator-(const Vector2& a, const Vector2& b);
// Every element times s.
void Scale(Vector2& out, const Vector2& v, double s);
Vector2 operator*(const Vector2& v, double s);
// Every element times 1 / s.
void Divide(Vector2& out, const Vector2& v, double s);
Vector2 operator/(const Vector2& v, double s);
