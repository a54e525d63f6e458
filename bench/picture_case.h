// A benchmark picture as the window holds it: the opened picture and the label layer of its
// strokes.
#pragma once

#include "instance_picture.h"

#include <imaging/label_layer.h>

#include <QImage>

struct Case
{
    QImage image; // grey, as an RGB picture
    LabelLayer labels;
};

// The picture as an RGB image (each pixel its grey level) and its strokes as a label layer.
Case to_case(const Picture &picture);
