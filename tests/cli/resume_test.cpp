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

#include <map>
#include <memory>
#include <vector>

namespace {

class Resume : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        out = dir.filePath("out");
        manifest = dir.filePath("manifest.jsonl");
        QByteArray list;
        for (int n = 1; n <= 3; ++n) {
            const QString name = QString("photo%1").arg(n);
            ASSERT_TRUE(write_test_pair(dir.path(), name, 30 + n, 20, static_cast<unsigned>(n)));
            list += (path(name + ".png") + ' ' + path(name + "-strokes.png") + '\n').toLocal8Bit();
        }
        list += path("photo9.png").toLocal8Bit() + ' ' + path("photo1-strokes.png").toLocal8Bit();
        QFile file(path("list.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(list);
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // The manifest's lines, each parsed; a line that is not one whole JSON object fails.
    std::vector<QJsonObject> manifest_lines() const
    {
        std::vector<QJsonObject> lines;
        for (const QString &line : text_lines(file_bytes(manifest))) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            lines.push_back(document.object());
        }
        return lines;
    }

    // Every output file with its contents and modification time.
    QStringList snapshot() const
    {
        QStringList files;
        for (const QString &name : folder_entries(out)) {
            const QFileInfo info(QDir(out).filePath(name));
            files << name + ' ' + info.lastModified().toString(Qt::ISODateWithMs) + ' '
                    + QString::number(qHash(file_bytes(info.filePath())));
        }
        return files;
    }

    QTemporaryDir dir;
    QString out;
    QString manifest;
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
    std::map<QString, QJsonObject> by_image;
    for (const QJsonObject &line : lines)
        by_image[line["image"].toString()] = line;
    const QJsonObject done = by_image[path("photo2.png")];
    EXPECT_EQ(done["status"].toString(), "done");
    EXPECT_EQ(done["strokes"].toString(), path("photo2-strokes.png"));
    EXPECT_EQ(done["flow"].toDouble(),
              window_compute(path("photo2.png"), path("photo2-strokes.png")).flow);
    EXPECT_GT(done["seeds"]["object"].toInt(), 1);
    EXPECT_GT(done["object_pixels"].toInt(), 0);
    EXPECT_TRUE(done["times_ms"].toObject().contains("save"));
    EXPECT_EQ(done["outputs"].toArray().size(), 3);
    EXPECT_EQ(by_image[path("photo9.png")]["status"].toString(), "failed");
    EXPECT_EQ(by_image[path("photo9.png")]["exit_code"].toInt(), 2);

    const QStringList before = snapshot();
    ASSERT_EQ(before.size(), 9);
    const CliRun again = run_cli(batch);
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_EQ(again.out_lines().last(), "0 of 4 images segmented, 3 skipped, 1 failed");
    EXPECT_EQ(again.out_lines().filter("Skipped ").size(), 3);
    EXPECT_EQ(snapshot(), before);
    lines = manifest_lines();
    ASSERT_EQ(lines.size(), 8u);
    int skipped = 0;
    for (std::size_t n = 4; n < 8; ++n)
        skipped += lines[n]["status"].toString() == "skipped" ? 1 : 0;
    EXPECT_EQ(skipped, 3);
}

TEST_F(Resume, SingleImageSkipsOnlyWhenAllThreeResultsExist)
{
    const QStringList single = {path("photo1.png"), path("photo1-strokes.png"), "-o", out,
                                "--skip-existing"};
    EXPECT_EQ(run_cli(single).exit_code, 0);
    const QStringList before = snapshot();
    const CliRun skipped = run_cli(single);
    EXPECT_EQ(skipped.exit_code, 0);
    EXPECT_EQ(skipped.out_lines(),
              QStringList {QString("Skipped %1: its results photo1_mask.png, ... are already in %2")
                               .arg(path("photo1.png"), out)});
    EXPECT_EQ(snapshot(), before);

    // One result missing: the image is segmented again and the set is whole.
    ASSERT_TRUE(QFile::remove(QDir(out).filePath("photo1_object.png")));
    const CliRun redone = run_cli(single);
    EXPECT_EQ(redone.exit_code, 0);
    EXPECT_TRUE(redone.out_lines().filter("Skipped").isEmpty());
    EXPECT_EQ(folder_entries(out).size(), 3);

    // A missing picture is still bad input, whatever is in the folder.
    const CliRun missing = run_cli({path("photo9.png"), path("photo1-strokes.png"), "-o", out,
                                    "--skip-existing", "--manifest", manifest});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_EQ(missing.err_lines().size(), 1);
    ASSERT_EQ(manifest_lines().size(), 1u);
    EXPECT_EQ(manifest_lines()[0]["status"].toString(), "failed");
}

TEST_F(Resume, ProcessesSharingAManifestEachLeaveWholeLines)
{
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int round = 0; round < 4; ++round)
        for (int n = 1; n <= 3; ++n) {
            auto process = std::make_unique<QProcess>();
            const QString name = QString("photo%1").arg(n);
            process->start(VELLACUT_CLI_PATH,
                           {path(name + ".png"), path(name + "-strokes.png"), "-o", out,
                            "--manifest", manifest});
            runs.push_back(std::move(process));
        }
    for (const auto &process : runs) {
        ASSERT_TRUE(process->waitForFinished(60000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    }
    const std::vector<QJsonObject> lines = manifest_lines();
    ASSERT_EQ(lines.size(), 12u);
    for (const QJsonObject &line : lines)
        EXPECT_EQ(line["status"].toString(), "done");
}
