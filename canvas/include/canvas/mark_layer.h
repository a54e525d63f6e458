// MarkLayer is a picture-sized layer of marks (strokes, the outline or tint of a cut) drawn over
// the source picture in its own scene item, never into the picture.
#pragma once

#include <QGraphicsItem>
#include <QImage>
#include <QRect>

// Shows `image()` (ARGB32 premultiplied, transparent where there is no mark) at the scene
// origin, one image pixel per scene unit, without smoothing. With `keep_thin_marks`, a view that
// shrinks the picture shows a mark on every screen pixel that covers a marked picture pixel, so
// marks thinner than a screen pixel stay visible.
class MarkLayer : public QGraphicsItem
{
public:
    MarkLayer() = default;

    // Replaces the marks with a transparent layer of `size`.
    void reset(QSize size);
    QImage &image() { return marks; }
    // Call after changing the pixels in `pixels` through image().
    void changed(const QRect &pixels);

    bool keep_thin_marks = true;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *) override;

private:
    // Recomputes the cells of `pooled` that cover `pixels`.
    void pool(const QRect &pixels);

    QImage marks;
    QImage pooled; // one cell per factor x factor block of marks: the first mark in the block
    int factor = 0; // 0: pooled is not built
    QRect stale; // picture pixels whose cells in `pooled` are out of date
};
