// The label layer: painted strokes as one label per pixel.
#include "imaging/label_layer.h"

#include <QBrush>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A grey whose 8-bit level is the label's value, so painting it writes the label itself.
QColor label_colour(Label label)
{
    const int value = static_cast<int>(label);
    return QColor(value, value, value);
}

// Squared distance from a segment within which a pixel centre is painted.
double reach_squared(int pen_width)
{
    const double radius = pen_width / 2.0;
    return std::max(radius * radius, 0.5);
}

} // namespace

LabelLayer::LabelLayer(int width, int height)
    : layer(width, height, QImage::Format_Grayscale8)
{
    clear();
}

LabelLayer LabelLayer::from_strokes_image(const QImage &strokes)
{
    LabelLayer result(strokes.width(), strokes.height());
    if (strokes.isNull())
        return result;
    // Strokes without alpha read as RGB32, whose alpha byte is always 255: no copy needed.
    const QImage argb =
        strokes.format() == QImage::Format_ARGB32 || strokes.format() == QImage::Format_RGB32
        ? strokes
        : strokes.convertToFormat(QImage::Format_ARGB32);
    const int width = argb.width();
    const int height = argb.height();
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        std::uint8_t *out = result.layer.scanLine(y);
        // A fully transparent pixel is no stroke, whatever colour it keeps underneath (an
        // erased stroke often keeps its red or green).
        for (int x = 0; x < width; ++x)
            out[x] = static_cast<std::uint8_t>(stroke_label(
                static_cast<std::uint8_t>(qRed(row[x])), static_cast<std::uint8_t>(qGreen(row[x])),
                static_cast<std::uint8_t>(qBlue(row[x])),
                static_cast<std::uint8_t>(qAlpha(row[x]))));
    }
    return result;
}

LabelLayer LabelLayer::from_label_values(QImage labels)
{
    LabelLayer result;
    if (labels.format() == QImage::Format_Grayscale8)
        result.layer = std::move(labels);
    return result;
}

QImage LabelLayer::to_strokes_image() const
{
    QImage strokes(layer.width(), layer.height(), QImage::Format_ARGB32);
    if (strokes.isNull())
        return strokes;
    strokes.fill(Qt::transparent);
    for (int y = 0; y < layer.height(); ++y) {
        const std::uint8_t *labels = layer.constScanLine(y);
        auto *out = reinterpret_cast<QRgb *>(strokes.scanLine(y));
        for (int x = 0; x < layer.width(); ++x) {
            if (labels[x] == static_cast<std::uint8_t>(Label::background))
                out[x] = qRgb(255, 0, 0);
            else if (labels[x] == static_cast<std::uint8_t>(Label::object))
                out[x] = qRgb(0, 255, 0);
        }
    }
    return strokes;
}

void LabelLayer::set(int x, int y, Label label)
{
    layer.scanLine(y)[x] = static_cast<std::uint8_t>(label);
}

void LabelLayer::clear()
{
    if (!layer.isNull())
        layer.fill(0);
}

void LabelLayer::paint_disc(QPointF centre, int pen_width, int mode)
{
    if (layer.isNull())
        return;
    const QColor colour = label_colour(mode == 1 ? Label::background : Label::object);
    QPainter painter(&layer);
    // The canvas's own pen: the same raster engine then touches the same pixels.
    painter.setPen(QPen(QBrush(colour, Qt::SolidPattern), pen_width, Qt::SolidLine, Qt::RoundCap,
                        Qt::RoundJoin));
    painter.drawPoints(&centre, 1);
}

QRect LabelLayer::segment_bounds(QPointF from, QPointF to, int pen_width)
{
    const double reach = std::sqrt(reach_squared(pen_width));
    // Pixel x has its centre at x + 0.5; only centres within `reach` of the segment's box can
    // be inside.
    return QRect(QPoint(static_cast<int>(std::ceil(std::min(from.x(), to.x()) - reach - 0.5)),
                        static_cast<int>(std::ceil(std::min(from.y(), to.y()) - reach - 0.5))),
                 QPoint(static_cast<int>(std::floor(std::max(from.x(), to.x()) + reach - 0.5)),
                        static_cast<int>(std::floor(std::max(from.y(), to.y()) + reach - 0.5))));
}

QRect LabelLayer::paint_segment(QPointF from, QPointF to, int pen_width, Label label)
{
    if (layer.isNull())
        return {};
    const double limit = reach_squared(pen_width);
    const QRect area = segment_bounds(from, to, pen_width).intersected(layer.rect());
    if (area.isEmpty())
        return {};
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double length_squared = dx * dx + dy * dy;
    const auto value = static_cast<std::uint8_t>(label);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        std::uint8_t *out = layer.scanLine(y);
        const double py = y + 0.5 - from.y();
        for (int x = area.left(); x <= area.right(); ++x) {
            const double px = x + 0.5 - from.x();
            // The nearest point of the segment, as a fraction t of the way along it.
            double t = length_squared > 0.0 ? (px * dx + py * dy) / length_squared : 0.0;
            t = std::clamp(t, 0.0, 1.0);
            const double ex = px - t * dx;
            const double ey = py - t * dy;
            if (ex * ex + ey * ey <= limit)
                out[x] = value;
        }
    }
    return area;
}

long long LabelLayer::count(Label label) const
{
    long long n = 0;
    const auto value = static_cast<std::uint8_t>(label);
    for (int y = 0; y < layer.height(); ++y) {
        const std::uint8_t *row = layer.constScanLine(y);
        for (int x = 0; x < layer.width(); ++x)
            n += row[x] == value ? 1 : 0;
    }
    return n;
}
