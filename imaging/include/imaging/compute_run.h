// One whole COMPUTE from a picture and its strokes to the result pictures, as the window runs it
// on its worker thread: everything it needs is copied in, everything it makes is handed back.
#pragma once

#include "imaging/label_layer.h"
#include "imaging/labels.h"
#include "imaging/result_images.h"

#include <segmentation/segmenter.h>

#include <QImage>

// What one COMPUTE starts from: a snapshot taken when it was asked for, so that later painting
// or another picture opening cannot change it half-way.
struct ComputeRequest
{
    QImage unpainted; // the opened picture, as read from its file
    LabelLayer labels; // its strokes, the same size
    double k = 1000.0;
    double v = 0.45;
    double w = 1.0;
    bool use_bbox = true;
    SolverChoice solver = default_solver;
};

// What one COMPUTE gave. The pictures are filled only when result is done.
struct ComputeOutcome
{
    ComputeResult result = ComputeResult::cancelled;
    LabelScan scan;
    ResultImages images;
};

// Runs one COMPUTE on `segmenter`, which must hold the grey levels of request.unpainted: the
// parameters k, v, w, the seed scan (printing "BB"), Segmenter::compute with its lines, "WxH"
// and the seven pictures; the graph is released at the end. The stages are reported to, and a
// stop is taken from, segmenter.control; a stopped run returns cancelled with no pictures.
ComputeOutcome run_compute(const ComputeRequest &request, Segmenter &segmenter);

// Prepares the memory of a COMPUTE of `segmenter`'s image (graph, per-pixel values, result
// pictures) while the user is still painting; stops early when segmenter.control asks.
void warm_up_compute(Segmenter &segmenter);
