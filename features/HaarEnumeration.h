#pragma once
// The Haar families of the voxel sample's feature pool. Each enumerator deletes the
// filters in `filters`, empties the list, then creates one filter object per entry,
// appends it to `filters` (poolPosition := its position) and appends a PbtFid of kind
// 'H' to `pool` with params[0] = variant, index = the filter's position and the
// filter's description. (depth, height, width) is the sample box (2r + 1 each).
//
// A trained model names Haar features only by these positions, so the order, the
// sizes, the placements and the point where each loop stops on a degenerate filter
// are part of the stored-model format.
#include <vector>

#include "features/HaarFilter3D.h"
#include "pbt/PbtFid.h"

// Deletes every filter and empties the list.
void DeleteHaarFilters(std::vector<HaarFilter3D*>& filters);

// The version-0 pool: sizes (sA, sB, sC) from the box extents down in steps of 2 while
// >= 2; per size the types 0 ... 9, each centred (variant 1) and, for types 3 ... 9,
// at the shifted placements. A degenerate centred filter ends the size's type loop; a
// degenerate shifted filter ends its innermost placement loop.
void AddHaarFeaturesVersion0(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int depth,
                             int height, int width);
// As version 0, but every single-box filter (type 9) is entered with variants 1, 4, 5
// and 6.
void AddHaarFeaturesVersion1(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int depth,
                             int height, int width);
// The edge-sample pool: every usable filter three times (variants 1, 2, 3); centred
// filters, shifted filters of types 0 to 2, one-voxel-thin filters and the special
// filters (only for boxes of at least 12 on every axis). A degenerate filter is
// dropped and only its own type or placement is skipped.
void AddEdgeHaarFeatures(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int depth,
                         int height, int width);
