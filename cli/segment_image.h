// One image from its two pictures to its three result files: what vellacut-cli IMAGE STROKES
// does, and what every batch worker does for its pair.
#pragma once

#include "options.h"

#include <segmentation/segmenter.h>

#include <QString>
#include <QStringList>

// One pair to segment, with the run's command line for the output folder and the parameters.
struct ImageJob
{
    QString image;
    QString strokes;
    Options options;
};

// Milliseconds spent in each stage of one image; a stage that did not run stays negative.
struct ImageTimes
{
    double load = -1.0; // both pictures read (side by side), grey levels copied into the engine
    double seeds = -1.0; // strokes picture to seeds, box and region
    // The engine's own stages, as Segmenter::compute reports them.
    StageTimes engine = {-1.0, -1.0, -1.0, -1.0, -1.0};
    double compute = -1.0; // the whole of Segmenter::compute, the stages above included
    double images = -1.0; // the engine's answer taken in row order for the result pictures
    double save = -1.0; // the three PNG files made row by row, encoded and put in place
};

// What became of one image. On failure `error` is one line that names the file and the
// problem, and nothing has been written.
struct ImageReport
{
    int exit_code = 0; // an exit_code:: value: done, bad_input or cannot_write
    QString error;
    int width = 0;
    int height = 0;
    long long background_seeds = 0;
    long long object_seeds = 0;
    int roi_x_begin = 0;
    int roi_x_end = 0;
    int roi_y_begin = 0;
    int roi_y_end = 0;
    double flow = 0.0;
    long long object_pixels = 0;
    QStringList outputs; // the files written, mask, object, background
    ImageTimes times;

    bool ok() const { return exit_code == 0; }
};

// The name that the result files of `image_path` start with: the file name without its folder
// and without everything from its first dot on.
QString output_base_name(const QString &image_path);

// B_mask.png, B_object.png and B_background.png for the picture at `image_path`, in the order
// they are written.
[[nodiscard]] QStringList output_names(const QString &image_path);

// The three result files of `image_path` in `dir`: mask, object, background.
[[nodiscard]] QStringList output_paths(const QString &image_path, const QString &dir);

// Empty when none of `outputs` is the same file as one of `inputs` (empty entries ignored),
// otherwise one line naming both.
[[nodiscard]] QString check_outputs_spare_inputs(const QStringList &outputs,
                                                 const QStringList &inputs);

// True when all three result files of `image_path` are in `dir` as non-empty files. Only looks
// at the folder: nothing is read or decoded, so a rerun over finished work costs little.
bool outputs_exist(const QString &image_path, const QString &dir);

// The line that reports `image_path` as skipped because its results are already in `dir`.
QString skipped_line(const QString &image_path, const QString &dir);

// Empty when `dir` is an existing directory that can be written, otherwise the reason as one
// line naming it.
[[nodiscard]] QString check_output_dir(const QString &dir);

// Loads the pictures, collects the seeds, segments and writes B_mask.png, B_object.png and
// B_background.png into job.options.output_dir, printing the same console lines as the window's
// open and COMPUTE. The three files replace any old ones only once all three are written. The
// caller has checked the folder with check_output_dir (a folder that goes away meanwhile still
// fails the write, naming the file and the reason).
[[nodiscard]] ImageReport segment_image(const ImageJob &job);
