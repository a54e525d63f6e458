// Drawing the synthetic photos and strokes pictures.
#include "test_pictures.h"

#include <QDir>
#include <QPainter>
#include <QPen>
#include <QRandomGenerator>

#include <algorithm>

namespace {

int clamp_byte(int value)
{
    return std::clamp(value, 0, 255);
}

} // namespace

QImage synthetic_photo(int width, int height, unsigned seed)
{
    QImage photo(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double rx = width / 4.0;
    const double ry = height / 4.0;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / rx;
            const double dy = (y - cy) / ry;
            const bool inside = dx * dx + dy * dy <= 1.0;
            const int noise = static_cast<int>(random.bounded(71)) - 35;
            const int shade = (x + y) * 40 / std::max(1, width + height);
            const int grey = inside ? 150 + noise : 90 + shade + noise;
            row[x] = qRgb(clamp_byte(grey + 10), clamp_byte(grey), clamp_byte(grey - 10));
        }
    }
    return photo;
}

QImage synthetic_strokes(int width, int height)
{
    QImage strokes(width, height, QImage::Format_ARGB32);
    strokes.fill(Qt::transparent);
    QPainter painter(&strokes);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int pen = std::max(1, std::min(width, height) / 50);
    painter.setPen(QPen(QColor(0, 255, 0), pen));
    painter.drawLine(width * 3 / 8, height / 2, width * 5 / 8, height / 2);
    painter.drawLine(width / 2, height * 3 / 8, width / 2, height * 5 / 8);
    painter.setPen(QPen(QColor(255, 0, 0), pen));
    const int margin = std::max(1, std::min(width, height) / 20);
    painter.drawRect(margin, margin, width - 1 - 2 * margin, height - 1 - 2 * margin);
    return strokes;
}

bool write_test_pair(const QString &dir, const QString &name, int width, int height, unsigned seed)
{
    const QDir folder(dir);
    return synthetic_photo(width, height, seed).save(folder.filePath(name + ".png"), "PNG")
        && synthetic_strokes(width, height).save(folder.filePath(name + "-strokes.png"), "PNG");
}
