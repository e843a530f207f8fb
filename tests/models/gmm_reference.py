#!/usr/bin/python3
# Independent EM reference for the 1-D Gaussian mixture: draws three seeded integer
# samples and fits each with K = 3 components using the same start (range split into
# K + 1 parts), density floor, covariance regularisation and stop rule.
# Output, per mixture: "samples <values>", "cycles <n>", "weights ...", "means ...",
# "variances ..." (17 significant digits). Run it to regenerate data/gmm_reference.txt.
import numpy as np

FLOOR = float(np.float32(1e-10))
REG = float(np.float32(1e-5))
TOL = float(np.float32(1e-8))
K = 3


def initial_mixture(x, k_count=K):
    """Start of a fit: the range split into K + 1 parts, equal weights."""
    lo = min(65535.0, x.min())
    hi = max(0.0, x.max())
    means = np.array([lo + (k + 1) * (hi - lo) / (k_count + 1) for k in range(k_count)])
    var = np.full(k_count, ((hi - lo) / (6 * k_count)) ** 2 + REG)
    w = np.full(k_count, 1.0 / k_count)
    return w, means, var


def densities(x, means, var):
    """Component densities at the values x (rows) for every component (columns), floored."""
    if (np.abs(var) <= 1e-6).any():
        raise RuntimeError("singular covariance")  # never reached by the references' samples
    d = x[:, None] - means[None, :]
    p = np.exp(-(d * (1.0 / var)) * d / 2.0) / np.sqrt(np.abs(var) * 6.28318)
    return np.where(p < FLOOR, FLOOR, p)


def em(x, w, means, var):
    """EM cycles from the given start until the mean log-likelihood settles (at most 200)."""
    n = len(x)
    prev = -1e10
    cycle = 0
    while True:
        cycle += 1
        if cycle > 200:
            break
        p = densities(x, means, var)
        s = (w[None, :] * p).sum(axis=1)
        ll = np.log(s).sum()
        r = w[None, :] * p / s[:, None]
        if abs((ll / n) / prev - 1.0) < TOL:
            break
        prev = ll / n
        nk = r.sum(axis=0)
        w = nk / n
        means = (r * x[:, None]).sum(axis=0) / nk
        d = x[:, None] - means[None, :]
        var = (r * d * d).sum(axis=0) / nk + REG
    return cycle, w, means, var


def fit(x):
    return em(x, *initial_mixture(x))


def main():
    mixtures = [
        (11, 300, [(40, 5), (90, 8), (160, 12)], [0.3, 0.4, 0.3]),
        (23, 400, [(500, 40), (700, 30)], [0.5, 0.5]),
        (37, 250, [(100, 20)], [1.0]),
    ]
    for seed, n, comps, mix in mixtures:
        rng = np.random.RandomState(seed)
        which = rng.choice(len(comps), size=n, p=mix)
        x = np.array([max(1, int(round(rng.normal(*comps[c])))) for c in which], dtype=float)
        cycles, w, m, v = fit(x)
        print("samples " + " ".join(str(int(t)) for t in x))
        print("cycles %d" % cycles)
        for name, a in (("weights", w), ("means", m), ("variances", v)):
            print(name + " " + " ".join("%.17g" % t for t in a))


if __name__ == "__main__":
    main()
