// Synthetic photos with seed strokes for the command-line tests and timing runs: a noisy,
// shaded background with a brighter blob, and a transparent strokes picture that marks the blob
// green and the margin red.
#pragma once

#include <QImage>
#include <QString>

// A width x height RGB photo: a diagonal shading with noise, and a bright ellipse in the middle
// (half the width, ~half the height) with its own noise. `seed` varies the noise.
QImage synthetic_photo(int width, int height, unsigned seed);

// A transparent ARGB32 picture of the same size: a pure green cross inside the ellipse, a pure
// red frame of strokes a little inside the border, everything else fully transparent.
QImage synthetic_strokes(int width, int height);

// Writes photo and strokes as PNG files NAME.png and NAME-strokes.png into `dir`; false on a
// failed write.
bool write_test_pair(const QString &dir, const QString &name, int width, int height, unsigned seed);
