// Batch runs: the list of IMAGE STROKES pairs, and the pool of worker processes that segments
// them, each image's console lines kept together and emitted in list order.
#pragma once

#include "options.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One line of a batch list that holds a pair (or fails to).
struct BatchEntry
{
    int line = 0; // 1-based line number in the list
    QString image;
    QString strokes;
    QString error; // non-empty when the line is not a pair; the entry then fails by itself
};

struct BatchList
{
    QList<BatchEntry> entries;
    QString error; // non-empty when the list itself cannot be read
};

// Splits list text into pairs. Fields are separated by blanks; a field in double quotes may hold
// blanks. Blank lines and lines whose first non-blank character is # are skipped; a line with
// another number of fields than two becomes an entry with an error. `list_name` names the list
// in those errors.
[[nodiscard]] BatchList parse_batch_list(const QByteArray &text, const QString &list_name);

// Reads the list file, or standard input for "-", and parses it.
[[nodiscard]] BatchList read_batch_list(const QString &path);

// Segments every pair of the list with options.jobs worker processes (this program, run on one
// pair each) and returns the exit status: 0 when every image was written, 1 otherwise, 2 when
// the list cannot be read. Requires a QCoreApplication.
[[nodiscard]] int run_batch(const Options &options);
