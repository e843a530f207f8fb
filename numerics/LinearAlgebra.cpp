#include "numerics/LinearAlgebra.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Conversions.h"
#include "platform/Fatal.h"

void NumericsFatalError(const char* message) {
  std::string text = "Numerical Recipes run-time error...\n";
  text += message;
  text += "\n...now exiting to system...\n";
  FatalExit(1, text, stderr);
}

double* vector(int nl, int nh) {
  int64_t count = static_cast<int64_t>(nh) - nl + 2;
  if (count < 1) NumericsFatalError("allocation failure in vector()");
  double* block = static_cast<double*>(std::calloc(static_cast<size_t>(count), sizeof(double)));
  if (!block) NumericsFatalError("allocation failure in vector()");
  return block + 1 - nl;
}

void release_vector(double* p, int nl, int /*nh*/) {
  if (p) std::free(p + nl - 1);
}

// ---------------------------------------------------------------- LU

int LUDCMP(Matrix<double>& a, Matrix<double>& indx, double* d) {
  const int n = a.rows;
  if (a.cols != n) {
    std::fprintf(stderr, "LUDCMP: the matrix is not square (%d x %d)\n", a.rows, a.cols);
    return -1;
  }
  // Implicit pivoting: each row is weighed by the reciprocal of its largest element.
  // Every row is checked before anything changes, so a singular matrix stays as given.
  std::vector<double> scale(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) {
      double t = std::fabs(a(i, j));
      if (t > big) big = t;
    }
    if (big == 0.0) {
      std::fputs("Singular matrix in routine LUDCMP\n", stderr);
      return -1;
    }
    scale[i] = 1.0 / big;
  }
  if (indx.rows != 1 || indx.cols != n) indx.SetSize(1, n);
  *d = 1.0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double sum = a(i, j);
      for (int k = 0; k < i; ++k) sum -= a(i, k) * a(k, j);
      a(i, j) = sum;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i < n; ++i) {
      double sum = a(i, j);
      for (int k = 0; k < j; ++k) sum -= a(i, k) * a(k, j);
      a(i, j) = sum;
      // ">=": among equally good candidates the last row wins.
      double weighed = scale[i] * std::fabs(sum);
      if (weighed >= big) {
        big = weighed;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 0; k < n; ++k) {
        double t = a(imax, k);
        a(imax, k) = a(j, k);
        a(j, k) = t;
      }
      *d = -*d;
      scale[imax] = scale[j];
    }
    indx[j] = imax;
    if (a(j, j) == 0.0) a(j, j) = 1e-20;
    if (j != n - 1) {
      // Multiplied by the reciprocal of the pivot, as the published routine does.
      double inverse = 1.0 / a(j, j);
      for (int i = j + 1; i < n; ++i) a(i, j) *= inverse;
    }
  }
  return 0;
}

void LUBKSB(const Matrix<double>& lu, const Matrix<double>& indx, Matrix<double>& b) {
  const int n = lu.rows;
  for (int i = 0; i < n; ++i) {
    int ip = TruncToInt32(indx[i]);
    if (ip < 0 || ip >= n) return;
  }
  // Forward substitution in pivot order; the sums start at the first non-zero
  // element of b, the leading zeros contribute nothing.
  int first = -1;
  for (int i = 0; i < n; ++i) {
    int ip = TruncToInt32(indx[i]);
    double sum = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) sum -= lu(i, j) * b[j];
    } else if (sum != 0.0) {
      first = i;
    }
    b[i] = sum;
  }
  for (int i = n - 1; i >= 0; --i) {
    double sum = b[i];
    for (int j = i + 1; j < n; ++j) sum -= lu(i, j) * b[j];
    b[i] = sum / lu(i, i);
  }
}

template <class T>
bool Matrix<T>::Inverse(Matrix<T>& out) const {
  const int n = rows;
  Matrix<double> work(*this);
  Matrix<double> indx(1, n);
  Matrix<double> column(n, 1);
  out.SetSize(rows, cols);
  double d = 0.0;
  if (LUDCMP(work, indx, &d) != 0) {
    out.Fill(0.0);
    return false;
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) column[i] = 0.0;
    column[j] = 1.0;
    LUBKSB(work, indx, column);
    for (int i = 0; i < n; ++i) out(i, j) = column[i];
  }
  return true;
}

// The inverse exists for double matrices only.
template bool Matrix<double>::Inverse(Matrix<double>& out) const;

// ---------------------------------------------------------------- Jacobi

namespace {

// The plane rotation of two elements of m by (s, tau).
inline void Rotate(double** m, int i, int j, int k, int l, double s, double tau) {
  double g = m[i][j];
  double h = m[k][l];
  m[i][j] = g - s * (h + g * tau);
  m[k][l] = h + s * (g - h * tau);
}

}  // namespace

int jacobi(double** a, int n, double* d, double** v, int* nrot) {
  double* b = vector(1, n);
  double* z = vector(1, n);
  for (int p = 1; p <= n; ++p) {
    for (int q = 1; q <= n; ++q) v[p][q] = 0.0;
    v[p][p] = 1.0;
  }
  for (int p = 1; p <= n; ++p) {
    b[p] = d[p] = a[p][p];
    z[p] = 0.0;
  }
  *nrot = 0;
  for (int sweep = 1; sweep <= 50; ++sweep) {
    double sm = 0.0;
    for (int p = 1; p <= n - 1; ++p) {
      for (int q = p + 1; q <= n; ++q) sm += std::fabs(a[p][q]);
    }
    if (sm == 0.0) {
      release_vector(z, 1, n);
      release_vector(b, 1, n);
      return 1;
    }
    double threshold = sweep < 4 ? 0.2 * sm / (n * n) : 0.0;
    for (int p = 1; p <= n - 1; ++p) {
      for (int q = p + 1; q <= n; ++q) {
        double g = 100.0 * std::fabs(a[p][q]);
        if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
          a[p][q] = 0.0;
        } else if (std::fabs(a[p][q]) > threshold) {
          double h = d[q] - d[p];
          double t;
          if (std::fabs(h) + g == std::fabs(h)) {
            t = a[p][q] / h;
          } else {
            double theta = 0.5 * h / a[p][q];
            t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
            if (theta < 0.0) t = -t;
          }
          double c = 1.0 / std::sqrt(1 + t * t);
          double s = t * c;
          double tau = s / (1.0 + c);
          h = t * a[p][q];
          z[p] -= h;
          z[q] += h;
          d[p] -= h;
          d[q] += h;
          a[p][q] = 0.0;
          for (int j = 1; j <= p - 1; ++j) Rotate(a, j, p, j, q, s, tau);
          for (int j = p + 1; j <= q - 1; ++j) Rotate(a, p, j, j, q, s, tau);
          for (int j = q + 1; j <= n; ++j) Rotate(a, p, j, q, j, s, tau);
          for (int j = 1; j <= n; ++j) Rotate(v, j, p, j, q, s, tau);
          ++*nrot;
        }
      }
    }
    for (int p = 1; p <= n; ++p) {
      b[p] += z[p];
      d[p] = b[p];
      z[p] = 0.0;
    }
  }
  release_vector(z, 1, n);
  release_vector(b, 1, n);
  std::fputs("jacobi():  Too many iterations!\n", stderr);
  return 0;
}

// ---------------------------------------------------------------- SVD

namespace {

// sqrt(a^2 + b^2) without destructive overflow or underflow.
double Pythag(double a, double b) {
  double at = std::fabs(a);
  double bt = std::fabs(b);
  if (at > bt) {
    double ct = bt / at;
    return at * std::sqrt(1.0 + ct * ct);
  }
  if (bt != 0.0) {
    double ct = at / bt;
    return bt * std::sqrt(1.0 + ct * ct);
  }
  return 0.0;
}

// |a| with the sign of b (b = 0 counts as positive).
inline double SignOf(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

// A 1-based rows x cols array: row pointers 1..rows, each row from vector(1, cols).
double** MakeRows(int rows, int cols) {
  double** m = new (std::nothrow) double*[static_cast<size_t>(rows) + 1]();
  if (!m) NumericsFatalError("allocation failure in vector()");
  for (int r = 1; r <= rows; ++r) m[r] = vector(1, cols);
  return m;
}

void FreeRows(double** m, int rows, int cols) {
  for (int r = rows; r >= 1; --r) release_vector(m[r], 1, cols);
  delete[] m;
}

}  // namespace

void SVDCMP(double** a, int m, int n, double* w, double** v) {
  if (m < n) NumericsFatalError("SVDCMP: You must augment A with extra zero rows");
  double* rv1 = vector(1, n);
  double g = 0.0, scale = 0.0, anorm = 0.0;
  double c, f, h, s, x, y, z;
  int l = 1, nm = 0;

  // Householder reduction to bidiagonal form.
  for (int i = 1; i <= n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m) {
      for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
      if (scale != 0.0) {
        for (int k = i; k <= m; ++k) {
          a[k][i] /= scale;
          s += a[k][i] * a[k][i];
        }
        f = a[i][i];
        g = -SignOf(std::sqrt(s), f);
        h = f * g - s;
        a[i][i] = f - g;
        if (i != n) {
          for (int j = l; j <= n; ++j) {
            s = 0.0;
            for (int k = i; k <= m; ++k) s += a[k][i] * a[k][j];
            f = s / h;
            for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
          }
        }
        for (int k = i; k <= m; ++k) a[k][i] *= scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m && i != n) {
      for (int k = l; k <= n; ++k) scale += std::fabs(a[i][k]);
      if (scale != 0.0) {
        for (int k = l; k <= n; ++k) {
          a[i][k] /= scale;
          s += a[i][k] * a[i][k];
        }
        f = a[i][l];
        g = -SignOf(std::sqrt(s), f);
        h = f * g - s;
        a[i][l] = f - g;
        for (int k = l; k <= n; ++k) rv1[k] = a[i][k] / h;
        if (i != m) {
          for (int j = l; j <= m; ++j) {
            s = 0.0;
            for (int k = l; k <= n; ++k) s += a[j][k] * a[i][k];
            for (int k = l; k <= n; ++k) a[j][k] += s * rv1[k];
          }
        }
        for (int k = l; k <= n; ++k) a[i][k] *= scale;
      }
    }
    double size = std::fabs(w[i]) + std::fabs(rv1[i]);
    if (size > anorm) anorm = size;
  }

  // Accumulation of the right-hand transformations.
  for (int i = n; i >= 1; --i) {
    if (i < n) {
      if (g != 0.0) {
        // Divided twice to avoid a possible underflow.
        for (int j = l; j <= n; ++j) v[j][i] = (a[i][j] / a[i][l]) / g;
        for (int j = l; j <= n; ++j) {
          s = 0.0;
          for (int k = l; k <= n; ++k) s += a[i][k] * v[k][j];
          for (int k = l; k <= n; ++k) v[k][j] += s * v[k][i];
        }
      }
      for (int j = l; j <= n; ++j) v[i][j] = v[j][i] = 0.0;
    }
    v[i][i] = 1.0;
    g = rv1[i];
    l = i;
  }

  // Accumulation of the left-hand transformations.
  for (int i = n; i >= 1; --i) {
    l = i + 1;
    g = w[i];
    if (i < n) {
      for (int j = l; j <= n; ++j) a[i][j] = 0.0;
    }
    if (g != 0.0) {
      g = 1.0 / g;
      if (i != n) {
        for (int j = l; j <= n; ++j) {
          s = 0.0;
          for (int k = l; k <= m; ++k) s += a[k][i] * a[k][j];
          f = (s / a[i][i]) * g;
          for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
        }
      }
      for (int j = i; j <= m; ++j) a[j][i] *= g;
    } else {
      for (int j = i; j <= m; ++j) a[j][i] = 0.0;
    }
    ++a[i][i];
  }

  // Diagonalisation of the bidiagonal form: each singular value from the last to the
  // first, at most 30 passes each.
  for (int k = n; k >= 1; --k) {
    for (int its = 1; its <= 30; ++its) {
      bool cancel = true;
      for (l = k; l >= 1; --l) {
        nm = l - 1;
        // rv1[1] is always 0, so the split test ends at l = 1 at the latest (also
        // when a NaN in the input makes every comparison false).
        if (l == 1 || std::fabs(rv1[l]) + anorm == anorm) {
          cancel = false;
          break;
        }
        if (std::fabs(w[nm]) + anorm == anorm) break;
      }
      if (cancel) {
        // w[nm] is negligible: rv1[l] is cancelled by rotations. Each rotation also
        // scales the element it leaves behind (rv1[i] *= c), and the sweep stops once
        // the carried element is negligible; without that, rank-deficient inputs can
        // come out with a wrong decomposition.
        c = 0.0;
        s = 1.0;
        for (int i = l; i <= k; ++i) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = Pythag(f, g);
          w[i] = h;
          h = 1.0 / h;
          c = g * h;
          s = -f * h;
          for (int j = 1; j <= m; ++j) {
            y = a[j][nm];
            z = a[j][i];
            a[j][nm] = y * c + z * s;
            a[j][i] = z * c - y * s;
          }
        }
      }
      z = w[k];
      if (l == k) {
        // Converged; a negative singular value is made positive.
        if (z < 0.0) {
          w[k] = -z;
          for (int j = 1; j <= n; ++j) v[j][k] = -v[j][k];
        }
        break;
      }
      if (its == 30) NumericsFatalError("No convergence in 30 SVDCMP iterations");
      // Shift from the bottom 2 x 2 minor.
      x = w[l];
      nm = k - 1;
      y = w[nm];
      g = rv1[nm];
      h = rv1[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = Pythag(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + SignOf(g, f))) - h)) / x;
      // The next QR transformation.
      c = s = 1.0;
      for (int j = l; j <= nm; ++j) {
        int i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = Pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        for (int jj = 1; jj <= n; ++jj) {
          x = v[jj][j];
          z = v[jj][i];
          v[jj][j] = x * c + z * s;
          v[jj][i] = z * c - x * s;
        }
        z = Pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          z = 1.0 / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        for (int jj = 1; jj <= m; ++jj) {
          y = a[jj][j];
          z = a[jj][i];
          a[jj][j] = y * c + z * s;
          a[jj][i] = z * c - y * s;
        }
      }
      rv1[l] = 0.0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  release_vector(rv1, 1, n);
}

bool SvdDecompose(Matrix<double>& U, VectorQo<double>& W, Matrix<double>& V, const Matrix<double>& A) {
  const int m = A.rows;
  const int n = A.cols;
  if (m < n) return false;
  double** a = MakeRows(m, n);
  double** v = MakeRows(n, n);
  double* w = vector(1, n);
  for (int r = 0; r < m; ++r) {
    for (int c = 0; c < n; ++c) a[r + 1][c + 1] = A(r, c);
  }
  SVDCMP(a, m, n, w, v);
  U.SetSize(m, n);
  for (int r = 0; r < m; ++r) {
    for (int c = 0; c < n; ++c) U(r, c) = a[r + 1][c + 1];
  }
  W.SetSize(n);
  for (int c = 0; c < n; ++c) W[c] = w[c + 1];
  V.SetSize(n, n);
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) V(r, c) = v[r + 1][c + 1];
  }
  release_vector(w, 1, n);
  FreeRows(v, n, n);
  FreeRows(a, m, n);
  return true;
}
