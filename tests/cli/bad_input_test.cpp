// Bad input: every case ends with exit status 2 (3 when the output cannot be written), one error
// line that names the file and the problem, and no file written or replaced.
#include "cli_run.h"
#include "exit_codes.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class BadInput : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        ASSERT_TRUE(write_test_pair(dir.path(), "photo", 30, 20, 3));
        image = dir.filePath("photo.png");
        strokes = dir.filePath("photo-strokes.png");
        out = dir.filePath("out");
    }

    // Runs the program and checks the common promise; returns the error line.
    QString refused(const QStringList &arguments, int status = exit_code::bad_input)
    {
        const CliRun run = run_cli(arguments);
        EXPECT_EQ(run.exit_code, status) << run.err.toStdString();
        EXPECT_FALSE(run.crashed);
        const QStringList lines = run.err_lines();
        EXPECT_EQ(lines.size(), 1) << run.err.toStdString();
        EXPECT_TRUE(folder_entries(out).isEmpty()) << folder_entries(out).join(' ').toStdString();
        return lines.isEmpty() ? QString() : lines.first();
    }

    QString write_picture(const QString &name, const QImage &picture)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(picture.save(path, "PNG"));
        return path;
    }

    QTemporaryDir dir;
    QString image;
    QString strokes;
    QString out;
};

} // namespace

TEST_F(BadInput, MissingOrUnreadablePictures)
{
    const QString missing = dir.filePath("missing.png");
    EXPECT_EQ(refused({missing, strokes, "-o", out}),
              QString("vellacut-cli: %1: no such file").arg(missing));
    EXPECT_EQ(refused({image, missing, "-o", out}),
              QString("vellacut-cli: %1: no such file").arg(missing));

    const QString text = dir.filePath("notes.png");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is no picture\n");
    file.close();
    EXPECT_TRUE(
        refused({text, strokes, "-o", out})
            .startsWith(QString("vellacut-cli: %1: cannot be read as a picture: ").arg(text)));
    EXPECT_TRUE(refused({image, out, "-o", out}).contains("is a directory"));
    EXPECT_EQ(refused({image, text + "/x.png", "-o", out}),
              QString("vellacut-cli: %1/x.png: cannot be opened: Not a directory").arg(text));
    // A PNG cut short: the image plugin's own warnings stay off standard error.
    const QString cut = dir.filePath("cut.png");
    QFile cut_file(cut);
    ASSERT_TRUE(cut_file.open(QIODevice::WriteOnly));
    const QByteArray whole = file_bytes(image);
    cut_file.write(whole.left(whole.size() / 2));
    cut_file.close();
    EXPECT_TRUE(refused({cut, strokes, "-o", out})
                    .startsWith(QString("vellacut-cli: %1: cannot be read as a picture").arg(cut)));
}

TEST_F(BadInput, StrokesOfAnotherSize)
{
    const QString small = write_picture("small.png", synthetic_strokes(29, 20));
    EXPECT_EQ(refused({image, small, "-o", out}),
              QString("vellacut-cli: %1: the strokes picture is 29 x 20 pixels, but %2 is 30 x 20")
                  .arg(small, image));
}

TEST_F(BadInput, TooFewSeedsOfAClass)
{
    QImage one_red(30, 20, QImage::Format_ARGB32);
    one_red.fill(Qt::transparent);
    one_red.setPixel(1, 1, qRgb(255, 0, 0));
    for (int x = 10; x < 20; ++x)
        one_red.setPixel(x, 10, qRgb(0, 255, 0));
    const QString path = write_picture("one-red.png", one_red);
    EXPECT_EQ(refused({image, path, "-o", out}),
              QString("vellacut-cli: %1: too few Background (red) seeds: 1 pixel(s) of the stroke "
                      "colour, at least 2 needed")
                  .arg(path));

    QImage no_green(30, 20, QImage::Format_RGB32);
    no_green.fill(Qt::white); // saturated, but not pure green: no seed
    for (int x = 0; x < 30; ++x)
        no_green.setPixel(x, 0, qRgb(255, 0, 0));
    const QString green_path = write_picture("no-green.png", no_green);
    EXPECT_EQ(refused({image, green_path, "-o", out}),
              QString("vellacut-cli: %1: too few Object (green) seeds: 0 pixel(s) of the stroke "
                      "colour, at least 2 needed")
                  .arg(green_path));
}

TEST_F(BadInput, OutputFolderThatCannotBeWritten)
{
    const QString missing = dir.filePath("no-such-folder");
    EXPECT_EQ(refused({image, strokes, "-o", missing}, exit_code::cannot_write),
              QString("vellacut-cli: %1: no such directory").arg(missing));
    EXPECT_EQ(refused({image, strokes, "-o", image}, exit_code::cannot_write),
              QString("vellacut-cli: %1: not a directory").arg(image));
    // /proc takes no new files, not even from root.
    const QString line = refused({image, strokes, "-o", "/proc"}, exit_code::cannot_write);
    EXPECT_TRUE(line.startsWith("vellacut-cli: /proc")) << line.toStdString();
    if (::geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        EXPECT_EQ(refused({image, strokes, "-o", out}, exit_code::cannot_write),
                  QString("vellacut-cli: %1: the directory cannot be written").arg(out));
        QFile::setPermissions(
            out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST_F(BadInput, AFolderInPlaceOfAResultStopsTheRunBeforeAnyFileIsReplaced)
{
    ASSERT_TRUE(QDir(out).mkdir("photo_object.png"));
    const CliRun run = run_cli({image, strokes, "-o", out});
    EXPECT_EQ(run.exit_code, exit_code::cannot_write);
    EXPECT_EQ(run.err_lines(),
              QStringList {QString("vellacut-cli: %1: is a directory, cannot be replaced by a "
                                   "file")
                               .arg(QDir(out).filePath("photo_object.png"))});
    EXPECT_EQ(folder_entries(out), QStringList {"photo_object.png"});
}

TEST_F(BadInput, AFailedRunLeavesEarlierResultsAlone)
{
    ASSERT_EQ(run_cli({image, strokes, "-o", out}).exit_code, 0);
    const QByteArray mask = file_bytes(QDir(out).filePath("photo_mask.png"));
    const QString small = write_picture("small.png", synthetic_strokes(30, 19));
    const CliRun run = run_cli({image, small, "-o", out});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(file_bytes(QDir(out).filePath("photo_mask.png")), mask);
    EXPECT_EQ(folder_entries(out).size(), 3);
}

TEST_F(BadInput, ParametersThatAreNotNumbers)
{
    EXPECT_EQ(refused({image, strokes, "-o", out, "-w", "abc"}),
              "vellacut-cli: option -w: \"abc\" is not a number (see vellacut-cli --help)");
    EXPECT_EQ(refused({image, strokes, "-o", out, "-k", "nan"}),
              "vellacut-cli: option -k: \"nan\" is not a number (see vellacut-cli --help)");
    EXPECT_TRUE(refused({image, strokes, "--frobnicate"}).contains("unknown option"));
    // A k of 0 or below gives weights that are negative or not numbers.
    for (const char *k : {"0", "-2", "-0.5"})
        EXPECT_EQ(refused({image, strokes, "-o", out, "-v", "0", "-k", k}),
                  QString("vellacut-cli: -w 1.0 -v 0 -k %1: k must be a finite number greater "
                          "than 0 (see vellacut-cli --help)")
                      .arg(k));
}

TEST_F(BadInput, AbsurdlyLargePicture)
{
    const QString huge = dir.filePath("huge.png");
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png_header_only(30000, 20000)); // 600 megapixels
    file.close();
    const QString line = refused({huge, strokes, "-o", out});
    EXPECT_TRUE(
        line.startsWith(QString("vellacut-cli: %1: cannot be read as a picture: ").arg(huge)))
        << line.toStdString();
    EXPECT_TRUE(line.contains("30000 x 20000")) << line.toStdString();
}

TEST_F(BadInput, StatisticsFileInAMissingFolder)
{
    const QString stats = dir.filePath("nowhere/stats.json");
    EXPECT_TRUE(refused({image, strokes, "-o", out, "--stats-json", stats}, exit_code::cannot_write)
                    .contains("does not exist"));
}
