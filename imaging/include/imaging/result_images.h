// The seven RGB888 pictures that show a solved segmentation.
#pragma once

#include <QImage>

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

class Segmenter;

// The result images in the order they are built and handed to their views. g is a pixel's grey
// level; "Background side" means Segmenter::is_background is true.
struct ResultImages
{
    QImage binary_mask; // Background side black, Object side white
    QImage segmented; // Background side (g, g, g), Object side pure red
    QImage edge; // scaled(gradient_ratio) everywhere
    QImage histo; // scaled(likelihood / likelihood_max) everywhere
    QImage prob; // scaled(edge_weight / weight_max) everywhere
    QImage bg_segmented; // Background side (g, g, g), Object side black
    QImage fg_segmented; // Background side black, Object side (g, g, g)
};

// Grey byte of a ratio: the integer part of 255 * ratio, truncated toward zero, low eight bits
// kept (1.2 gives 306, stored as 50). A product that is not finite or lies outside the 32-bit
// signed range gives 0.
std::uint8_t scaled(double ratio);

// Builds the seven images, each the engine's width x height in Format_RGB888.
// Requires a solved engine: after Segmenter::compute returned done and before delete_graph.
// Stops early, leaving the pictures unfinished, when the engine's control asks for a stop.
ResultImages make_result_images(const Segmenter &segmenter);

// Makes the memory of seven width x height result pictures resident and keeps it for the next
// make_result_images of that size, so that the first one after a picture opens pays no page
// faults.
void reserve_result_images(int width, int height);
// Returns the memory kept for result pictures to the system.
void release_result_image_memory();

// The three result pictures that are saved, in the order of their files: the binary mask, the
// Object picture (fg_segmented) and the Background picture (bg_segmented). The engine's sides and
// grey levels are taken in row order when it is made, so that the graph can be released before
// the files are encoded.
class SavedResults
{
public:
    // Requires a solved engine, as make_result_images does.
    explicit SavedResults(const Segmenter &segmenter);

    long long object_pixels() const { return objects; }

    // The PNG files of the three pictures, side by side on the cores, each row made straight into
    // the encoder with no full-size picture in between: byte for byte encode_png of
    // make_result_images' binary_mask, fg_segmented and bg_segmented. Empty files for an empty
    // engine.
    std::vector<QByteArray> encode() const;

private:
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint8_t[]> grey; // row-major grey levels
    std::unique_ptr<std::uint8_t[]> background; // row-major, 1 on the Background side
    long long objects = 0;
};
