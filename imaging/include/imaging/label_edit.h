// LabelEdit holds what one change did to a label layer, tile by tile, so it can be undone and
// redone without keeping whole layers.
#pragma once

#include "imaging/label_layer.h"

#include <QRect>

#include <cstddef>
#include <cstdint>
#include <vector>

// The tiles of a label layer that one change altered, each with its labels before and after.
// Strokes leave long runs of one label, so a tile is kept as runs (label, length) unless that
// would take more room than its plain labels. Applying an edit to a layer of another size than
// the one it was recorded on does nothing.
class LabelEdit
{
public:
    // Side length of the square tiles, in pixels.
    static constexpr int tile_size = 64;

    // The labels of one tile row by row: plain, or as (label, run length 1 to 255) pairs.
    struct Packed
    {
        bool runs = false;
        std::vector<std::uint8_t> bytes;

        bool operator==(const Packed &) const = default;
    };

    bool is_empty() const { return tiles.empty(); }
    // The smallest rectangle holding every changed tile.
    QRect bounds() const;
    // Heap bytes the edit keeps.
    std::size_t bytes() const;

    // Writes the labels from before (or after) the change into `layer`.
    void restore_before(LabelLayer &layer) const { restore(layer, false); }
    void restore_after(LabelLayer &layer) const { restore(layer, true); }

private:
    friend class LabelEditRecorder;

    struct Tile
    {
        QRect rect;
        Packed before;
        Packed after;
    };

    void restore(LabelLayer &layer, bool after) const;

    int width = 0; // size of the layer the edit was recorded on
    int height = 0;
    std::vector<Tile> tiles;
};

// Records one change to a layer: call touch() with every region before changing it, then
// finish() once the change is complete. The layer must outlive the recorder and keep its size.
class LabelEditRecorder
{
public:
    explicit LabelEditRecorder(const LabelLayer &layer);

    // Keeps the current labels of every tile that meets `region` and was not kept yet.
    void touch(const QRect &region);
    // The tiles whose labels differ now from what touch() kept; the recorder is spent.
    LabelEdit finish();

private:
    const LabelLayer *layer;
    int columns = 0; // tiles across
    std::vector<int> kept; // per tile: index in edit.tiles, or -1
    LabelEdit edit;
};
