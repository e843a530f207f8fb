#pragma once
// Element arithmetic of the matrix template, one specialisation per element type.
//
// Matrices compute in their element type: integer sums, products and differences
// are computed in int and stored back (wrapping at the type's width), float rounds
// at every step, bool treats operands as 0/1 and stores "not zero", and
// vexl_Complex uses complex arithmetic. Kernel builders compute in double and store
// through FromDouble (truncation toward zero for integers, the low byte for bytes,
// not-zero for bool, (v, 0) for complex); no plain cast of an out-of-range double
// is ever made.
//
// Div requires a divisor that is not zero for the integer types and bool; callers
// test IsZero first.
#include <cstdint>

#include "numerics/vexl_Complex.h"
#include "platform/Conversions.h"

template <class T>
struct MatrixElement;

template <>
struct MatrixElement<int> {
  static int Add(int a, int b) { return a + b; }  // -fwrapv: wraps modulo 2^32
  static int Sub(int a, int b) { return a - b; }
  static int Mul(int a, int b) { return a * b; }
  // INT_MIN / -1 wraps to INT_MIN instead of trapping.
  static int Div(int a, int b) { return b == -1 ? 0 - a : a / b; }
  static bool IsZero(int a) { return a == 0; }
  static bool Less(int a, int b) { return a < b; }
  static bool Equal(int a, int b) { return a == b; }
  static int FromDouble(double v) { return TruncToInt32(v); }
  static double ToDouble(int a) { return a; }
  static vexl_Complex ToComplex(int a) { return vexl_Complex(a, 0.0); }
  // Mean: the sum divided by the count in the element's arithmetic.
  static int Mean(int sum, int n) { return Div(sum, n); }
  // The mean that RemoveMean subtracts: divided in double, stored by truncation.
  static int RemovedMean(int sum, int n) { return TruncToInt32(static_cast<double>(sum) / n); }
  // Division of a matrix element by a scalar (operator/).
  static int Scale(int v, int d) { return Div(v, d); }
};

template <>
struct MatrixElement<short> {
  static short Add(short a, short b) { return LowShort(int(a) + int(b)); }
  static short Sub(short a, short b) { return LowShort(int(a) - int(b)); }
  static short Mul(short a, short b) { return LowShort(int(a) * int(b)); }
  static short Div(short a, short b) { return LowShort(int(a) / int(b)); }
  static bool IsZero(short a) { return a == 0; }
  static bool Less(short a, short b) { return a < b; }
  static bool Equal(short a, short b) { return a == b; }
  static short FromDouble(double v) { return DoubleToLowShort(v); }
  static double ToDouble(short a) { return a; }
  static vexl_Complex ToComplex(short a) { return vexl_Complex(a, 0.0); }
  static short Mean(short sum, int n) { return LowShort(int(sum) / n); }
  static short RemovedMean(short sum, int n) { return FromDouble(static_cast<double>(sum) / n); }
  static short Scale(short v, short d) { return Div(v, d); }
};

template <>
struct MatrixElement<unsigned char> {
  using T = unsigned char;
  static T Add(T a, T b) { return LowByte(int(a) + int(b)); }
  static T Sub(T a, T b) { return LowByte(int(a) - int(b)); }
  static T Mul(T a, T b) { return LowByte(int(a) * int(b)); }
  static T Div(T a, T b) { return LowByte(int(a) / int(b)); }
  static bool IsZero(T a) { return a == 0; }
  static bool Less(T a, T b) { return a < b; }
  static bool Equal(T a, T b) { return a == b; }
  static T FromDouble(double v) { return DoubleToLowByte(v); }
  static double ToDouble(T a) { return a; }
  static vexl_Complex ToComplex(T a) { return vexl_Complex(a, 0.0); }
  static T Mean(T sum, int n) { return LowByte(int(sum) / n); }
  static T RemovedMean(T sum, int n) { return FromDouble(static_cast<double>(sum) / n); }
  static T Scale(T v, T d) { return Div(v, d); }
};

template <>
struct MatrixElement<bool> {
  static bool Add(bool a, bool b) { return a || b; }
  static bool Sub(bool a, bool b) { return a != b; }
  static bool Mul(bool a, bool b) { return a && b; }
  static bool Div(bool a, bool /*b: true*/) { return a; }
  static bool IsZero(bool a) { return !a; }
  static bool Less(bool a, bool b) { return !a && b; }
  static bool Equal(bool a, bool b) { return a == b; }
  static bool FromDouble(double v) { return v != 0.0; }
  static double ToDouble(bool a) { return a ? 1.0 : 0.0; }
  static vexl_Complex ToComplex(bool a) { return vexl_Complex(a ? 1.0 : 0.0, 0.0); }
  // Integer division of 0/1 by the count: true only for one element holding true.
  static bool Mean(bool sum, int n) { return (int(sum) / n) != 0; }
  static bool RemovedMean(bool sum, int n) { return FromDouble(static_cast<double>(sum) / n); }
  static bool Scale(bool v, bool d) { return Div(v, d); }
};

template <>
struct MatrixElement<float> {
  static float Add(float a, float b) { return a + b; }
  static float Sub(float a, float b) { return a - b; }
  static float Mul(float a, float b) { return a * b; }
  static float Div(float a, float b) { return a / b; }
  static bool IsZero(float a) { return a == 0.0f; }
  static bool Less(float a, float b) { return a < b; }
  static bool Equal(float a, float b) { return a == b; }
  static float FromDouble(double v) { return static_cast<float>(v); }
  static double ToDouble(float a) { return a; }
  static vexl_Complex ToComplex(float a) { return vexl_Complex(a, 0.0); }
  static float Mean(float sum, int n) { return sum / static_cast<float>(n); }
  static float RemovedMean(float sum, int n) { return sum / static_cast<float>(n); }
  // Divided in double, the quotient rounded to float.
  static float Scale(float v, float d) {
    return static_cast<float>(static_cast<double>(v) / static_cast<double>(d));
  }
};

template <>
struct MatrixElement<double> {
  static double Add(double a, double b) { return a + b; }
  static double Sub(double a, double b) { return a - b; }
  static double Mul(double a, double b) { return a * b; }
  static double Div(double a, double b) { return a / b; }
  static bool IsZero(double a) { return a == 0.0; }
  static bool Less(double a, double b) { return a < b; }
  static bool Equal(double a, double b) { return a == b; }
  static double FromDouble(double v) { return v; }
  static double ToDouble(double a) { return a; }
  static vexl_Complex ToComplex(double a) { return vexl_Complex(a, 0.0); }
  static double Mean(double sum, int n) { return sum / n; }
  static double RemovedMean(double sum, int n) { return sum / n; }
  static double Scale(double v, double d) { return v / d; }
};

template <>
struct MatrixElement<vexl_Complex> {
  using T = vexl_Complex;
  static T Add(const T& a, const T& b) { return a + b; }
  static T Sub(const T& a, const T& b) { return a - b; }
  static T Mul(const T& a, const T& b) { return a * b; }
  static T Div(const T& a, const T& b) { return a / b; }
  static bool IsZero(const T& a) { return a.re == 0.0 && a.im == 0.0; }
  static bool Less(const T& a, const T& b) { return a < b; }  // by modulus
  static bool Equal(const T& a, const T& b) { return a == b; }  // both parts
  static T FromDouble(double v) { return T(v, 0.0); }
  // The real part: kernel values are stored as (v, 0).
  static double ToDouble(const T& a) { return a.re; }
  static T ToComplex(const T& a) { return a; }
  static T Mean(const T& sum, int n) { return T(sum.re / n, sum.im / n); }
  static T RemovedMean(const T& sum, int n) { return Mean(sum, n); }
  static T Scale(const T& v, const T& d) { return v / d; }
};
