// The command line of vellacut-cli: what one run is asked to do, and its help text.
#pragma once

#include <QString>
#include <QStringList>

#include "flowgraph/solver_choice.h"

// Everything the command line can say. Parameters keep the text they were given as well, so a
// batch can hand its workers exactly what the user typed.
struct Options
{
    enum class Mode { single, batch, help, version };

    Mode mode = Mode::single;
    QString image; // single mode
    QString strokes; // single mode
    QString batch_list; // batch mode; "-" is standard input
    int jobs = 1;
    QString output_dir = QStringLiteral(".");
    // Same defaults as the window's fields.
    double w = 1.0;
    double v = 0.45;
    double k = 1000.0;
    QString w_text = QStringLiteral("1.0");
    QString v_text = QStringLiteral("0.45");
    QString k_text = QStringLiteral("1000.0");
    bool use_bbox = true;
    SolverChoice solver = default_solver;
    QString stats_json; // empty: no statistics file
    bool skip_existing = false; // leave an image alone when its three results exist
    QString manifest; // empty: no manifest; otherwise one JSON line per image is appended
};

struct ParsedOptions
{
    Options options;
    QString error; // empty when the command line was understood
};

// Reads the arguments after the program name. Numbers must be finite decimal numbers in full
// (a typo is an error, never 0); -j needs --batch and a whole number from 1 to max_jobs.
[[nodiscard]] ParsedOptions parse_command_line(const QStringList &arguments);

inline constexpr int max_jobs = 256;

// The text --help prints.
QString help_text();
