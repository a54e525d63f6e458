// Resuming runs: --skip-existing leaves finished images alone without reading them, and
// --manifest leaves one whole JSON line per image, even with several processes appending.
#include "cli_run.h"
#include "test_pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

class Resume : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && QDir(dir.path()).mkdir("out"));
        QFile list(path("list.txt"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        for (int n = 1; n <= 3; ++n) {
            ASSERT_TRUE(write_test_pair(dir.path(), name(n), 30 + n, 20, static_cast<unsigned>(n)));
            list.write((image(n) + ' ' + strokes(n) + '\n').toLocal8Bit());
        }
        list.write((image(9) + ' ' + strokes(1) + '\n').toLocal8Bit()); // no such photo
    }

    QString path(const QString &file) const { return dir.filePath(file); }
    static QString name(int n) { return QString("photo%1").arg(n); }
    QString image(int n) const { return path(name(n) + ".png"); }
    QString strokes(int n) const { return path(name(n) + "-strokes.png"); }

    // The manifest's lines, each parsed; a line that is not one whole JSON object fails.
    std::vector<QJsonObject> manifest_lines() const
    {
        std::vector<QJsonObject> lines;
        for (const QString &line : text_lines(file_bytes(manifest))) {
            QJsonParseError error;
            lines.push_back(QJsonDocument::fromJson(line.toUtf8(), &error).object());
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
        return lines;
    }

    // Every output file with its modification time and contents.
    QStringList snapshot() const
    {
        QStringList files;
        for (const QString &file : folder_entries(out)) {
            const QFileInfo info(QDir(out).filePath(file));
            files << file + info.lastModified().toString(Qt::ISODateWithMs)
                    + QString::number(qHash(file_bytes(info.filePath())));
        }
        return files;
    }

    QTemporaryDir dir;
    QString out = dir.filePath("out");
    QString manifest = dir.filePath("manifest.jsonl");
};

} // namespace

TEST_F(Resume, RerunOfABatchSkipsFinishedImagesAndRecordsEachOne)
{
    const QStringList batch = {"--batch", path("list.txt"), "-j", "2", "-o", out, "--manifest",
                               manifest,  "--skip-existing"};
    const CliRun first = run_cli(batch);
    EXPECT_EQ(first.exit_code, 1); // photo9.png does not exist
    EXPECT_EQ(first.out_lines().last(), "3 of 4 images segmented, 1 failed");
    std::vector<QJsonObject> lines = manifest_lines();
    ASSERT_EQ(lines.size(), 4u);
    for (const QJsonObject &line : lines) {
        if (line["image"].toString() == image(9)) {
            EXPECT_EQ(line["status"].toString(), "failed");
            EXPECT_EQ(line["exit_code"].toInt(), 2);
        } else if (line["image"].toString() == image(2)) {
            EXPECT_EQ(line["status"].toString(), "done");
            EXPECT_EQ(line["strokes"].toString(), strokes(2));
            EXPECT_EQ(line["flow"].toDouble(), window_compute(image(2), strokes(2)).flow);
            EXPECT_GT(line["object_pixels"].toInt(), 0);
            EXPECT_TRUE(line["times_ms"].toObject().contains("save"));
            EXPECT_EQ(line["outputs"].toArray().size(), 3);
        }
    }

    const QStringList before = snapshot();
    ASSERT_EQ(before.size(), 9);
    const CliRun again = run_cli(batch);
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_EQ(again.out_lines().last(), "0 of 4 images segmented, 3 skipped, 1 failed");
    EXPECT_EQ(snapshot(), before);
    lines = manifest_lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(std::count_if(lines.begin() + 4, lines.end(),
                            [](const QJsonObject &line) { return line["status"] == "skipped"; }),
              3);
}

TEST_F(Resume, SingleImageSkipsOnlyWhenAllThreeResultsExist)
{
    const QStringList single = {image(1), strokes(1), "-o", out, "--skip-existing"};
    EXPECT_EQ(run_cli(single).exit_code, 0);
    const QStringList before = snapshot();
    const CliRun skipped = run_cli(single);
    EXPECT_EQ(skipped.exit_code, 0);
    EXPECT_EQ(skipped.out_lines(),
              QStringList {QString("Skipped %1: its results photo1_mask.png, ... are already in %2")
                               .arg(image(1), out)});
    EXPECT_EQ(snapshot(), before);

    // One result missing: the image is segmented again and the set is whole.
    ASSERT_TRUE(QFile::remove(QDir(out).filePath("photo1_object.png")));
    EXPECT_EQ(run_cli(single).out_lines().filter("Skipped").size(), 0);
    EXPECT_EQ(folder_entries(out).size(), 3);

    // A missing picture is still bad input, whatever is in the folder.
    const CliRun missing = run_cli({image(9), strokes(1), "-o", out, "--manifest", manifest});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_EQ(missing.err_lines().size(), 1);
    ASSERT_EQ(manifest_lines().size(), 1u);
    EXPECT_EQ(manifest_lines()[0]["status"].toString(), "failed");
}

TEST_F(Resume, ProcessesSharingAManifestEachLeaveWholeLines)
{
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int n = 0; n < 12; ++n) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(
            VELLACUT_CLI_PATH,
            {image(n % 3 + 1), strokes(n % 3 + 1), "-o", out, "--manifest", manifest});
    }
    for (const auto &process : runs) {
        ASSERT_TRUE(process->waitForFinished(60000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    }
    const std::vector<QJsonObject> lines = manifest_lines();
    EXPECT_EQ(lines.size(), 12u);
    for (const QJsonObject &line : lines)
        EXPECT_EQ(line["status"].toString(), "done");
}
