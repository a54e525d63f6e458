// Putting result files on disk: a set of files appears whole or not at all, and a failed write
// says why and keeps the files that were there.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// One file of a set: its name inside the output folder and its complete contents.
struct OutputFile
{
    QString name;
    QByteArray bytes;
};

// Writes `files` into the existing folder `dir`, replacing files of the same names, all or none.
// Each file is written and flushed to disk in a hidden staging folder in `dir`; only when every
// one is complete does a journal mark the set as committed and the files move into place. If the
// process dies while they move, the next write into `dir` finishes the move from the journal;
// staging folders that never reached the journal are removed then. Returns an empty string on
// success, otherwise one line naming the file and the system's reason ("No space left on
// device"), and then the old files are untouched.
[[nodiscard]] QString write_output_set(const QString &dir, const QList<OutputFile> &files);

// Finishes or removes what interrupted writes left in `dir` (see write_output_set). Staging
// folders that a live process still holds are left alone.
void recover_output_staging(const QString &dir);

// Empty when write_output_set can create its staging folder in `dir`, otherwise the system's
// reason. Catches folders that only look writable (root on a read-only or virtual file system).
QString output_folder_problem(const QString &dir);

// True when `a` and `b` name the same file: the same inode when both exist, otherwise the same
// canonical folder and name. Links and "dir/../dir" spellings are seen through.
bool same_file(const QString &a, const QString &b);

// The steps of a write where a failure can be injected.
enum class WriteStep { create, write, sync, journal, rename };

// Test seam: called before each step with the file it concerns; a non-zero errno value returned
// makes that step fail as if the system had said so. Empty by default.
using WriteFaultHook = std::function<int(WriteStep step, const QString &path)>;
void set_write_fault_hook(WriteFaultHook hook);
