#!/usr/bin/python3
# Independent reference for the posterior combination of the appearance model with a
# separate hip tree (Kro_AppearDiscrmModelVeskSepHippo::Combine), written from the
# model's description: with p the main tree's posterior and p[0] below 0.97,
#   p[5] x 1.4, p[6] x 1.3, p[0] x 0.8, then p divided by its sum;
#   with q the hip tree's posterior: r = 1 - p[1] - p[2], p[1] = 1.2 q[1],
#   p[2] = 1.2 q[2], t = max(1 - p[1] - p[2], 0) held as a 32-bit float, and when
#   r > 0 every other entry becomes t p[i] / r.
# The guards of this system come on top: fewer than 7 classes and a zero sum are left
# as they are, a hip posterior of fewer than 3 entries is not combined.
# Prints one line per case of Kro_AppearDiscrmModelVeskSepHippo_test.cpp: its name,
# then the expected posterior (shortest round-trip form, so the test's literals
# can be compared by eye).
import numpy as np


def combine(p, q):
    p = np.array(p, dtype=np.float64)
    if p.size < 7 or not p[0] < 0.97:
        return p
    p[5] *= 1.4
    p[6] *= 1.3
    p[0] *= 0.8
    s = p.sum()
    if s != 0.0:
        p = p / s
    if q is None or len(q) < 3:
        return p
    r = 1.0 - p[1] - p[2]
    p[1] = 1.2 * q[1]
    p[2] = 1.2 * q[2]
    t = float(np.float32(max(1.0 - p[1] - p[2], 0.0)))
    if r > 0.0:
        for i in range(p.size):
            if i not in (1, 2):
                p[i] = t * p[i] / r
    return p


P = [0.5, 0.1, 0.1, 0.05, 0.05, 0.1, 0.1]
Q = [0.2, 0.3, 0.25]
CASES = [
    ("reweighted and combined with the hip tree", P, Q),
    ("reweighted only without a hip tree", P, None),
    ("background at 0.97 is left alone", [0.97, 0.01, 0.01, 0.0, 0.0, 0.01, 0.0], Q),
    ("fewer than seven classes are left alone", [0.5, 0.1, 0.1, 0.1, 0.1, 0.1], Q),
    ("a zero sum is not divided", [0.0] * 7, None),
    ("short hip posterior", P, [0.5, 0.5]),
]

for name, p, q in CASES:
    print("%s: %s" % (name, ", ".join(repr(float(v)) for v in combine(p, q))))
