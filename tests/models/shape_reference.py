"""Reference values for the shape-model tests, computed from the definitions alone.

  shape_reference.py pca VOLUME LABEL WEIGHT OUT
      VOLUME holds "D H W" and then the D*H*W labels (k fastest). Writes to OUT the ".pca"
      file of a model trained on that one volume for LABEL: grid 19 x 17 x 15 placed at the
      scale 0.5 * WEIGHT * 4 around the label's boundary faces, one sample, so no modes.

  shape_reference.py energy MODEL
      MODEL holds "d m", the mean, the modes (row r: m values), the sigmas, the defect list
      ("n" then n lines "row col value") and the vector x. Prints EnergyDerivative(r) for
      every r after analysing x, then the 100-step Reconstruct of x, one value a line.
"""
import math
import struct
import sys

import numpy as np

f32 = np.float32


def read_numbers(path):
    return open(path).read().split()


def boundary_faces(vol, label):
    D, H, W = vol.shape

    def at(i, j, k):
        return int(vol[i, j, k]) if 0 <= i < D and 0 <= j < H and 0 <= k < W else 65535

    faces = []
    steps = [(1, 0, 0), (0, 1, 0), (0, 0, 1)]
    for a in range(3):
        ext = [D, H, W]
        ext[a] += 1
        for i in range(ext[0]):
            for j in range(ext[1]):
                for k in range(ext[2]):
                    di, dj, dk = steps[a]
                    before, after = at(i - di, j - dj, k - dk), at(i, j, k)
                    if before != after and label in (before, after):
                        faces.append((a, i, j, k))
    return faces


def face_centre(a, i, j, k):  # (x, y, z)
    if a == 0:
        return (k + 0.5, j + 0.5, float(i))
    if a == 1:
        return (k + 0.5, float(j), i + 0.5)
    return (float(k), j + 0.5, i + 0.5)


def distance_grid(vol, label, weight):
    E = (19, 17, 15)
    h = [(e - 1) // 2 for e in E]
    s = f32(f32(f32(0.5) * f32(weight)) * f32(4.0))
    faces = boundary_faces(vol, label)
    # Centroid: every face counted twice (it lies in two face lists); the sums of half
    # integers are exact, the division is one single-precision division.
    sums = [2.0 * sum(face_centre(*f)[n] for f in faces) for n in range(3)]
    c = [f32(sums[n]) / f32(2 * len(faces)) for n in range(3)]
    # Grid corner (column, row, slice) so that the centre cell falls on the centroid.
    corner = [0, 0, 0]
    for n, hh in ((2, h[0]), (1, h[1]), (0, h[2])):
        corner[n] = math.trunc(float(f32(f32(c[n] - f32(hh) / s) + f32(0.5))))
    g = np.full(E, -10, dtype=np.int64)
    D, H, W = vol.shape
    for g0 in range(E[0]):
        for g1 in range(E[1]):
            for g2 in range(E[2]):
                p0 = math.trunc(g0 / float(s) + corner[2])
                p1 = math.trunc(g1 / float(s) + corner[1])
                p2 = math.trunc(g2 / float(s) + corner[0])
                if 0 <= p0 < D and 0 <= p1 < H and 0 <= p2 < W:
                    g[g0, g1, g2] = 10 if vol[p0, p1, p2] == label else -10

    def cell(p, cc, hh, e):
        v = math.trunc(float(f32(p) - cc) * float(s)) + hh
        return min(max(v, 0), e - 1)

    for f in faces:
        x, y, z = face_centre(*f)
        g[cell(z, c[2], h[0], E[0]), cell(y, c[1], h[1], E[1]), cell(x, c[0], h[2], E[2])] = 0
    # Six in-place sweeps towards the nearest face cell, signs kept.
    nbrs = [(-1, 0, 0), (1, 0, 0), (0, 0, -1), (0, -1, 0), (0, 0, 1), (0, 1, 0)]
    for _ in range(6):
        for g0 in range(E[0]):
            for g1 in range(E[1]):
                for g2 in range(E[2]):
                    v = int(g[g0, g1, g2])
                    for d0, d1, d2 in nbrs:
                        a, b, cc = g0 + d0, g1 + d1, g2 + d2
                        if 0 <= a < E[0] and 0 <= b < E[1] and 0 <= cc < E[2]:
                            m = abs(int(g[a, b, cc])) + 1
                            if m < abs(v):
                                v = -m if v < 0 else m
                    g[g0, g1, g2] = v
    return s, E, g


def pca_file(vol, label, weight):
    s, E, g = distance_grid(vol, label, weight)
    d = E[0] * E[1] * E[2]
    out = struct.pack("<3f", s, s, s) + struct.pack("<3i", *E)
    out += struct.pack("<2i", d, 1) + struct.pack("<%dd" % d, *[float(v) for v in g.ravel()])
    out += struct.pack("<2i", d, 0)  # modes: d x 0
    out += struct.pack("<2i", 0, 1)  # sigmas: 0 x 1
    out += struct.pack("<i", d)
    # modes x modes^T - I with no modes is -I: d defects on the diagonal.
    out += struct.pack("<i", d) + struct.pack("<%di" % d, *range(d)) * 2 + struct.pack("<%df" % d, *([-1.0] * d))
    out += struct.pack("<2d", 0.0, 0.0)
    return out


def analyse(x, mean, modes, sigmas, defects):
    d, m = len(mean), len(sigmas)
    centred = [x[r] - mean[r] for r in range(d)]
    coeff = []
    rec = [f32(0.0)] * d
    for t in range(m):
        c = 0.0
        for r in range(d):
            c += modes[r][t] * centred[r]
        coeff.append(c)
        for r in range(d):
            rec[r] = f32(rec[r] + f32(modes[r][t] * c))
    e = [f32(float(rec[r]) - centred[r]) for r in range(d)]
    dp = [f32(0.0)] * d
    for row, col, value in defects:
        dp[row] = f32(dp[row] + f32(value) * e[col])
    return coeff, dp


def gradient(r, coeff, modes, sigmas):
    g = 0.0
    for t, s in enumerate(sigmas):
        if s != 0.0:
            g += 2.0 * coeff[t] * modes[r][t] / (s * s)
    return g


def energy(path):
    v = read_numbers(path)
    d, m = int(v[0]), int(v[1])
    pos = 2
    mean = [float(x) for x in v[pos:pos + d]]
    pos += d
    modes = [[float(x) for x in v[pos + r * m:pos + (r + 1) * m]] for r in range(d)]
    pos += d * m
    sigmas = [float(x) for x in v[pos:pos + m]]
    pos += m
    n = int(v[pos])
    pos += 1
    defects = [(int(v[pos + 3 * q]), int(v[pos + 3 * q + 1]), float(v[pos + 3 * q + 2])) for q in range(n)]
    pos += 3 * n
    x = [float(t) for t in v[pos:pos + d]]
    weight = float(f32(0.1))
    coeff, dp = analyse(x, mean, modes, sigmas, defects)
    for r in range(d):
        print(repr(-5.0 * (2.0 * weight * float(dp[r]) + gradient(r, coeff, modes, sigmas))))
    out = list(x)
    for _ in range(100):
        coeff, dp = analyse(out, mean, modes, sigmas, defects)
        out = [out[r] - gradient(r, coeff, modes, sigmas) - 0.1 * float(dp[r]) for r in range(d)]
    for r in range(d):
        print(repr(out[r]))


if __name__ == "__main__":
    if sys.argv[1] == "pca":
        v = read_numbers(sys.argv[2])
        D, H, W = int(v[0]), int(v[1]), int(v[2])
        vol = np.array([int(t) for t in v[3:]], dtype=np.int64).reshape(D, H, W)
        open(sys.argv[5], "wb").write(pca_file(vol, int(sys.argv[3]), float(sys.argv[4])))
    else:
        energy(sys.argv[2])
