// LabelLayer records which pixels of an image the user painted as Background or Object.
#pragma once

#include <QImage>
#include <QPointF>

#include <cstdint>

enum class Label : std::uint8_t {
    none = 0,
    background = 1, // red strokes, draw mode 1
    object = 2, // green strokes, any other draw mode
};

// The label a pixel of a strokes picture stands for: pure red (255, 0, 0) is Background, pure
// green (0, 255, 0) is Object, every other colour none, and so is any fully transparent pixel.
inline Label stroke_label(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                          std::uint8_t alpha)
{
    if (alpha == 0 || blue != 0)
        return Label::none;
    if (red == 255 && green == 0)
        return Label::background;
    if (red == 0 && green == 255)
        return Label::object;
    return Label::none;
}

// One label per image pixel, none until painted. Discs are rasterised exactly as the canvas
// paints them (same pen, no antialiasing), so the layer marks exactly the pixels a stroke turned
// pure red or pure green; a later disc replaces an earlier one where they overlap. Points outside
// the image are ignored. Internally a greyscale QImage whose pixel values are the labels.
class LabelLayer
{
public:
    LabelLayer() = default;
    // A width x height layer with every label none.
    LabelLayer(int width, int height);

    // Reads a strokes picture: pure red (255, 0, 0) is Background, pure green (0, 255, 0) is
    // Object, every other colour none. Alpha is ignored, except that a fully transparent pixel
    // is none.
    static LabelLayer from_strokes_image(const QImage &strokes);
    // The layer whose labels are the pixel values of `labels`, a Format_Grayscale8 picture
    // holding only values of Label; empty for a picture of another format.
    static LabelLayer from_label_values(QImage labels);
    // The strokes picture of this layer, which from_strokes_image reads back unchanged: pure red
    // for Background, pure green for Object, fully transparent elsewhere (ARGB32).
    QImage to_strokes_image() const;

    int width() const { return layer.width(); }
    int height() const { return layer.height(); }
    bool is_empty() const { return layer.isNull(); }

    // Requires 0 <= x < width(), 0 <= y < height().
    Label at(int x, int y) const { return static_cast<Label>(layer.constScanLine(y)[x]); }
    void set(int x, int y, Label label);

    // Sets every label to none.
    void clear();

    // Records the disc a canvas paints at `centre` (pixel coordinates) with a pen of `pen_width`
    // (0: one-pixel pen) in draw mode `mode`: 1 gives Background, any other mode Object.
    void paint_disc(QPointF centre, int pen_width, int mode);

    // Sets `label` (none erases) on every pixel whose centre lies within `pen_width` / 2 of the
    // segment from `from` to `to` (pixel coordinates): a round-capped line. Pens narrower than
    // one pixel reach sqrt(1/2), so any point marks at least the pixel it lies in. A pixel
    // belongs to a chain of collinear segments exactly when it belongs to the one segment they
    // make up, so a drag gives the same labels however many pointer events it arrived as.
    // Returns the rectangle of pixels that may have changed (empty when none could).
    QRect paint_segment(QPointF from, QPointF to, int pen_width, Label label);
    // The pixels paint_segment() may reach, before clipping to a layer.
    static QRect segment_bounds(QPointF from, QPointF to, int pen_width);

    // Raw rows for copying regions in and out; requires 0 <= y < height().
    const std::uint8_t *row(int y) const { return layer.constScanLine(y); }
    std::uint8_t *row(int y) { return layer.scanLine(y); }
    QRect rect() const { return layer.rect(); }

    // Number of pixels that carry `label`.
    long long count(Label label) const;

private:
    QImage layer; // Format_Grayscale8, pixel value = Label
};
