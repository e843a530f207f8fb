#pragma once
// A point in the plane (region outlines, vertex angles).
#include <cmath>
#include <istream>
#include <ostream>

template <class T>
class Point2D {
 public:
  Point2D() = default;
  Point2D(T x, T y) : x_(x), y_(y) {}
  virtual ~Point2D() = default;

  // Raw values, x first (8 bytes each for doubles).
  virtual std::ostream& Write(std::ostream& out) const {
    out.write(reinterpret_cast<const char*>(&x_), sizeof(T));
    out.write(reinterpret_cast<const char*>(&y_), sizeof(T));
    return out;
  }
  virtual std::istream& Read(std::istream& in) {
    in.read(reinterpret_cast<char*>(&x_), sizeof(T));
    in.read(reinterpret_cast<char*>(&y_), sizeof(T));
    return in;
  }
  virtual double Distance(const Point2D<T>& p) const {
    double dx = static_cast<double>(x_) - p.X();
    double dy = static_cast<double>(y_) - p.Y();
    return std::sqrt(dx * dx + dy * dy);
  }
  // Direction from this point to p, in (-pi, pi].
  virtual double AngleTo(const Point2D<T>& p) const {
    return std::atan2(static_cast<double>(p.Y()) - y_, static_cast<double>(p.X()) - x_);
  }
  virtual void Set(T x, T y) {
    x_ = x;
    y_ = y;
  }
  virtual void Get(T* x, T* y) const {
    *x = x_;
    *y = y_;
  }
  virtual T X() const { return x_; }
  virtual T Y() const { return y_; }
  virtual T& XRef() { return x_; }
  virtual T& YRef() { return y_; }

 private:
  T x_ = T();
  T y_ = T();
};
