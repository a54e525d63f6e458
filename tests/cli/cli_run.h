// Helpers of the command-line tests: running the built vellacut-cli, reading what it wrote, and
// the oracle, which is the window's own sequence of imaging and engine calls run in-process.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

// How one run of the program ended.
struct CliRun
{
    int exit_code = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;

    QStringList out_lines() const;
    QStringList err_lines() const;
};

// Runs vellacut-cli with `arguments` in `working_dir` (the test's own when empty), feeding
// `input` on standard input. The environment has no display and no Qt platform set, as on a
// headless server, plus the NAME=VALUE settings of `extra_environment`.
CliRun run_cli(const QStringList &arguments, const QByteArray &input = {},
               const QString &working_dir = {}, const QStringList &extra_environment = {});

// Lines of a text, without the empty one after the last line break.
QStringList text_lines(const QByteArray &text);

QByteArray file_bytes(const QString &path);

// Every entry of a folder, hidden ones included, sorted.
QStringList folder_entries(const QString &dir);

// The picture at `path` as RGB888, null when it cannot be read.
QImage read_rgb888(const QString &path);

// What the window shows and saves for one COMPUTE on these pictures: its console lines (open,
// COMPUTE), the three saved pictures as RGB888 and the figures behind them.
struct WindowResult
{
    QStringList console;
    QImage mask;
    QImage object;
    QImage background;
    double flow = 0.0;
    long long background_seeds = 0;
    long long object_seeds = 0;
    long long object_pixels = 0;
    int roi[4] = {}; // x_begin, x_end, y_begin, y_end
    bool done = false; // false when the engine refused (too few seeds)
};

// Loads the two picture files as the window and the program do, and runs the window's steps.
WindowResult window_compute(const QString &image_path, const QString &strokes_path, double w = 1.0,
                            double v = 0.45, double k = 1000.0, bool use_bbox = true);

// A PNG file that holds a header chunk declaring width x height and empty data: enough for a
// reader to learn the size, nothing to decode.
QByteArray png_header_only(quint32 width, quint32 height);
