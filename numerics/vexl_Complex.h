#pragma once
// A complex number of two IEEE doubles, real part first: the element of every
// Fourier-transform work matrix. Default value (0, 0); a real value v becomes (v, 0).
//
// Comparisons are the system's own and are NOT the usual ones:
//  - a != b is true only when BOTH parts differ, so it is not the negation of ==;
//  - a == b is true when both parts are equal;
//  - < and > order by modulus sqrt(re * re + im * im).
// Generic matrix code therefore never tests a complex value with != (it uses
// MatrixElement<T>::IsZero / Equal instead).
#include <cmath>

struct vexl_Complex {
  double re = 0.0;
  double im = 0.0;

  vexl_Complex() = default;
  vexl_Complex(double real, double imag = 0.0) : re(real), im(imag) {}

  double Modulus() const { return std::sqrt(re * re + im * im); }
};

static_assert(sizeof(vexl_Complex) == 16, "vexl_Complex is stored as two packed doubles");

inline vexl_Complex operator+(const vexl_Complex& a, const vexl_Complex& b) {
  return vexl_Complex(a.re + b.re, a.im + b.im);
}
inline vexl_Complex operator-(const vexl_Complex& a, const vexl_Complex& b) {
  return vexl_Complex(a.re - b.re, a.im - b.im);
}
inline vexl_Complex operator*(const vexl_Complex& a, const vexl_Complex& b) {
  return vexl_Complex(a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re);
}
// a * conj(b) / |b|^2; division by (0, 0) gives NaN parts, as real division by 0.0 does.
inline vexl_Complex operator/(const vexl_Complex& a, const vexl_Complex& b) {
  double d = b.re * b.re + b.im * b.im;
  return vexl_Complex((a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d);
}
inline bool operator==(const vexl_Complex& a, const vexl_Complex& b) {
  return a.re == b.re && a.im == b.im;
}
// True only when both parts differ (see the note at the top of this file).
inline bool operator!=(const vexl_Complex& a, const vexl_Complex& b) {
  return a.re != b.re && a.im != b.im;
}
inline bool operator<(const vexl_Complex& a, const vexl_Complex& b) {
  return a.Modulus() < b.Modulus();
}
inline bool operator>(const vexl_Complex& a, const vexl_Complex& b) {
  return a.Modulus() > b.Modulus();
}
