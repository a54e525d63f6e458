// Result file sets: all or none under injected failures at every step, and recovery of what an
// interrupted write left behind.
#include <imaging/output_files.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QStringList names = {"p_mask.png", "p_object.png", "p_background.png"};

QList<OutputFile> set_of(const QByteArray &tag)
{
    QList<OutputFile> files;
    for (const QString &name : names)
        files.append({name, tag + name.toUtf8()});
    return files;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every entry of the folder, hidden ones included.
QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The folder holds exactly the set written with `tag`, and nothing else.
void expect_set(const QString &dir, const QByteArray &tag)
{
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(entries(dir), sorted);
    for (const QString &name : names)
        EXPECT_EQ(contents(QDir(dir).filePath(name)), tag + name.toUtf8()) << name.toStdString();
}

struct Fault
{
    WriteStep step;
    int file; // which file of the set; -1 for the journal
    int error;
};

class OutputFiles : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { set_write_fault_hook({}); }

    QString staging(const QString &name) const { return dir.filePath(".vellacut-staging-" + name); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(OutputFiles, AFailureAtAnyStepKeepsTheOldSetAndSaysWhy)
{
    const Fault faults[] = {
        {WriteStep::create, 0, EACCES}, {WriteStep::write, 1, ENOSPC},
        {WriteStep::sync, 2, EIO},      {WriteStep::journal, -1, ENOSPC},
        {WriteStep::rename, 0, EPERM},  {WriteStep::rename, 1, EPERM},
        {WriteStep::rename, 2, EBUSY},
    };
    ASSERT_EQ(write_output_set(dir.path(), set_of("old ")), QString());
    for (const Fault &fault : faults) {
        const QString target = fault.file < 0 ? QString("COMMIT") : names.at(fault.file);
        set_write_fault_hook([&](WriteStep step, const QString &path) {
            return step == fault.step && path.endsWith("/" + target) ? fault.error : 0;
        });
        const QString problem = write_output_set(dir.path(), set_of("new "));
        SCOPED_TRACE(problem.toStdString());
        EXPECT_TRUE(problem.contains(target));
        EXPECT_TRUE(problem.endsWith(QString::fromLocal8Bit(std::strerror(fault.error))));
        expect_set(dir.path(), "old ");
    }
    set_write_fault_hook({});
    ASSERT_EQ(write_output_set(dir.path(), set_of("new ")), QString());
    expect_set(dir.path(), "new ");
    // A set written where there was none, failing at its last rename, leaves nothing.
    QTemporaryDir empty;
    set_write_fault_hook([](WriteStep step, const QString &path) {
        return step == WriteStep::rename && path.endsWith("p_background.png") ? EPERM : 0;
    });
    EXPECT_FALSE(write_output_set(empty.path(), set_of("new ")).isEmpty());
    EXPECT_TRUE(entries(empty.path()).isEmpty());

    // A set of one file, put in place by its rename alone, keeps the old file when that fails.
    ASSERT_EQ(write_output_set(empty.path(), {{"one.json", "old"}}), QString());
    set_write_fault_hook([](WriteStep step, const QString &path) {
        return step == WriteStep::rename && path.endsWith("/one.json") ? EXDEV : 0;
    });
    EXPECT_TRUE(
        write_output_set(empty.path(), {{"one.json", "new"}}).endsWith(std::strerror(EXDEV)));
    set_write_fault_hook({});
    EXPECT_EQ(entries(empty.path()), QStringList {"one.json"});
    EXPECT_EQ(contents(QDir(empty.path()).filePath("one.json")), "old");
    ASSERT_EQ(write_output_set(empty.path(), {{"one.json", "new"}}), QString());
    EXPECT_EQ(contents(QDir(empty.path()).filePath("one.json")), "new");
}

TEST_F(OutputFiles, TheNextWriteFinishesACommittedSetAndDropsAnUncommittedOne)
{
    ASSERT_EQ(write_output_set(dir.path(), set_of("old ")), QString());
    const auto put = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    // A process killed after moving the first file of a committed set, one killed before its
    // journal, and a staging file of the older ".NAME.tmp-PID" form.
    ASSERT_TRUE(QDir().mkpath(staging("999999-0")) && QDir().mkpath(staging("999998-0")));
    for (int n = 0; n < 3; ++n)
        put(n == 0 ? dir.filePath(names.at(n)) : QDir(staging("999999-0")).filePath(names.at(n)),
            "new " + names.at(n).toUtf8());
    put(QDir(staging("999999-0")).filePath("COMMIT"), names.join(QChar(0)).toUtf8());
    put(QDir(staging("999998-0")).filePath(names.at(0)), "");
    put(dir.filePath(".p_mask.png.tmp-999997"), "");
    // And one that a live writer still holds: left alone.
    ASSERT_TRUE(QDir().mkpath(staging("1-0")));
    const int busy = ::open(QFile::encodeName(staging("1-0")).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);

    recover_output_staging(dir.path());
    EXPECT_EQ(
        entries(dir.path()),
        QStringList({".vellacut-staging-1-0", "p_background.png", "p_mask.png", "p_object.png"}));
    ::close(busy);
    recover_output_staging(dir.path());
    expect_set(dir.path(), "new ");
}

TEST_F(OutputFiles, AProbeLeftByAKilledProcessWithTheSameIdDoesNotMakeTheFolderUnwritable)
{
    ASSERT_TRUE(QDir().mkpath(staging(QString::number(::getpid()) + "-probe")));
    EXPECT_EQ(output_folder_problem(dir.path()), QString());
    EXPECT_EQ(entries(dir.path()), QStringList());
}
