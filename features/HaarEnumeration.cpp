#include "features/HaarEnumeration.h"

#include <cstdio>
#include <initializer_list>
#include <string>

#include "platform/Conversions.h"

namespace {

std::string Describe(const HaarFilter3D& f) {
  char buf[160];
  if (f.type == HaarFilter3D::kSpecialType) {
    std::snprintf(buf, sizeof buf, "SPECIAL HAAR FEATURE: front: %i, top: %i, left: %i, depth: %i, height: %i, width: %i",
                  f.front, f.top, f.left, f.depth, f.height, f.width);
  } else {
    std::snprintf(buf, sizeof buf, "type: %i, front: %i, top: %i, left: %i, depth: %i, height: %i, width: %i",
                  f.type, f.front, f.top, f.left, f.depth, f.height, f.width);
  }
  return buf;
}

// Appends the filter to the list and its pool entry with the given variant.
void Enter(HaarFilter3D* f, int variant, std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool) {
  const int position = static_cast<int>(filters.size());
  f->poolPosition = position;
  filters.push_back(f);
  PbtFid fid;
  fid.kind = 'H';
  fid.params[0] = variant;
  fid.index = position;
  fid.setDescription(Describe(*f).c_str());
  pool.push_back(fid);
}

// Enters a standard filter once per variant: the tested object for the first, a new
// object with the same arguments for each further one.
void EnterVariants(HaarFilter3D* f, std::initializer_list<int> variants, std::vector<HaarFilter3D*>& filters,
                   std::vector<PbtFid>& pool) {
  bool first = true;
  for (int v : variants) {
    HaarFilter3D* g = first ? f : new HaarFilter3D(f->type, f->front, f->top, f->left, f->depth, f->height, f->width);
    first = false;
    Enter(g, v, filters, pool);
  }
}

// The versioned families; `extraSingleBoxVariants` adds the variants 4, 5, 6 of type 9.
void AddVersionedHaar(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int A, int B, int E,
                      bool extraSingleBoxVariants) {
  DeleteHaarFilters(filters);
  auto enter = [&](HaarFilter3D* f, int t) {
    if (extraSingleBoxVariants && t == 9) {
      EnterVariants(f, {1, 4, 5, 6}, filters, pool);
    } else {
      EnterVariants(f, {1}, filters, pool);
    }
  };
  for (int sA = A; sA >= 2; sA -= 2) {
    for (int sB = B; sB >= 2; sB -= 2) {
      for (int sC = E; sC >= 2; sC -= 2) {
        const int oA = A - sA, oB = B - sB, oC = E - sC;
        for (int t = 0; t <= 9; ++t) {
          HaarFilter3D* centred = new HaarFilter3D(t, oA / 2, oB / 2, oC / 2, sA, sB, sC);
          if (centred->IsDegenerate()) {
            delete centred;
            break;  // the remaining types of this size are skipped
          }
          enter(centred, t);
          if (t < 3) continue;
          for (int x = 0; x <= oA; x += 2) {
            for (int y = 0; y < oB; y += 2) {
              for (int z = 0; z < oC; z += 2) {
                HaarFilter3D* shifted = new HaarFilter3D(t, x, y, z, sA, sB, sC);
                if (shifted->IsDegenerate()) {
                  delete shifted;
                  break;  // the rest of this z loop is skipped
                }
                enter(shifted, t);
              }
            }
          }
        }
      }
    }
  }
}

// Edge pool: a usable filter goes in three times, a degenerate one is dropped.
void TryEdgeFilter(HaarFilter3D* f, std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool) {
  if (f->IsDegenerate()) {
    delete f;
    return;
  }
  EnterVariants(f, {1, 2, 3}, filters, pool);
}

}  // namespace

void DeleteHaarFilters(std::vector<HaarFilter3D*>& filters) {
  for (HaarFilter3D* f : filters) delete f;
  filters.clear();
}

void AddHaarFeaturesVersion0(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int depth,
                             int height, int width) {
  AddVersionedHaar(filters, pool, depth, height, width, false);
}

void AddHaarFeaturesVersion1(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int depth,
                             int height, int width) {
  AddVersionedHaar(filters, pool, depth, height, width, true);
}

void AddEdgeHaarFeatures(std::vector<HaarFilter3D*>& filters, std::vector<PbtFid>& pool, int A, int B, int E) {
  DeleteHaarFilters(filters);
  // Centred filters of every size and type.
  for (int sA = A; sA >= 2; sA -= 2) {
    for (int sB = B; sB >= 2; sB -= 2) {
      for (int sC = E; sC >= 2; sC -= 2) {
        for (int t = 0; t <= 9; ++t) {
          TryEdgeFilter(new HaarFilter3D(t, (A - sA) / 2, (B - sB) / 2, (E - sC) / 2, sA, sB, sC), filters, pool);
        }
      }
    }
  }
  // Shifted half-split filters at every even placement.
  for (int sA = A - 1; sA >= 2; sA -= 4) {
    for (int sB = B - 1; sB >= 2; sB -= 4) {
      for (int sC = E - 1; sC >= 2; sC -= 4) {
        for (int t = 0; t <= 2; ++t) {
          for (int x = 0; x <= A - sA; x += 2) {
            for (int y = 0; y <= B - sB; y += 2) {
              for (int z = 0; z <= E - sC; z += 2) {
                TryEdgeFilter(new HaarFilter3D(t, x, y, z, sA, sB, sC), filters, pool);
              }
            }
          }
        }
      }
    }
  }
  // One slice deep.
  for (int sB = B; sB >= 1; --sB) {
    for (int sC = E; sC >= 1; --sC) {
      for (int t : {0, 1, 3, 4}) {
        TryEdgeFilter(new HaarFilter3D(t, (A - 1) / 2, (B - sB) / 2, (E - sC) / 2, 1, sB, sC), filters, pool);
      }
    }
  }
  // One row high.
  for (int sA = A; sA >= 1; --sA) {
    for (int sC = E; sC >= 1; --sC) {
      for (int t : {0, 2, 3, 5}) {
        TryEdgeFilter(new HaarFilter3D(t, (A - sA) / 2, (B - 1) / 2, (E - sC) / 2, sA, 1, sC), filters, pool);
      }
    }
  }
  // One column wide.
  for (int sA = A; sA >= 1; --sA) {
    for (int sB = B; sB >= 1; --sB) {
      for (int t : {1, 2, 4, 5}) {
        TryEdgeFilter(new HaarFilter3D(t, (A - sA) / 2, (B - sB) / 2, (E - 1) / 2, sA, sB, 1), filters, pool);
      }
    }
  }
  // Centre-surround filters, outer extents shrinking by 2 while all are at least 12.
  auto shrink = [](int v) { return v >= 2 ? v - 2 : 0; };
  for (int oD = A, oH = B, oW = E; oD >= 12 && oH >= 12 && oW >= 12; oD = shrink(oD), oH = shrink(oH), oW = shrink(oW)) {
    for (int iD = oD; iD >= 2; iD -= 2) {
      for (int iH = oH; iH >= 2; iH -= 2) {
        for (int iW = oW; iW >= 2; iW -= 2) {
          if (iD == oD && iH == oH && iW == oW) continue;
          const int f0 = (A - oD) / 2, t0 = (B - oH) / 2, l0 = (E - oW) / 2;
          HaarFilter3D* f = new HaarFilter3D();
          f->SetBounds(f0, t0, l0, oD, oH, oW, iD, iH, iW);
          if (f->IsDegenerate()) {
            delete f;
            continue;
          }
          Enter(f, 1, filters, pool);
          for (int v : {2, 3}) {
            HaarFilter3D* g = new HaarFilter3D();
            g->SetBounds(f0, t0, l0, oD, oH, oW, iD, iH, iW);
            Enter(g, v, filters, pool);
          }
        }
      }
    }
  }
}
