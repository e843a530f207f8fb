#pragma once
// Plane angles for the sample features and region outlines.
#include "numerics/Point2D.h"

double DegToRad(double degrees);

// Brings an angle into [0, 2 pi] by at most ten turns each way (exactly 2 pi stays).
double NormalizeAngle(double a);

double PointDistance(double x1, double y1, double x2, double y2);

// Angle of the vector from (x1, y1) to (x2, y2) in [0, 2 pi); 0 for a vector
// shorter than 1e-10.
double DirectionAngle(double x1, double y1, double x2, double y2);

// Direction of the bisector of the turn at p2 from edge p2-p3 to edge p2-p1.
// When curvature is given it receives 2e / L, with e the turn minus pi and L the
// two edge lengths summed (0 when L is 0).
double VertexAngle(const Point2D<double>* p1, const Point2D<double>* p2, const Point2D<double>* p3,
                   double* curvature);
