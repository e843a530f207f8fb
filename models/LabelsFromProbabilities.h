#pragma once
// Labelling from class probability volumes (probability x 255, one byte volume per
// class, all of one extent).
//
// First the maximum rule: each voxel takes the class of the largest byte; ties keep
// the lower class. Then, when weight is not 0 (nor -0), five smoothing passes over the
// interior voxels (indices 1 .. size - 2 on every axis), slice by slice, row by row,
// column by column, updating the labels in place. A voxel whose six face neighbours
// (read in the order (-1,0,0), (+1,0,0), (0,0,-1), (0,-1,0), (0,0,+1), (0,+1,0) as
// (slice, row, column) steps) all carry its label stays. Otherwise each class k with a
// byte b >= 1 there scores E = float(c x weight - ln b), c the number of neighbours
// not labelled k (c x weight in double); the first class of strictly lowest E below
// 1e6 wins, else the voxel keeps its label.
#include "volume/HeapMatrix3D.h"

// `labels` is resized to the extent of probs[0] and filled. With numClasses < 1, or
// volumes of unequal extents, `labels` becomes empty and false is returned.
bool LabelsFromProbabilities(const HeapMatrix3D<unsigned char>* probs, int numClasses,
                             HeapMatrix3D<unsigned char>& labels, float weight);
