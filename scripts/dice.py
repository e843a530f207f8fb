#!/usr/bin/python3
"""Prints the Dice overlap of each label between a segmentation and its reference.

usage: dice.py segmentation.hdr reference.hdr
Both are Analyze 7.5 pairs of the same grid. Prints one line per label found in the
reference (label 0 excluded) and the mean.
"""
import sys

import nibabel
import numpy


def main():
    if len(sys.argv) != 3:
        print("usage: dice.py segmentation.hdr reference.hdr", file=sys.stderr)
        return 1
    seg = numpy.asarray(nibabel.load(sys.argv[1]).dataobj).squeeze()
    ref = numpy.asarray(nibabel.load(sys.argv[2]).dataobj).squeeze()
    if seg.shape != ref.shape:
        print(f"sizes differ: {sys.argv[1]} {seg.shape}, {sys.argv[2]} {ref.shape}",
              file=sys.stderr)
        return 1
    scores = []
    for label in sorted(int(v) for v in numpy.unique(ref) if v != 0):
        a = seg == label
        b = ref == label
        dice = 2.0 * numpy.logical_and(a, b).sum() / (a.sum() + b.sum())
        scores.append(dice)
        print(f"  label {label}: Dice {dice:.3f} ({int(a.sum())} voxels, reference {int(b.sum())})")
    if scores:
        print(f"  mean Dice {numpy.mean(scores):.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
