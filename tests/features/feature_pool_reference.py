#!/usr/bin/python3
# Independent enumeration of the version-1 feature pool of an Object3DSample: the atlas,
# intensity, location and derivative entries, the version-1 Haar family of the cubic
# sample box and, with context, the offset family of the context maps. Prints, per pool,
# "radius <r> maps <K> context <0|1> size <n> sha256 <hex>", the digest taken over every
# description in pool order, each followed by "\n". With "--list" it prints the
# descriptions themselves. The C++ pool test holds the figures for the training pools
# (radius 5, 3 maps, with and without context).
import hashlib
import math
import sys

# ---- Haar filters: boxes (x0, x1, y0, y1, z0, z1) relative to the filter's corner ----


def halves(e):
    return (0, e // 2 - 1), (e // 2, e - 1)


def thirds(e):
    return (0, e // 3 - 1), (e // 3, 2 * e // 3 - 1), (2 * e // 3, e - 1)


def pattern(t, d, h, w):
    """The boxes of pattern type t over depth d, height h, width w; None when it does not build."""
    full_x, full_y, full_z = (0, w - 1), (0, h - 1), (0, d - 1)
    if t == 0:
        return [(xs, full_y, full_z) for xs in halves(w)] if w >= 2 else None
    if t == 1:
        return [(full_x, ys, full_z) for ys in halves(h)] if h >= 2 else None
    if t == 2:
        return [(full_x, full_y, zs) for zs in halves(d)] if d >= 2 else None
    if t == 3:
        return [(xs, full_y, full_z) for xs in thirds(w)] if w >= 3 else None
    if t == 4:
        return [(full_x, ys, full_z) for ys in thirds(h)] if h >= 3 else None
    if t == 5:
        return [(full_x, full_y, zs) for zs in thirds(d)] if d >= 3 else None
    if t == 6:
        if w < 2 or h < 2:
            return None
        (xl, xh), (yl, yh) = halves(w), halves(h)
        return [(xl, yl, full_z), (xh, yl, full_z), (xl, yh, full_z), (xh, yh, full_z)]
    if t == 7:
        if d < 2 or h < 2:
            return None
        (yl, yh), (zl, zh) = halves(h), halves(d)
        return [(full_x, yl, zl), (full_x, yh, zl), (full_x, yl, zh), (full_x, yh, zh)]
    if t == 8:
        if d < 2 or w < 2:
            return None
        (xl, xh), (zl, zh) = halves(w), halves(d)
        return [(xl, full_y, zl), (xl, full_y, zh), (xh, full_y, zl), (xh, full_y, zh)]
    if t == 9:
        return [(full_x, full_y, full_z)]
    return None


def degenerate(boxes):
    """The validity rule for pattern types 0..9 (boxes as (x, y, z) ranges)."""
    if boxes is None:
        return True
    if len(boxes) < 2:
        return False
    for axis in (2, 1, 0):  # slices, then rows, then columns
        (lo0, hi0), (lo1, hi1) = boxes[0][axis], boxes[1][axis]
        if hi0 == lo0 and hi1 == lo1 and lo1 == hi0 + 1:
            return True
    return False


def haar_version1(a, b, e):
    """Descriptions of the version-1 Haar entries of an a x b x e box (depth, height, width)."""
    out = []

    def enter(t, front, top, left, sa, sb, sc):
        text = "type: %i, front: %i, top: %i, left: %i, depth: %i, height: %i, width: %i" % (
            t, front, top, left, sa, sb, sc)
        out.extend([text] * (4 if t == 9 else 1))  # variants 1 (and 4, 5, 6 for the single box)

    for sa in range(a, 1, -2):
        for sb in range(b, 1, -2):
            for sc in range(e, 1, -2):
                oa, ob, oc = a - sa, b - sb, e - sc
                for t in range(10):
                    # The validity of a pattern does not depend on where it is placed.
                    if degenerate(pattern(t, sa, sb, sc)):
                        break
                    enter(t, oa // 2, ob // 2, oc // 2, sa, sb, sc)
                    if t < 3:
                        continue
                    for x in range(0, oa + 1, 2):
                        for y in range(0, ob, 2):
                            for z in range(0, oc, 2):
                                enter(t, x, y, z, sa, sb, sc)
    return out


# ---- the other families ----


def context_offsets(maps):
    if maps < 10:
        radii = list(range(1, 16, 2)) + list(range(16, 31, 3)) + list(range(31, 51, 5))
        thetas, phis = range(0, 151, 30), range(0, 331, 30)
    else:
        radii = list(range(1, 51, 10))
        thetas, phis = range(0, 151, 60), range(0, 331, 90)
    offsets = []
    for r in radii:
        for th in thetas:
            for ph in phis:
                t = th * math.pi / 180
                p = ph * math.pi / 180
                dx = int(r * math.sin(t) * math.cos(p) + 0.5)
                dy = int(r * math.sin(t) * math.sin(p) + 0.5)
                dz = int(r * math.cos(t) + 0.5)
                offsets.append((dx, dy, dz))
    offsets.append((0, 0, 0))
    for dz in range(-2, 3):
        for dx in range(-2, 3):
            offsets.append((dx, -2, dz))
    return offsets


LOCATIONS = ["x", "y", "z", "x+y", "x+z", "y+z", "x-y", "x-z", "y-z", "x+y+z"]


def pool(radius, maps, context):
    side = 2 * radius + 1
    out = ["atlas", "intensity feature", "gradient feature"]
    out += ["location feature: %s location" % n for n in LOCATIONS]
    steps = (-2, 0, 2)
    for subtype in range(3):
        for index in range(6):
            for d in steps:
                for h in steps:
                    for w in steps:
                        out.append("derivative feature: subtype=%i, index= %i, depth=%i, height=%i, width=%i" %
                                   (subtype, index, d, h, w))
    out += haar_version1(side, side, side)
    if context:
        for dx, dy, dz in context_offsets(maps):
            out += ["context probability %d, %d, %d" % (dx, dy, dz)] * maps
    return out


def main():
    if "--list" in sys.argv:
        for text in pool(5, 3, True):
            print(text)
        return
    for context in (1, 0):
        entries = pool(5, 3, context)
        digest = hashlib.sha256("".join(t + "\n" for t in entries).encode()).hexdigest()
        print("radius 5 maps 3 context %d size %d sha256 %s" % (context, len(entries), digest))


if __name__ == "__main__":
    main()
