// A mark layer item and its shrunken copy for views that show the picture smaller than 1:1.
#include "canvas/mark_layer.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>
#include <cmath>

void MarkLayer::reset(QSize size)
{
    prepareGeometryChange();
    marks = QImage(size, QImage::Format_ARGB32_Premultiplied);
    marks.fill(Qt::transparent);
    pooled = QImage();
    factor = 0;
    stale = QRect();
    update();
}

void MarkLayer::changed(const QRect &pixels)
{
    stale |= pixels.intersected(marks.rect());
    update(QRectF(pixels));
}

QRectF MarkLayer::boundingRect() const
{
    return QRectF(QPointF(0, 0), marks.size());
}

void MarkLayer::pool(const QRect &pixels)
{
    const QRect area = pixels.intersected(marks.rect());
    if (area.isEmpty())
        return;
    const int first_x = area.left() / factor;
    const int last_x = area.right() / factor;
    for (int cy = area.top() / factor; cy <= area.bottom() / factor; ++cy) {
        auto *out = reinterpret_cast<QRgb *>(pooled.scanLine(cy));
        const int y_end = std::min((cy + 1) * factor, marks.height());
        for (int cx = first_x; cx <= last_x; ++cx) {
            QRgb found = 0;
            const int x_end = std::min((cx + 1) * factor, marks.width());
            for (int y = cy * factor; y < y_end && found == 0; ++y) {
                const auto *row = reinterpret_cast<const QRgb *>(marks.constScanLine(y));
                for (int x = cx * factor; x < x_end; ++x)
                    if (qAlpha(row[x]) != 0) {
                        found = row[x];
                        break;
                    }
            }
            out[cx] = found;
        }
    }
}

void MarkLayer::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    if (marks.isNull())
        return;
    const double scale = option->levelOfDetailFromTransform(painter->worldTransform());
    const QRect exposed = option->exposedRect.toAlignedRect().intersected(marks.rect());
    if (exposed.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (!keep_thin_marks || scale >= 1.0 || !(scale > 0.0)) {
        painter->drawImage(exposed, marks, exposed);
        painter->restore();
        return;
    }
    // Blocks of `wanted` picture pixels cover at least one screen pixel each.
    const int wanted = static_cast<int>(std::ceil(1.0 / scale));
    if (wanted != factor) {
        factor = wanted;
        pooled =
            QImage((marks.width() + factor - 1) / factor, (marks.height() + factor - 1) / factor,
                   QImage::Format_ARGB32_Premultiplied);
        stale = marks.rect();
    }
    if (!stale.isEmpty()) {
        pool(stale);
        stale = QRect();
    }
    const QRect cells(exposed.left() / factor, exposed.top() / factor,
                      exposed.right() / factor - exposed.left() / factor + 1,
                      exposed.bottom() / factor - exposed.top() / factor + 1);
    painter->drawImage(QRectF(cells.left() * factor, cells.top() * factor, cells.width() * factor,
                              cells.height() * factor),
                       pooled, cells);
    painter->restore();
}
