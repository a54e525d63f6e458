// Nothing lost: a full disk, outputs that are inputs, and kills at random moments leave the
// user's files whole, and each set of results is either complete or absent.
#include "cli_run.h"
#include "exit_codes.h"
#include "pair_folder.h"
#include "small_disk.h"
#include "test_pictures.h"

#include <imaging/output_files.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const QStringList result_names = {"photo_background.png", "photo_mask.png", "photo_object.png"};

QList<QByteArray> result_bytes(const QString &dir)
{
    QList<QByteArray> bytes;
    for (const QString &name : result_names)
        bytes << file_bytes(QDir(dir).filePath(name));
    return bytes;
}

using IoSafety = PairFolder;

} // namespace

TEST_F(IoSafety, AFullDiskKeepsTheOldResultsAndSaysWhy)
{
    const QString disk = dir.filePath("disk");
    const SmallDisk small(disk.toStdString(), 200);
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const QString stats = QDir(disk).filePath("stats.json");
    ASSERT_EQ(run_cli({image, strokes, "-o", disk, "--stats-json", stats}).exit_code, 0);
    const QList<QByteArray> old_results = result_bytes(disk);
    const QByteArray old_stats = file_bytes(stats);
    small.fill();

    const CliRun results = run_cli({image, strokes, "-o", disk, "-k", "5"});
    EXPECT_EQ(results.exit_code, exit_code::cannot_write);
    ASSERT_EQ(results.err_lines().size(), 1) << results.err.toStdString();
    EXPECT_TRUE(results.err_lines().first().endsWith(": No space left on device"))
        << results.err.toStdString();
    EXPECT_EQ(result_bytes(disk), old_results);

    const CliRun statistics = run_cli({image, strokes, "-o", out, "--stats-json", stats});
    EXPECT_EQ(statistics.exit_code, exit_code::cannot_write);
    EXPECT_TRUE(statistics.err.contains("stats.json: cannot be written: No space left on device"))
        << statistics.err.toStdString();
    EXPECT_EQ(file_bytes(stats), old_stats);
    EXPECT_EQ(folder_entries(disk),
              QStringList({"filler", "photo_background.png", "photo_mask.png", "photo_object.png",
                           "stats.json"}));
}

TEST_F(IoSafety, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten)
{
    // The strokes where the mask goes, the photo hard-linked where an object picture goes, a
    // symbolic link to the photo, and a list where the object picture goes.
    const QString strokes_as_mask = QDir(out).filePath("photo_mask.png");
    const QString linked_image = dir.filePath("linked.png");
    const QString list = QDir(out).filePath("photo_object.png");
    ASSERT_TRUE(QFile::copy(strokes, strokes_as_mask) && QFile::link(image, linked_image)
                && QDir(dir.path()).mkdir("linked"));
    ASSERT_EQ(::link(QFile::encodeName(image).constData(),
                     QFile::encodeName(dir.filePath("linked/photo_object.png")).constData()),
              0);
    QFile list_file(list);
    ASSERT_TRUE(list_file.open(QIODevice::WriteOnly));
    list_file.write(QString("%1 %2\n").arg(image, strokes).toUtf8());
    list_file.close();
    const QByteArray list_bytes = file_bytes(list);

    const QStringList cases[] = {
        {image, strokes_as_mask, "-o", out},
        {image, strokes, "-o", dir.filePath("linked")},
        {image, strokes, "-o", dir.filePath("out/../out"), "--stats-json", linked_image},
        {image, strokes, "-o", dir.path(), "--stats-json", dir.filePath("photo_mask.png")},
        {"--batch", list, "-o", dir.path(), "--stats-json", list},
        {"--batch", list, "-o", out}, // only the pair fails, so the batch ends with 1
    };
    const QStringList before = folder_entries(out);
    for (const QStringList &arguments : cases) {
        const CliRun run = run_cli(arguments);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const bool only_the_pair = arguments.size() == 4 && arguments.first() == "--batch";
        EXPECT_EQ(run.exit_code, only_the_pair ? exit_code::failed : exit_code::bad_input);
        EXPECT_TRUE(run.err.contains("is the same file as")) << run.err.toStdString();
        EXPECT_EQ(folder_entries(out), before);
    }
    EXPECT_TRUE(read_rgb888(image) == read_rgb888(linked_image));
    EXPECT_EQ(file_bytes(list), list_bytes);
    EXPECT_FALSE(QFile::exists(dir.filePath("photo_mask.png")));
}

TEST_F(IoSafety, KillsAtRandomMomentsLeaveEachSetCompleteOrAbsent)
{
    // The two sets a run may leave: the one with the default k, and the one with k = 5.
    ASSERT_EQ(run_cli({image, strokes, "-o", out, "-k", "5"}).exit_code, 0);
    const QList<QByteArray> other = result_bytes(out);
    ASSERT_EQ(run_cli({image, strokes, "-o", out}).exit_code, 0);
    const QList<QByteArray> first = result_bytes(out);
    ASSERT_NE(first, other);
    for (const QString &name : result_names)
        QFile::remove(QDir(out).filePath(name));

    std::mt19937 random(14);
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    for (int trial = 0; trial < 24; ++trial) {
        QProcess process;
        process.setProgram(VELLACUT_CLI_PATH);
        process.setArguments({image, strokes, "-o", out, "-k", trial % 2 ? "5" : "1000.0"});
        process.start();
        ASSERT_TRUE(process.waitForStarted());
        ::usleep(std::uniform_int_distribution<unsigned>(0, 120'000)(random));
        ::kill(static_cast<pid_t>(process.processId()), signals[trial % 3]);
        process.waitForFinished();
        // What the next write into the folder does first.
        recover_output_staging(out);
        const QStringList left = folder_entries(out);
        SCOPED_TRACE(left.join(' ').toStdString());
        if (left.isEmpty())
            continue;
        ASSERT_EQ(left, result_names);
        const QList<QByteArray> bytes = result_bytes(out);
        EXPECT_TRUE(bytes == first || bytes == other);
    }
}

TEST_F(IoSafety, AWorkerOutOfMemorySaysSo)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address space limit and the address sanitizer's shadow memory conflict";
#else
    // 4 megapixels need far more than 400 MB of address space for the graph.
    ASSERT_TRUE(write_test_pair(dir.path(), "big", 2000, 2000, 3));
    QProcess process;
    process.setProgram(VELLACUT_CLI_PATH);
    process.setArguments({"--batch", "-", "-o", out});
    process.setChildProcessModifier([] {
        const rlimit limit {400'000'000, 400'000'000};
        ::setrlimit(RLIMIT_AS, &limit);
    });
    process.start();
    process.write(
        QString("%1 %2\n").arg(dir.filePath("big.png"), dir.filePath("big-strokes.png")).toUtf8());
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60'000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), exit_code::failed);
    EXPECT_TRUE(err.contains("big.png: the engine gave up: Not enough memory"))
        << err.toStdString();
    EXPECT_FALSE(err.contains("no message")) << err.toStdString();
    EXPECT_TRUE(folder_entries(out).isEmpty());
#endif
}
