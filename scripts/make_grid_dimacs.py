#!/usr/bin/env python3
"""Writes a four-connected grid max-flow problem in DIMACS form, shaped like a segmentation.

A synthetic noisy picture (a bright disc on a darker background, fixed seed) gives every pixel
one terminal arc, from the source or to the sink, weighted by how much better one grey-level
model fits than the other; neighbouring pixels get an arc each way weighted by their contrast.
All capacities are small integers so the flow stays exact in single precision.

    scripts/make_grid_dimacs.py [--width 1000] [--height 1000] [--seed 1] OUT
"""

import argparse
import math
import random


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="file to write")
    parser.add_argument("--width", type=int, default=1000)
    parser.add_argument("--height", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    width, height = args.width, args.height
    if width < 1 or height < 1:
        parser.error("width and height must be positive")

    rng = random.Random(args.seed)
    cx, cy, radius = width / 2.0, height / 2.0, 0.3 * min(width, height)
    object_mean, background_mean, noise = 170.0, 80.0, 40.0

    # Grey levels, column-major like the pixel index: i = x * height + y.
    grey = [0.0] * (width * height)
    for x in range(width):
        for y in range(height):
            inside = (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
            mean = object_mean if inside else background_mean
            grey[x * height + y] = min(255.0, max(0.0, rng.gauss(mean, noise)))

    # Node ids: 1 the source, 2 the sink, pixel i is id i + 3.
    source, sink = 1, 2
    node_count = width * height + 2
    inner_pairs = (width - 1) * height + width * (height - 1)
    arc_count = width * height + 2 * inner_pairs

    def data_term(g):
        # Positive: fits the background model better (source side), negative: the object model.
        fit_object = (g - object_mean) ** 2
        fit_background = (g - background_mean) ** 2
        return int(round(4.0 * (fit_object - fit_background) / (2.0 * noise * noise)))

    def edge_weight(a, b):
        return 1 + int(round(20.0 * math.exp(-((a - b) ** 2) / (2.0 * 30.0 * 30.0))))

    with open(args.out, "w") as out:
        out.write("c %d x %d four-connected grid, seed %d\n" % (width, height, args.seed))
        out.write("p max %d %d\n" % (node_count, arc_count))
        out.write("n %d s\nn %d t\n" % (source, sink))
        lines = []
        for i, g in enumerate(grey):
            d = data_term(g)
            if d >= 0:
                lines.append("a %d %d %d\n" % (source, i + 3, d))
            else:
                lines.append("a %d %d %d\n" % (i + 3, sink, -d))
        out.write("".join(lines))
        for x in range(width):
            lines = []
            for y in range(height):
                i = x * height + y
                if x + 1 < width:
                    j = i + height
                    w = edge_weight(grey[i], grey[j])
                    lines.append("a %d %d %d\na %d %d %d\n" % (i + 3, j + 3, w, j + 3, i + 3, w))
                if y + 1 < height:
                    j = i + 1
                    w = edge_weight(grey[i], grey[j])
                    lines.append("a %d %d %d\na %d %d %d\n" % (i + 3, j + 3, w, j + 3, i + 3, w))
            out.write("".join(lines))


if __name__ == "__main__":
    main()
