// Staged, journalled writes of result file sets. Plain POSIX calls, so that every write, flush,
// link and rename is checked and its errno becomes the reason a user reads.
//
// Layout while a set is written into D: D/.vellacut-staging-PID-N/ holds the new files, hard
// links to the old ones (NAME.old, kept for rolling back a failed rename), and, once every new
// file is on disk, the journal COMMIT listing the names. The staging folder is locked (flock)
// by its writer for as long as it lives, so another process can tell a stale one from a busy
// one; D itself is locked while staging folders are created, recovered or committed, so that
// two writers never interleave their renames. A set of one file has neither links nor journal:
// its one rename replaces the old file whole.
#include "imaging/output_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QLatin1StringView staging_prefix(".vellacut-staging-");
constexpr QLatin1StringView journal_name("COMMIT");
constexpr QLatin1StringView backup_suffix(".old");

WriteFaultHook &fault_hook()
{
    static WriteFaultHook hook;
    return hook;
}

int injected(WriteStep step, const QString &path)
{
    return fault_hook() ? fault_hook()(step, path) : 0;
}

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A file descriptor, closed (and so unlocked) when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int descriptor = -1)
        : fd(descriptor)
    {
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { close(); }
    int get() const { return fd; }
    void reset(int descriptor)
    {
        close();
        fd = descriptor;
    }
    // Closes the descriptor now; 0 or errno.
    int close()
    {
        if (fd < 0)
            return 0;
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd;
};

int open_folder(const QString &path)
{
    return ::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Flushes a folder's entries (new names, renames) to disk; 0 or errno. File systems that cannot
// sync a folder say EINVAL, which is no failure of ours.
int sync_folder(const QString &path)
{
    const Descriptor folder(open_folder(path));
    if (folder.get() < 0)
        return errno;
    if (::fsync(folder.get()) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

// A staged file on its way to disk: written, its writeback started, not yet waited for.
struct Staged
{
    Descriptor fd;
    QString path;
};

// Writes `bytes` to a new file at `path` and starts its writeback without waiting for it, so that
// the disk works on every file of a set at once; 0 or errno. `staged` keeps the open file for
// finish_staged. Where the system cannot start writeback early, finish_staged's flush does it all.
int start_staged(const QString &path, const QByteArray &bytes, Staged &staged)
{
    staged.path = path;
    if (const int error = injected(WriteStep::create, path))
        return error;
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    staged.fd.reset(fd);
    if (const int error = injected(WriteStep::write, path))
        return error;
    const char *data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
#if defined(SYNC_FILE_RANGE_WRITE)
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return 0;
}

// Waits until the staged file is on disk and closes it; 0 or errno.
int finish_staged(Staged &staged)
{
    int error = injected(WriteStep::sync, staged.path);
    if (error == 0 && ::fsync(staged.fd.get()) != 0)
        error = errno;
    if (const int closed = staged.fd.close(); closed != 0 && error == 0)
        error = closed;
    return error;
}

// Writes `bytes` to a new file and flushes it to disk before closing; 0 or errno.
int write_synced(const QString &path, const QByteArray &bytes)
{
    Staged staged;
    const int error = start_staged(path, bytes, staged);
    return error != 0 ? error : finish_staged(staged);
}

bool exists(const QString &path)
{
    struct stat info
    {
    };
    return ::lstat(native(path).constData(), &info) == 0;
}

void remove_folder_contents(const QString &folder)
{
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        ::unlink(native(QDir(folder).filePath(name)).constData());
    ::rmdir(native(folder).constData());
}

QStringList journal_names(const QString &staging)
{
    QFile journal(QDir(staging).filePath(journal_name));
    if (!journal.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    for (const QByteArray &name : journal.readAll().split('\0'))
        if (!name.isEmpty() && !name.contains('/'))
            names << QFile::decodeName(name);
    return names;
}

// Moves the staged files of a committed set into place; names already moved are skipped.
void roll_forward(const QString &dir, const QString &staging)
{
    for (const QString &name : journal_names(staging)) {
        const QString staged = QDir(staging).filePath(name);
        if (exists(staged))
            ::rename(native(staged).constData(), native(QDir(dir).filePath(name)).constData());
    }
    sync_folder(dir);
}

// Staging files of the form ".NAME.tmp-PID" from earlier versions of the writer, whose process
// is gone.
void remove_old_staging_files(const QString &dir)
{
    static const QRegularExpression old_form(QStringLiteral("^\\..+\\.tmp-(\\d+)$"));
    const QStringList names = QDir(dir).entryList({QStringLiteral(".*.tmp-*")},
                                                  QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = old_form.match(name);
        if (!match.hasMatch())
            continue;
        const auto pid = static_cast<pid_t>(match.captured(1).toLongLong());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlink(native(QDir(dir).filePath(name)).constData());
    }
}

// recover_output_staging, with `dir` already locked by the caller.
void recover_locked(const QString &dir)
{
    const QStringList names = QDir(dir).entryList({staging_prefix + QLatin1Char('*')},
                                                  QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QString staging = QDir(dir).filePath(name);
        const Descriptor folder(open_folder(staging));
        if (folder.get() < 0 || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // another process is still writing there
        if (exists(QDir(staging).filePath(journal_name)))
            roll_forward(dir, staging);
        remove_folder_contents(staging);
    }
    remove_old_staging_files(dir);
}

// A staging folder created and locked for this process.
struct Staging
{
    QString path;
    int fd = -1;
};

// Rolls back the first `moved` renames of a failed commit: the old file returns from its backup
// link, or the new file goes when there was none.
void roll_back(const QString &dir, const QString &staging, const QList<OutputFile> &files,
               qsizetype moved, const QList<bool> &had_old)
{
    for (qsizetype n = 0; n < moved; ++n) {
        const QString target = QDir(dir).filePath(files.at(n).name);
        if (had_old.at(n))
            ::rename(native(QDir(staging).filePath(files.at(n).name + backup_suffix)).constData(),
                     native(target).constData());
        else
            ::unlink(native(target).constData());
    }
    sync_folder(dir);
}

// Links the old files, writes the journal and renames the staged files into place; on failure
// undoes what it did and returns the message.
QString commit(const QString &dir, const QString &staging, const QList<OutputFile> &files)
{
    QList<bool> had_old;
    for (const OutputFile &file : files) {
        const QString target = QDir(dir).filePath(file.name);
        const bool old = exists(target);
        had_old << old;
        const QString backup = QDir(staging).filePath(file.name + backup_suffix);
        if (old && ::link(native(target).constData(), native(backup).constData()) != 0)
            return QStringLiteral("%1: cannot be replaced: %2").arg(target, reason(errno));
    }

    QByteArray listing;
    for (const OutputFile &file : files)
        listing += QFile::encodeName(file.name) + '\0';
    const QString journal = QDir(staging).filePath(journal_name);
    const QString journal_part = journal + QLatin1String(".part");
    int error = injected(WriteStep::journal, journal);
    if (error == 0)
        error = write_synced(journal_part, listing);
    if (error == 0 && ::rename(native(journal_part).constData(), native(journal).constData()) != 0)
        error = errno;
    if (error == 0)
        error = sync_folder(staging);
    if (error != 0)
        return QStringLiteral("%1: cannot be written: %2").arg(journal, reason(error));

    for (qsizetype n = 0; n < files.size(); ++n) {
        const QString target = QDir(dir).filePath(files.at(n).name);
        const QString staged = QDir(staging).filePath(files.at(n).name);
        error = injected(WriteStep::rename, target);
        if (error == 0 && ::rename(native(staged).constData(), native(target).constData()) != 0)
            error = errno;
        if (error != 0) {
            // The journal goes first: a crash during the roll back must not roll forward.
            ::unlink(native(journal).constData());
            roll_back(dir, staging, files, n, had_old);
            return QStringLiteral("%1: cannot be put in place: %2").arg(target, reason(error));
        }
    }
    sync_folder(dir);
    return {};
}

// A set of one file needs no journal: its one rename replaces the old file or does not, so the
// folder never shows a mix. Returns the message on failure.
QString put_in_place(const QString &dir, const QString &staging, const QString &name)
{
    const QString target = QDir(dir).filePath(name);
    int error = injected(WriteStep::rename, target);
    if (error == 0
        && ::rename(native(QDir(staging).filePath(name)).constData(), native(target).constData())
            != 0)
        error = errno;
    if (error != 0)
        return QStringLiteral("%1: cannot be put in place: %2").arg(target, reason(error));
    sync_folder(dir);
    return {};
}

} // namespace

QString write_output_set(const QString &dir, const QList<OutputFile> &files)
{
    for (const OutputFile &file : files) {
        const QString target = QDir(dir).filePath(file.name);
        if (QFileInfo(target).isDir())
            return QStringLiteral("%1: is a directory, cannot be replaced by a file").arg(target);
    }
    const Descriptor dir_lock(open_folder(dir));
    if (dir_lock.get() < 0)
        return QStringLiteral("%1: cannot be written: %2").arg(dir, reason(errno));

    static std::atomic<int> serial {0};
    const QString staging = QDir(dir).filePath(
        QStringLiteral("%1%2-%3").arg(staging_prefix).arg(::getpid()).arg(serial++));
    ::flock(dir_lock.get(), LOCK_EX);
    recover_locked(dir);
    if (::mkdir(native(staging).constData(), 0700) != 0) {
        const int error = errno;
        ::flock(dir_lock.get(), LOCK_UN);
        return QStringLiteral("%1: cannot be written: %2").arg(dir, reason(error));
    }
    const Descriptor staging_lock(open_folder(staging));
    if (staging_lock.get() >= 0)
        ::flock(staging_lock.get(), LOCK_EX);
    ::flock(dir_lock.get(), LOCK_UN);

    QString problem;
    const auto cannot_write = [&](qsizetype n, int error) {
        problem = QStringLiteral("%1: cannot be written: %2")
                      .arg(QDir(dir).filePath(files.at(n).name), reason(error));
    };
    // Every file is written and its writeback started before the first is waited for.
    std::vector<Staged> staged(static_cast<std::size_t>(files.size()));
    for (qsizetype n = 0; n < files.size() && problem.isEmpty(); ++n)
        if (const int error = start_staged(QDir(staging).filePath(files.at(n).name),
                                           files.at(n).bytes, staged[static_cast<std::size_t>(n)]))
            cannot_write(n, error);
    for (qsizetype n = 0; n < files.size() && problem.isEmpty(); ++n)
        if (const int error = finish_staged(staged[static_cast<std::size_t>(n)]))
            cannot_write(n, error);
    staged.clear();
    if (problem.isEmpty()) {
        ::flock(dir_lock.get(), LOCK_EX);
        problem = files.size() == 1 ? put_in_place(dir, staging, files.front().name)
                                    : commit(dir, staging, files);
    }
    remove_folder_contents(staging);
    return problem;
}

void recover_output_staging(const QString &dir)
{
    const Descriptor dir_lock(open_folder(dir));
    if (dir_lock.get() < 0)
        return;
    ::flock(dir_lock.get(), LOCK_EX);
    recover_locked(dir);
}

QString output_folder_problem(const QString &dir)
{
    const QString probe =
        QDir(dir).filePath(QStringLiteral("%1%2-probe").arg(staging_prefix).arg(::getpid()));
    const QByteArray path = native(probe);
    // The name is taken when a process with this id was killed between the two calls (ids come
    // round again, in a container from 1) or another thread of this one probes the same folder:
    // the probe is always empty, so it is removed and made again.
    if (::mkdir(path.constData(), 0700) != 0
        && (errno != EEXIST || ::rmdir(path.constData()) != 0
            || ::mkdir(path.constData(), 0700) != 0))
        return reason(errno);
    ::rmdir(path.constData());
    return {};
}

bool same_file(const QString &a, const QString &b)
{
    struct stat info_a
    {
    };
    struct stat info_b
    {
    };
    if (::stat(native(a).constData(), &info_a) == 0 && ::stat(native(b).constData(), &info_b) == 0)
        return info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
    const QFileInfo file_a(a);
    const QFileInfo file_b(b);
    const QString folder_a = file_a.absoluteDir().canonicalPath();
    return !folder_a.isEmpty() && folder_a == file_b.absoluteDir().canonicalPath()
        && file_a.fileName() == file_b.fileName();
}

void set_write_fault_hook(WriteFaultHook hook)
{
    fault_hook() = std::move(hook);
}
