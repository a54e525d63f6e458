// Tile records of label-layer changes, for undo and redo.
#include "imaging/label_edit.h"

#include <algorithm>
#include <cstring>

namespace {

// The labels of `rect` row by row, or a single byte when they are all alike.
std::vector<std::uint8_t> copy_tile(const LabelLayer &layer, const QRect &rect)
{
    std::vector<std::uint8_t> labels(static_cast<std::size_t>(rect.width())
                                     * static_cast<std::size_t>(rect.height()));
    std::uint8_t *out = labels.data();
    for (int y = rect.top(); y <= rect.bottom(); ++y, out += rect.width())
        std::memcpy(out, layer.row(y) + rect.left(), static_cast<std::size_t>(rect.width()));
    if (std::all_of(labels.begin(), labels.end(), [&](std::uint8_t v) { return v == labels[0]; }))
        labels.resize(1);
    labels.shrink_to_fit();
    return labels;
}

} // namespace

QRect LabelEdit::bounds() const
{
    QRect all;
    for (const Tile &tile : tiles)
        all |= tile.rect;
    return all;
}

std::size_t LabelEdit::bytes() const
{
    std::size_t total = tiles.capacity() * sizeof(Tile);
    for (const Tile &tile : tiles)
        total += tile.before.capacity() + tile.after.capacity();
    return total;
}

void LabelEdit::restore(LabelLayer &layer, bool after) const
{
    if (layer.width() != width || layer.height() != height)
        return;
    for (const Tile &tile : tiles) {
        const std::vector<std::uint8_t> &labels = after ? tile.after : tile.before;
        const auto row_length = static_cast<std::size_t>(tile.rect.width());
        const std::uint8_t *in = labels.data();
        for (int y = tile.rect.top(); y <= tile.rect.bottom(); ++y) {
            std::uint8_t *out = layer.row(y) + tile.rect.left();
            if (labels.size() == 1) {
                std::memset(out, labels[0], row_length);
            } else {
                std::memcpy(out, in, row_length);
                in += row_length;
            }
        }
    }
}

LabelEditRecorder::LabelEditRecorder(const LabelLayer &recorded)
    : layer(&recorded)
{
    constexpr int size = LabelEdit::tile_size;
    columns = (recorded.width() + size - 1) / size;
    const int rows = (recorded.height() + size - 1) / size;
    kept.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), -1);
    edit.width = recorded.width();
    edit.height = recorded.height();
}

void LabelEditRecorder::touch(const QRect &region)
{
    constexpr int size = LabelEdit::tile_size;
    const QRect area = region.intersected(layer->rect());
    if (area.isEmpty())
        return;
    for (int ty = area.top() / size; ty <= area.bottom() / size; ++ty)
        for (int tx = area.left() / size; tx <= area.right() / size; ++tx) {
            int &index = kept[static_cast<std::size_t>(ty * columns + tx)];
            if (index >= 0)
                continue;
            index = static_cast<int>(edit.tiles.size());
            const QRect rect = QRect(tx * size, ty * size, size, size).intersected(layer->rect());
            edit.tiles.push_back({rect, copy_tile(*layer, rect), {}});
        }
}

LabelEdit LabelEditRecorder::finish()
{
    std::vector<LabelEdit::Tile> changed;
    for (LabelEdit::Tile &tile : edit.tiles) {
        tile.after = copy_tile(*layer, tile.rect);
        if (tile.after != tile.before)
            changed.push_back(std::move(tile));
    }
    changed.shrink_to_fit();
    edit.tiles = std::move(changed);
    std::fill(kept.begin(), kept.end(), -1);
    return std::move(edit);
}
