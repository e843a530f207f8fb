#!/usr/bin/python3
# Independent reference of the region competition on small phantoms: the common
# intensity grid and histograms, the 3-component mixture per label (its sampling here,
# its start and EM from gmm_reference.py beside this file), the Canny edge map of the
# scaled intensities, the gate of the mean-curvature term, the candidate energies with
# their likelihoods, the size terms, the two sweeps per iteration and the stop rule.
# Run it to regenerate data/region_competition_reference.txt.
#
# Per phantom the file holds:
#   phantom <name> <side> <labeller> <seed> <gap> <spread> <shift z> <shift y> <shift x>
#   input <checksum of the intensities> <checksum of the atlas>
#   changes <the "Change %d voxels" count of every iteration>
#   draws <generator draws of the run>
#   slice <z> <one row of label digits per row y, blank-separated>   (one line per slice)
# The phantoms are built by the integer formulas of Phantom() below, which the C++ test
# repeats; the checksums make sure both built the same inputs.
#
# Options for checking the phantoms' reach: --mutate NAME runs with one term changed
# (see MUTATIONS) and prints the outcome instead of the file.
import math
import sys

import numpy as np

from gmm_reference import densities, em, initial_mixture

DBL_MAX = sys.float_info.max
DBL_MIN = sys.float_info.min
F32 = np.float32
SQRT_2PI = math.sqrt(2 * math.pi)
# Neighbour offsets (dx, dy, dz) in the order they are tried: the six faces.
FACE_OFFSETS = [(1, 0, 0), (-1, 0, 0), (0, 1, 0), (0, -1, 0), (0, 0, 1), (0, 0, -1)]

MUTATIONS = {
    "none": {},
    "label-size-0.5": {"label_shift": 0.5},
    "background-size-0.03": {"background_shift": 0.03},
    "stop-0.2": {"stop_fraction": 0.2},
    "backward-x-ascending": {"backward_x_ascending": True},
    "count-top-label": {"count_top_label": True},
    "initial-background-sign": {"initial_background_sign": 1.0},
}


# ---------------------------------------------------------------- phantoms

M32 = 0xFFFFFFFF


def noise(seed, z, y, x):
    """0..255, a hash of the position."""
    h = (z * 7919 + y * 104729 + x * 1299709 + seed * 15485863) & M32
    h = (h * 2654435761) & M32
    h ^= h >> 15
    h = (h * 2246822519) & M32
    h ^= h >> 13
    return h & 0xFF


def checksum(volume):
    total = 0
    for n, v in enumerate(volume.reshape(-1).tolist()):
        total = (total * 31 + int(v) + n) % 2147483647
    return total


class Phantom:
    """A truth labelling by `labeller`, intensity 30 + gap * label plus hashed noise of
    0 .. spread - 1, and the atlas: the truth shifted by (sz, sy, sx) voxels (the first
    planes repeat the truth's label at coordinate 0)."""

    def __init__(self, name, n, labeller, seed, gap, spread, shift):
        self.name, self.n, self.labeller, self.seed, self.gap, self.spread, self.shift = \
            name, n, labeller, seed, gap, spread, shift
        self.intensity = np.zeros((n, n, n), dtype=np.int64)
        self.atlas = np.zeros((n, n, n), dtype=np.int64)
        sz, sy, sx = shift
        for z in range(n):
            for y in range(n):
                for x in range(n):
                    t = labeller(z, y, x)
                    self.intensity[z, y, x] = 30 + gap * t + noise(seed, z, y, x) * spread // 256
                    self.atlas[z, y, x] = labeller(max(z - sz, 0), max(y - sy, 0), max(x - sx, 0))


# ---------------------------------------------------------------- histograms


class Grid:
    """The common grid of every histogram: Init(min, max, (max - min + 0.5) / 32)."""

    def __init__(self, lo, hi):
        self.min = float(lo)
        self.width = (float(hi) - float(lo) + 0.5) / 32.0
        if float(hi) == float(lo):
            self.bins = 1
        else:
            self.bins = int(math.floor((float(hi) - float(lo)) / self.width + 0.5)) + 1

    def bin(self, v):
        return int((v - self.min) / self.width + 0.5)

    def value(self, b):
        return self.min + b * self.width


def total(h):
    s = 0.0
    for m in h:
        s += m
    return s


# ---------------------------------------------------------------- mixture


class Mixture:
    def __init__(self, num_labels):
        # Label l's mixture before any fit: zero means, unit variances, equal weights.
        self.params = [(np.full(3, 1.0 / 3), np.zeros(3), np.ones(3)) for _ in range(num_labels + 1)]

    def fit(self, intensity, labels, step):
        zs, ys, xs = intensity.shape
        counters = {}
        samples = {}
        for x in range(xs):  # columns outermost, slices innermost
            for y in range(ys):
                for z in range(zs):
                    v = int(intensity[z, y, x])
                    if v == 0:
                        continue
                    l = int(labels[z, y, x])
                    counters[l] = counters.get(l, 0) + 1
                    if counters[l] % step == 0:
                        samples.setdefault(l, []).append(float(v))
        for l in range(1, len(self.params)):
            if l in samples:
                x = np.array(samples[l])
                self.params[l] = em(x, *initial_mixture(x))[1:]

    def density(self, label, v):
        weights, means, var = self.params[label]
        p = densities(np.array([v]), means, var)[0]
        s = 0.0
        for k in range(3):
            s += weights[k] * p[k]
        return s


# ---------------------------------------------------------------- edge map


def gaussian_kernels(sigma=1.0):
    h = int(3.0 * sigma)
    g, d = [], []
    for j in range(2 * h + 1):
        x = j - h
        gx = math.exp(-x * x / (2 * sigma * sigma)) / (sigma * 6.283185307179586 ** 0.5)
        g.append(F32(gx))
        d.append(F32(-x * gx / (sigma * sigma)))
    return np.array(g, dtype=F32), np.array(d, dtype=F32)


def convolve(volume, kernel, axis):
    """out[i] = sum over t of k[t] * in[(i + (L - 1) / 2 - t) mod D], float accumulation."""
    length = len(kernel)
    out = np.zeros(volume.shape, dtype=F32)
    for t in range(length):
        shifted = np.roll(volume, -((length - 1) // 2 - t), axis=axis)
        out = (out.astype(np.float64) + float(kernel[t]) * shifted.astype(np.float64)).astype(F32)
    return out


def sign(v):
    return -1 if v < 0 else (1 if v > 0 else 0)


def canny_edge_map(scaled):
    g, d = gaussian_kernels()
    vol = scaled.astype(F32)
    grads = []
    for axis in (0, 1, 2):  # z, y, x; each then smoothed along rows and columns
        c = convolve(vol, d, axis)
        c = convolve(c, g, 1)
        c = convolve(c, g, 2)
        grads.append(c)
    gz, gy, gx = grads
    mag = np.sqrt(gz * gz + gy * gy + gx * gx).astype(F32)
    out = np.zeros(mag.shape, dtype=F32)
    lo, hi = mag.min(), mag.max()
    threshold = F32(lo + (hi - lo) * F32(0.05))
    dims = mag.shape
    if min(dims) >= 5:
        for z in range(2, dims[0] - 2):
            for y in range(2, dims[1] - 2):
                for x in range(2, dims[2] - 2):
                    comp = [gz[z, y, x], gy[z, y, x], gx[z, y, x]]
                    a = [abs(c) for c in comp]
                    if a[0] > a[1] and a[0] > a[2]:
                        dom = 0
                    elif a[1] > a[0] and a[1] > a[2]:
                        dom = 1
                    else:
                        dom = 2
                    m = mag[z, y, x]
                    if not m > threshold:
                        continue
                    keep = True
                    for minor in (0, 1, 2):
                        if minor == dom:
                            continue
                        with np.errstate(divide="ignore", invalid="ignore"):
                            w = F32(a[minor] / a[dom])
                        s = 1 if sign(comp[dom]) == sign(comp[minor]) else -1
                        for direction in (1, -1):
                            p = [z, y, x]
                            p[dom] += direction
                            straight = mag[tuple(p)]
                            p[minor] += direction * s
                            diagonal = mag[tuple(p)]
                            value = F32(w * straight) + F32((F32(1) - w) * diagonal)
                            if not m > value:
                                keep = False
                    if keep:
                        out[z, y, x] = m
    edge = np.minimum(out * F32(50.0), F32(255.0))
    return edge.astype(np.int64)  # truncation toward zero of non-negative values


# ---------------------------------------------------------------- the competition


class Competition:
    def __init__(self, phantom, iterations=15, options=None):
        self.opt = {"label_shift": 0.7, "background_shift": 0.09, "stop_fraction": 0.1,
                    "backward_x_ascending": False, "count_top_label": False, "initial_background_sign": -1.0}
        self.opt.update(options or {})
        self.edge_weight, self.intensity_weight, self.size_weight = 4.0, 0.3, 1.4
        self.max_iterations = iterations
        self.intensity = phantom.intensity.copy()
        self.labels = phantom.atlas.copy()
        self.candidates = 0  # CandidateEnergies calls past the test of the current label

    # -- InitClasses
    def init_classes(self):
        self.num_labels = int(self.labels.max())
        L = self.num_labels
        lo, hi = int(self.intensity.min()), int(self.intensity.max())
        self.min_intensity = float(lo)
        self.grid = Grid(lo, hi)
        nb = self.grid.bins
        self.initial = [[1.0] * nb for _ in range(L + 1)]
        self.current = [[1.0] * nb for _ in range(L + 1)]
        labelled = [1.0] * nb
        r = float(hi) - float(lo) + 1
        self.scaled = np.zeros(self.intensity.shape, dtype=np.int64)
        zs, ys, xs = self.intensity.shape
        for z in range(zs):
            for y in range(ys):
                for x in range(xs):
                    v = int(self.intensity[z, y, x])
                    self.scaled[z, y, x] = int((v - self.min_intensity) * 255 / r + 0.5)
                    l = int(self.labels[z, y, x])
                    b = self.grid.bin(v)
                    if v != 0 and l != 0:
                        self.initial[l][b] += 1.0
                        self.current[l][b] += 1.0
                        labelled[b] += 1.0
                    elif v != 0:
                        self.initial[0][b] += 1.0
                        self.current[0][b] += 1.0
                    else:
                        self.labels[z, y, x] = 0
        top = L + 1 if self.opt["count_top_label"] else L
        self.non_empty = sum(1 for l in range(top) if total(self.initial[l]) > nb)
        mean, xv = 0.0, self.grid.min
        for m in labelled:
            mean += xv * m
            xv += self.grid.width
        self.labelled_mean = mean / total(labelled)
        self.labelled_spread = (self.labelled_mean - self.min_intensity) / 3
        self.size_terms = [self.opt["initial_background_sign"] * 0.1 * math.exp(0.1)]
        self.size_terms += [-0.3 * math.exp(-0.3)] * L
        if self.non_empty < 6:
            self.beta = 0.2
        else:
            self.beta = 2.4 / (max(3.0, 4 * math.log2(self.non_empty) - 9) * SQRT_2PI)

    def sampling_step(self):
        return min(8, int(math.ceil(math.log2(self.num_labels) + 2)))

    # -- the mean-curvature term of the initial labelling
    def check_curvature_gate(self):
        """The mean curvature is 0 wherever the squared gradient of the (byte) labels is
        1000 or less; the phantoms keep their labels small enough for that everywhere,
        so the term is 0 throughout and needs no further computation here."""
        v = self.labels.astype(np.int64)
        zs, ys, xs = v.shape
        for z in range(zs):
            for y in range(ys):
                for x in range(xs):
                    gx = v[z, y, min(x + 1, xs - 1)] - v[z, y, max(x - 1, 0)]
                    gy = v[z, min(y + 1, ys - 1), x] - v[z, max(y - 1, 0), x]
                    gz = v[min(z + 1, zs - 1), y, x] - v[max(z - 1, 0), y, x]
                    if gx * gx + gy * gy + gz * gz > 1000:
                        raise RuntimeError("phantom needs the curvature term")

    # -- likelihoods
    def penalty(self, xb):
        zb = (xb - self.labelled_mean) / self.labelled_spread
        return 0.0 if zb >= -1.6 else 1 + (zb + 1.6) ** 2 / 1.6

    def refresh_mixture_terms(self):
        self.mixture_terms = {}

    def mixture_term(self, label, b):
        key = (label, b)
        if key not in self.mixture_terms:
            xb = self.grid.value(b)
            p = self.mixture.density(label, xb)
            self.mixture_terms[key] = p * math.exp(-self.penalty(xb)) / SQRT_2PI
        return self.mixture_terms[key]

    def class_likelihood(self, counts, label, reference, mode):
        if reference is None:
            reference = self.current[label]
        product, n = 1.0, 0
        ref_total = total(reference) if (label <= 0 or mode == 0) else None
        for b, c in counts:
            if label > 0:
                if mode == 1:
                    term = self.mixture_term(label, b)
                else:
                    xb = self.grid.value(b)
                    term = (reference[b] / ref_total) * math.exp(-self.penalty(xb)) / SQRT_2PI
            else:
                term = (reference[b] / ref_total) * self.beta
            product *= term ** c
            n += c
        return product ** (1.0 / n)

    def label_histogram(self, z, y, x, label):
        h = [1.0] * self.grid.bins
        for dz in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    if self.labels[z + dz, y + dy, x + dx] == label:
                        h[self.grid.bin(int(self.intensity[z + dz, y + dy, x + dx]))] += 1.0
        return h

    def candidate_energies(self, counts, z, y, x, c):
        best, n, e = DBL_MAX, 0, None
        l0 = self.class_likelihood(counts, c, None, 1)
        if l0 <= DBL_MIN:
            return -DBL_MAX, 0, 0.0
        for dx, dy, dz in FACE_OFFSETS:
            nz, ny, nx = z + dz, y + dy, x + dx  # inside the sweep margin: no clamping needed
            l = int(self.labels[nz, ny, nx])
            if l == c:
                continue
            like = self.class_likelihood(counts, l, None, 1)
            d = math.log(l0 / like) if like > DBL_MIN else 5.0
            if d < best:
                best, n, e = d, l, float(self.edge[nz, ny, nx])
        hc = self.label_histogram(z, y, x, c)
        hn = self.label_histogram(z, y, x, n)
        self.candidates += 1
        lc = self.class_likelihood(counts, c, hc, 0)
        ln_ = self.class_likelihood(counts, n, hn, 0)
        d2 = math.log(lc / ln_) if ln_ > DBL_MIN else 5.0
        a = abs(best)
        if a >= 2.5:
            energy = best
        elif n != 0 and c != 0:
            energy = 0.4 * (best * a + d2 * (2.5 - a))
        elif n != 0:
            energy = 0.05 * best * a + 0.4 * d2 * (2.5 - a / 8) - 0.2
        else:
            energy = 0.05 * best * a + 0.4 * d2 * (2.5 - a / 8) + 0.4
        if energy >= 5.0:
            return DBL_MAX, n, e
        return energy, n, e

    def move_energy(self, feature, energy, edge, c, iteration):
        w = 0.2 + 0.002 * self.num_labels if iteration == 0 else self.intensity_weight
        factor = min(12, abs(self.num_labels - 8) + 1)
        return (w * energy - abs(feature) - self.size_weight * self.size_terms[c] * 0.5 * factor
                + self.edge_weight * edge)

    def is_boundary(self, z, y, x):
        c = self.labels[z, y, x]
        for dx, dy, dz in FACE_OFFSETS:
            if self.labels[z + dz, y + dy, x + dx] != c:
                return True
        return False

    def visit(self, z, y, x, it, delta):
        v = int(self.intensity[z, y, x])
        if v == 0:
            self.labels[z, y, x] = 0
            return 0
        if not self.is_boundary(z, y, x):
            return 0
        hist = {}
        for dz in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    b = self.grid.bin(int(self.intensity[z + dz, y + dy, x + dx]))
                    hist[b] = hist.get(b, 0) + 1
        counts = sorted(hist.items())
        c = int(self.labels[z, y, x])
        energy, n, e = self.candidate_energies(counts, z, y, x, c)
        de = self.move_energy(0.0, energy, e if e is not None else 0.0, c, it)
        if de < 0:
            self.labels[z, y, x] = n
            b = self.grid.bin(v)
            delta[c][b] -= 1.0
            delta[n][b] += 1.0
            return 1
        return 0

    def update_size_terms(self):
        for l in range(self.num_labels + 1):
            a, b = total(self.current[l]), total(self.initial[l])
            if l == 0:
                r = (a - b) / b
                self.size_terms[0] = r * math.exp(-abs(r)) - self.opt["background_shift"]
            else:
                r = (a - b) / b - self.opt["label_shift"]
                self.size_terms[l] = r * math.exp(-abs(r))

    def run(self):
        self.init_classes()
        self.mixture = Mixture(self.num_labels)
        self.mixture.fit(self.intensity, self.labels, self.sampling_step())
        self.refresh_mixture_terms()
        self.check_curvature_gate()
        self.edge = canny_edge_map(self.scaled)
        L, nb = self.num_labels, self.grid.bins
        zs, ys, xs = self.labels.shape
        m = (3 * 3) // 2
        changes_per_iteration = []
        threshold = 0
        it = 0
        while True:
            delta = [[0.0] * nb for _ in range(L + 1)]
            changes = 0
            for z in range(m, zs - m):
                for y in range(m, ys - m):
                    for x in range(m, xs - m):
                        changes += self.visit(z, y, x, it, delta)
            backward_x = range(m, xs - m) if self.opt["backward_x_ascending"] else range(xs - m - 1, m - 1, -1)
            for z in range(zs - m - 1, m - 1, -1):
                for y in range(ys - m - 1, m - 1, -1):
                    for x in backward_x:
                        changes += self.visit(z, y, x, it, delta)
            for l in range(L + 1):
                for b in range(nb):
                    self.current[l][b] += delta[l][b]
            it += 1
            if it == 2:
                threshold = int(self.opt["stop_fraction"] * changes)
            changes_per_iteration.append(changes)
            if changes <= threshold or it >= self.max_iterations:
                break
            self.update_size_terms()
            self.mixture.fit(self.intensity, self.labels, self.sampling_step())
            self.refresh_mixture_terms()
        # One draw per histogram built: initial, current and delta histograms per label
        # value, the labelled voxels', the voxel sample's intensity range, the
        # neighbourhood's, and two label histograms per candidate evaluation.
        self.draws = 3 * (L + 1) + 3 + 2 * self.candidates
        return changes_per_iteration


# ---------------------------------------------------------------- phantoms used


def five_labels(z, y, x):
    """Background below z = 7; above it four blocks with ragged borders (labels 1..4)
    and label 5 on top of label 4."""
    w = (y + 2 * z) % 3 - 1
    if z < 7:
        return 0
    if x + w < 10:
        return 1 if y < 10 else 2
    if y - w < 8:
        return 3
    return 4 if z < 13 else 5


def nine_labels(z, y, x):
    """Labels 1..9 as a 3 x 3 arrangement of ragged columns along z, between background
    slabs below z = 6 and above z = 15."""
    w = (x + 2 * z) % 3 - 1
    if z < 6 or z > 15:
        return 0
    return 1 + 3 * min(2, max(0, (y + w - 4) // 4)) + min(2, max(0, (x - w - 4) // 4))


def phantoms():
    # Name, side, labeller, noise seed, intensity gap per label, noise spread, atlas shift
    # (z, y, x). Each one stops by the change threshold after 4 or 11 iterations, and
    # every entry of MUTATIONS changes its result (labels, counts or draws).
    return [
        Phantom("five", 20, five_labels, 2, 50, 20, (2, 1, 2)),
        Phantom("nine", 20, nine_labels, 2, 60, 30, (2, 1, 2)),
        Phantom("nine_long", 20, nine_labels, 3, 50, 30, (2, 2, 1)),
    ]


def result_lines(ph, comp, changes):
    lines = ["phantom %s %d %s %d %d %d %d %d %d" % ((ph.name, ph.n, ph.labeller.__name__, ph.seed, ph.gap, ph.spread)
                                                  + ph.shift),
             "input %d %d" % (checksum(ph.intensity), checksum(ph.atlas)),
             "changes " + " ".join(str(c) for c in changes),
             "draws %d" % comp.draws]
    for z in range(comp.labels.shape[0]):
        rows = ["".join(str(int(v)) for v in comp.labels[z, y]) for y in range(comp.labels.shape[1])]
        lines.append("slice %d %s" % (z, " ".join(rows)))
    return lines


def main():
    if "--mutate" in sys.argv:
        name = sys.argv[sys.argv.index("--mutate") + 1]
        for ph in phantoms():
            base = Competition(ph)
            changes0 = base.run()
            comp = Competition(ph, options=MUTATIONS[name])
            changes = comp.run()
            diff = int((comp.labels != base.labels).sum())
            print("%s %s: changes %s vs %s, draws %d vs %d, labels differ at %d voxels" %
                  (name, ph.name, changes, changes0, comp.draws, base.draws, diff))
        return
    out = []
    for ph in phantoms():
        comp = Competition(ph)
        changes = comp.run()
        out += result_lines(ph, comp, changes)
    print("\n".join(out))


if __name__ == "__main__":
    main()
