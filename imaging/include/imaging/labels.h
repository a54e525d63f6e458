// From pictures to the engine: the grey copy of an opened image and the seed scan that turns
// the label layer into Background and Object seeds and the graph region.
#pragma once

#include "imaging/label_layer.h"

#include <QImage>

class Segmenter;

// What one seed scan found. The box holds the seeds' extreme coordinates; with no seed it keeps
// its start values (min 999999999, max -999999999).
struct LabelScan
{
    bool valid = true; // false when the layer and the image differ in size: nothing was scanned
    int min_x = 999999999;
    int max_x = -999999999;
    int min_y = 999999999;
    int max_y = -999999999;
    long long background_seeds = 0;
    long long object_seeds = 0;
};

// Gives `segmenter` the size of `image` and the grey level qGray of every pixel, at index
// x * height + y, columns outer and rows inner. A null image gives a 0 x 0 engine image.
void copy_grey_levels(const QImage &image, Segmenter &segmenter);

// Empties the seed lists and refills them from `labels`, scanning column by column (x outer),
// each column top to bottom: a Background label adds a Background seed, an Object label an
// Object seed, with index x * height + y and the grey level of that pixel in `unpainted` (never
// the stroke colour). With `use_bbox` the region is the seeds' bounding box, its ends being the
// largest seed coordinates themselves (the region's ends are exclusive, so the last row and
// column of seeds start no edges); otherwise it is the whole image. Prints "BB: %d, %d" with
// the box's extents either way.
// Requires `labels` and `unpainted` to have the same size; otherwise seeds are emptied, the
// region is left empty, nothing is printed and the result is not valid.
LabelScan scan_seeds(const LabelLayer &labels, const QImage &unpainted, Segmenter &segmenter,
                     bool use_bbox);
