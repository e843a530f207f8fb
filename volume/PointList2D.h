#pragma once
// A list of pixel positions held as two parallel lists, the rows and the columns,
// walked together (First / Next on both). The number of points is the count of the
// row list. Walking moves only the lists' cursors, so a const list can be walked.
#include "numerics/LinkedList.h"

struct PointList2D {
  mutable LinkedList<int> rows;
  mutable LinkedList<int> cols;

  void Append(int row, int col) {
    rows.Append(row);
    cols.Append(col);
  }
  void Clear() {
    rows.Clear();
    cols.Clear();
  }
  int Count() const { return rows.Count(); }
};
