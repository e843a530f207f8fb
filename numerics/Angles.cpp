#include "numerics/Angles.h"

#include <cmath>

double DegToRad(double degrees) { return degrees * M_PI / 180.0; }

double NormalizeAngle(double a) {
  if (a < 0) {
    for (int i = 0; i < 10 && a < 0; ++i) a += 2 * M_PI;
  }
  for (int i = 0; i < 10 && a > 2 * M_PI; ++i) a -= 2 * M_PI;
  return a;
}

double PointDistance(double x1, double y1, double x2, double y2) {
  return std::sqrt((x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1));
}

double DirectionAngle(double x1, double y1, double x2, double y2) {
  double r = PointDistance(x1, y1, x2, y2);
  if (r <= 1e-10) return 0.0;
  double a = std::acos((x2 - x1) / r);
  return y1 <= y2 ? a : 2 * M_PI - a;
}

double VertexAngle(const Point2D<double>* p1, const Point2D<double>* p2, const Point2D<double>* p3,
                   double* curvature) {
  double a1 = NormalizeAngle(DirectionAngle(p2->X(), p2->Y(), p1->X(), p1->Y()));
  double a2 = NormalizeAngle(DirectionAngle(p2->X(), p2->Y(), p3->X(), p3->Y()));
  double d = NormalizeAngle(a1 - a2);
  double m = NormalizeAngle(a2 + d / 2);
  if (curvature != nullptr) {
    double e = d - M_PI;
    if (e > M_PI) e -= 2 * M_PI;
    double len = PointDistance(p2->X(), p2->Y(), p1->X(), p1->Y()) +
                 PointDistance(p2->X(), p2->Y(), p3->X(), p3->Y());
    *curvature = len > 0 ? 2 * e / len : 0.0;
  }
  return m;
}
