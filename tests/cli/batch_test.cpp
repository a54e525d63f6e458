// Batches: a broken pair among good ones, list order kept whatever the number of jobs, the list
// from standard input, clashing output names and the statistics of every image.
#include "cli_run.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Batch : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        out = dir.filePath("out");
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(write_test_pair(dir.path(), QString("good%1").arg(n), 32 + n, 24,
                                        static_cast<unsigned>(n)));
        ASSERT_TRUE(synthetic_photo(30, 20, 4).save(path("lonely.png"), "PNG"));
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Three good pairs and, second, one whose strokes picture is missing.
    QByteArray list_with_one_broken() const
    {
        return QString("# three good pairs and a broken one\n"
                       "%1 %2\n"
                       "%3 %4\n"
                       "\n"
                       "%5 %6\n"
                       "%7 %8\n")
            .arg(path("good1.png"), path("good1-strokes.png"), path("lonely.png"),
                 path("missing-strokes.png"), path("good2.png"), path("good2-strokes.png"),
                 path("good3.png"), path("good3-strokes.png"))
            .toLocal8Bit();
    }

    QString write_list(const QByteArray &text) const
    {
        QFile file(path("list.txt"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }

    QTemporaryDir dir;
    QString out;
};

} // namespace

TEST_F(Batch, OneBrokenPairDoesNotStopTheOthers)
{
    const QString list = write_list(list_with_one_broken());
    const QString stats = path("stats.json");
    const CliRun run = run_cli({"--batch", list, "-j", "2", "-o", out, "--stats-json", stats});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(run.crashed);

    EXPECT_EQ(folder_entries(out),
              QStringList({"good1_background.png", "good1_mask.png", "good1_object.png",
                           "good2_background.png", "good2_mask.png", "good2_object.png",
                           "good3_background.png", "good3_mask.png", "good3_object.png"}));
    for (int n = 1; n <= 3; ++n) {
        const QString name = QString("good%1").arg(n);
        const WindowResult window =
            window_compute(path(name + ".png"), path(name + "-strokes.png"));
        ASSERT_TRUE(window.done);
        EXPECT_EQ(read_rgb888(QDir(out).filePath(name + "_mask.png")), window.mask) << n;
        EXPECT_EQ(read_rgb888(QDir(out).filePath(name + "_object.png")), window.object) << n;
    }

    const QStringList lines = run.out_lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), "3 of 4 images segmented, 1 failed");
    // Blocks in list order, each image's lines together under its heading.
    const QStringList headings = lines.filter(QRegularExpression("^Image \\d of 4: "));
    ASSERT_EQ(headings.size(), 4);
    EXPECT_EQ(headings.at(0),
              QString("Image 1 of 4: %1 %2").arg(path("good1.png"), path("good1-strokes.png")));
    EXPECT_TRUE(headings.at(1).endsWith(path("missing-strokes.png")));
    const qsizetype first = lines.indexOf(headings.at(0));
    const QStringList window_lines =
        window_compute(path("good1.png"), path("good1-strokes.png")).console;
    EXPECT_EQ(lines.mid(first + 1, window_lines.size()), window_lines);
    EXPECT_EQ(lines.filter("Flow = ").size(), 3);

    EXPECT_EQ(
        run.err_lines(),
        QStringList {QString("vellacut-cli: %1: no such file").arg(path("missing-strokes.png"))});

    QFile file(stats);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray images = QJsonDocument::fromJson(file.readAll()).object()["images"].toArray();
    ASSERT_EQ(images.size(), 4);
    EXPECT_EQ(images[0]["status"].toString(), "done");
    EXPECT_EQ(images[1]["status"].toString(), "failed");
    EXPECT_EQ(images[1]["exit_code"].toInt(), 2);
    EXPECT_EQ(images[1]["error"].toString(),
              QString("%1: no such file").arg(path("missing-strokes.png")));
    EXPECT_EQ(images[3]["image"].toString(), path("good3.png"));
    EXPECT_EQ(images[3]["flow"].toDouble(),
              window_compute(path("good3.png"), path("good3-strokes.png")).flow);
    EXPECT_TRUE(images[3]["times_ms"].toObject().contains("save"));
}

TEST_F(Batch, OutputDoesNotDependOnTheNumberOfJobs)
{
    const QString list = write_list(list_with_one_broken());
    const CliRun one = run_cli({"--batch", list, "-o", out});
    const CliRun three = run_cli({"--batch", list, "-j", "3", "-o", out});
    EXPECT_EQ(one.exit_code, 1);
    EXPECT_EQ(three.exit_code, 1);
    EXPECT_EQ(one.out, three.out);
    EXPECT_EQ(one.err, three.err);
}

TEST_F(Batch, ListFromStandardInputAllGood)
{
    const QByteArray list = QString("%1 %2\n\"%3\" \"%4\"\n")
                                .arg(path("good1.png"), path("good1-strokes.png"),
                                     path("good3.png"), path("good3-strokes.png"))
                                .toLocal8Bit();
    const CliRun run = run_cli({"--batch", "-", "-o", out, "--no-bbox", "-v", "0.7"}, list);
    EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    EXPECT_EQ(run.out_lines().last(), "2 of 2 images segmented, 0 failed");
    // The workers got the parameters of the batch.
    const WindowResult window =
        window_compute(path("good3.png"), path("good3-strokes.png"), 1.0, 0.7, 1000.0, false);
    EXPECT_EQ(read_rgb888(QDir(out).filePath("good3_mask.png")), window.mask);
    EXPECT_TRUE(run.out_lines().contains(window.console.at(2))); // the seed count line
}

TEST_F(Batch, ImagesWithTheSameBaseNameDoNotOverwriteEachOther)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("other"));
    ASSERT_TRUE(write_test_pair(path("other"), "good1", 20, 20, 9));
    const QString list =
        write_list(QString("%1 %2\n%3 %4\nbroken-line-with-one-field\n")
                       .arg(path("good1.png"), path("good1-strokes.png"), path("other/good1.png"),
                            path("other/good1-strokes.png"))
                       .toLocal8Bit());
    const CliRun run = run_cli({"--batch", list, "-o", out});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out_lines().last(), "1 of 3 images segmented, 2 failed");
    const QStringList errors = run.err_lines();
    ASSERT_EQ(errors.size(), 2) << run.err.toStdString();
    EXPECT_TRUE(errors.at(0).contains("would replace those of line 1"))
        << errors.at(0).toStdString();
    EXPECT_EQ(
        errors.at(1),
        QString("vellacut-cli: %1: line 3: expected IMAGE STROKES, found 1 field(s)").arg(list));
    EXPECT_EQ(read_rgb888(QDir(out).filePath("good1_mask.png")).size(), QSize(33, 24));
}

TEST_F(Batch, UnreadableListAndEmptyList)
{
    const CliRun missing = run_cli({"--batch", path("no-list.txt"), "-o", out});
    EXPECT_EQ(missing.exit_code, 2);
    ASSERT_EQ(missing.err_lines().size(), 1);
    EXPECT_TRUE(missing.err_lines().first().startsWith(
        QString("vellacut-cli: %1: cannot read the list").arg(path("no-list.txt"))));
    EXPECT_TRUE(missing.out.isEmpty());

    const CliRun empty = run_cli({"--batch", "-", "-o", out}, "# nothing to do\n");
    EXPECT_EQ(empty.exit_code, 0);
    EXPECT_EQ(empty.out_lines(), QStringList {"0 of 0 images segmented, 0 failed"});
    EXPECT_TRUE(folder_entries(out).isEmpty());
}
