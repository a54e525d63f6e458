// The --stats-json file: per image the flow, seeds, region, object size and stage times, so
// that quality and speed can be tracked from run to run.
#pragma once

#include "segment_image.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The entry of one image that was segmented and written.
QJsonObject stats_entry(const ImageJob &job, const ImageReport &report);

// The entry of one image that failed: its pair, its exit status and the error line.
QJsonObject failed_entry(const QString &image, const QString &strokes, int exit_code,
                         const QString &error);

// The entry of one image left alone because its results were already there.
QJsonObject skipped_entry(const QString &image, const QString &strokes, const QStringList &outputs);

// Appends `entry` to the manifest at `path` as one line of compact JSON, with a single write to
// a file opened for appending (created if missing), so that the lines of several processes
// sharing the manifest never interleave. Returns an empty string on success, otherwise the
// reason as a line naming the file.
QString append_manifest_line(const QString &path, const QJsonObject &entry);

// Writes {"program", "version", "images": entries} to `path` through a temporary file.
// Returns an empty string on success, otherwise the reason as a line naming the file.
[[nodiscard]] QString write_stats_file(const QString &path, const QJsonArray &entries);

// The "images" array of a file written by write_stats_file, or an empty array if the file
// cannot be read or is not such a file.
QJsonArray read_stats_entries(const QString &path);
