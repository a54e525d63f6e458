// Tile records of label-layer changes, for undo and redo.
#include "imaging/label_edit.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

// The labels of `rect` row by row, as runs when they are shorter.
LabelEdit::Packed pack_tile(const LabelLayer &layer, const QRect &rect)
{
    LabelEdit::Packed packed;
    std::vector<std::uint8_t> &runs = packed.bytes;
    const std::size_t plain =
        static_cast<std::size_t>(rect.width()) * static_cast<std::size_t>(rect.height());
    for (int y = rect.top(); y <= rect.bottom() && runs.size() < plain; ++y) {
        const std::uint8_t *row = layer.row(y);
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (!runs.empty() && runs[runs.size() - 2] == row[x] && runs.back() < 255)
                ++runs.back();
            else
                runs.insert(runs.end(), {row[x], std::uint8_t {1}});
        }
    }
    packed.runs = runs.size() < plain;
    if (!packed.runs) {
        runs.resize(plain);
        std::uint8_t *out = runs.data();
        for (int y = rect.top(); y <= rect.bottom(); ++y, out += rect.width())
            std::memcpy(out, layer.row(y) + rect.left(), static_cast<std::size_t>(rect.width()));
    }
    runs.shrink_to_fit();
    return packed;
}

void unpack_tile(const LabelEdit::Packed &packed, const QRect &rect, LabelLayer &layer)
{
    const auto row_length = static_cast<std::size_t>(rect.width());
    if (!packed.runs) {
        const std::uint8_t *in = packed.bytes.data();
        for (int y = rect.top(); y <= rect.bottom(); ++y, in += row_length)
            std::memcpy(layer.row(y) + rect.left(), in, row_length);
        return;
    }
    // Runs may cross row ends: walk the tile's pixels in row order.
    std::size_t run = 0;
    int left_in_run = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        std::uint8_t *out = layer.row(y) + rect.left();
        for (std::size_t x = 0; x < row_length; ++x) {
            if (left_in_run == 0) {
                left_in_run = packed.bytes[run + 1];
                run += 2;
            }
            out[x] = packed.bytes[run - 2];
            --left_in_run;
        }
    }
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
        total += tile.before.bytes.capacity() + tile.after.bytes.capacity();
    return total;
}

void LabelEdit::restore(LabelLayer &layer, bool after) const
{
    if (layer.width() != width || layer.height() != height)
        return;
    for (const Tile &tile : tiles)
        unpack_tile(after ? tile.after : tile.before, tile.rect, layer);
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
            edit.tiles.push_back({rect, pack_tile(*layer, rect), {}});
        }
}

LabelEdit LabelEditRecorder::finish()
{
    std::vector<LabelEdit::Tile> changed;
    for (LabelEdit::Tile &tile : edit.tiles) {
        tile.after = pack_tile(*layer, tile.rect);
        if (tile.after != tile.before)
            changed.push_back(std::move(tile));
    }
    changed.shrink_to_fit();
    edit.tiles = std::move(changed);
    std::fill(kept.begin(), kept.end(), -1);
    return std::move(edit);
}
