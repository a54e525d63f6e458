// One image end to end: the files, the console lines and the statistics of vellacut-cli compared
// with what the window's code gives for the same pictures.
#include "cli_run.h"
#include "pair_folder.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SingleImage : public PairFolder
{
protected:
    QString output(const char *suffix) const
    {
        return QDir(out).filePath(QString("photo") + suffix);
    }
};

} // namespace

TEST_F(SingleImage, WritesThePicturesTheWindowSaves)
{
    const CliRun run = run_cli({image, strokes, "-o", out});
    ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_EQ(folder_entries(out),
              QStringList({"photo_background.png", "photo_mask.png", "photo_object.png"}));

    const WindowResult window = window_compute(image, strokes);
    ASSERT_TRUE(window.done);
    EXPECT_EQ(read_rgb888(output("_mask.png")), window.mask);
    EXPECT_EQ(read_rgb888(output("_object.png")), window.object);
    EXPECT_EQ(read_rgb888(output("_background.png")), window.background);

    // The same lines in the same order as opening and one COMPUTE in the window.
    EXPECT_EQ(run.out_lines(), window.console);
    const QStringList lines = run.out_lines();
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines.first(), "WxH: 48, 36");
    EXPECT_TRUE(lines.at(1).startsWith("BB: "));
    EXPECT_TRUE(lines.at(11).startsWith("Flow = "));
    EXPECT_EQ(lines.last(), "WxH: 48, 36");

    // Not only the same as the window, also a sensible cut: the bright blob in the middle is
    // the object, the shaded margin background.
    const QImage mask = read_rgb888(output("_mask.png"));
    EXPECT_EQ(mask.pixel(24, 18), qRgb(255, 255, 255));
    EXPECT_EQ(mask.pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(mask.pixel(46, 34), qRgb(0, 0, 0));
    const QImage photo = read_rgb888(image);
    const QImage object = read_rgb888(output("_object.png"));
    EXPECT_EQ(
        object.pixel(24, 18),
        qRgb(qGray(photo.pixel(24, 18)), qGray(photo.pixel(24, 18)), qGray(photo.pixel(24, 18))));
}

TEST_F(SingleImage, TwoRunsGiveTheSameBytes)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("again"));
    const QString again = dir.filePath("again");
    ASSERT_EQ(run_cli({image, strokes, "-o", out}).exit_code, 0);
    // The default output folder is the current one.
    ASSERT_EQ(run_cli({image, strokes}, {}, again).exit_code, 0);
    for (const char *suffix : {"_mask.png", "_object.png", "_background.png"}) {
        const QByteArray first = file_bytes(output(suffix));
        ASSERT_FALSE(first.isEmpty()) << suffix;
        EXPECT_EQ(first, file_bytes(QDir(again).filePath(QString("photo") + suffix))) << suffix;
    }
}

TEST_F(SingleImage, ParametersAndBoxSwitchReachTheEngine)
{
    const CliRun run = run_cli({image, strokes, "-o", out, "-w", "0.5", "-v", "0.8", "-k", "50",
                                "--no-bbox", "--stats-json", dir.filePath("stats.json")});
    ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
    const WindowResult window = window_compute(image, strokes, 0.5, 0.8, 50.0, false);
    ASSERT_TRUE(window.done);
    EXPECT_EQ(run.out_lines(), window.console);
    EXPECT_EQ(read_rgb888(output("_mask.png")), window.mask);
    EXPECT_EQ(window.roi[1], 48); // the whole picture without the box
    const WindowResult defaults = window_compute(image, strokes);
    EXPECT_NE(window.flow, defaults.flow) << "the parameters changed nothing";
}

TEST_F(SingleImage, StatisticsFileHoldsTheFiguresOfTheRun)
{
    const QString stats = dir.filePath("stats.json");
    const CliRun run = run_cli({"--stats-json", stats, image, strokes, "-o", out});
    ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
    const WindowResult window = window_compute(image, strokes);

    QFile file(stats);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(root["program"].toString(), "vellacut-cli");
    const QJsonArray images = root["images"].toArray();
    ASSERT_EQ(images.size(), 1);
    const QJsonObject entry = images.first().toObject();
    EXPECT_EQ(entry["image"].toString(), image);
    EXPECT_EQ(entry["status"].toString(), "done");
    EXPECT_EQ(entry["width"].toInt(), 48);
    EXPECT_EQ(entry["height"].toInt(), 36);
    EXPECT_EQ(entry["flow"].toDouble(), window.flow);
    EXPECT_GT(window.flow, 0.0);
    EXPECT_EQ(entry["seeds"]["background"].toInteger(), window.background_seeds);
    EXPECT_EQ(entry["seeds"]["object"].toInteger(), window.object_seeds);
    EXPECT_EQ(entry["region"]["x_begin"].toInt(), window.roi[0]);
    EXPECT_EQ(entry["region"]["x_end"].toInt(), window.roi[1]);
    EXPECT_EQ(entry["region"]["y_begin"].toInt(), window.roi[2]);
    EXPECT_EQ(entry["region"]["y_end"].toInt(), window.roi[3]);
    EXPECT_EQ(entry["object_pixels"].toInteger(), window.object_pixels);
    EXPECT_EQ(entry["parameters"]["v"].toDouble(), 0.45);
    EXPECT_TRUE(entry["parameters"]["bbox"].toBool());

    // The object count agrees with the white pixels of the mask written.
    const QImage mask = read_rgb888(output("_mask.png"));
    long long white = 0;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            white += mask.pixel(x, y) == qRgb(255, 255, 255) ? 1 : 0;
    EXPECT_EQ(entry["object_pixels"].toInteger(), white);

    const QJsonObject times = entry["times_ms"].toObject();
    double engine_stages = 0.0;
    for (const char *stage : {"load", "seeds", "graph", "statistics", "gradient", "edges", "solve",
                              "compute", "images", "save"}) {
        ASSERT_TRUE(times.contains(stage)) << stage;
        EXPECT_GE(times[stage].toDouble(), 0.0) << stage;
    }
    for (const char *stage : {"graph", "statistics", "gradient", "edges", "solve"})
        engine_stages += times[stage].toDouble();
    // The engine's stages lie within the time of the whole compute().
    EXPECT_LE(engine_stages, times["compute"].toDouble());
}

TEST_F(SingleImage, FullyTransparentStrokeColoursAreNoStrokes)
{
    // Red kept under alpha 0 (an erased stroke) must not become a seed: with only such red the
    // Background class has no seeds at all.
    QImage erased(48, 36, QImage::Format_ARGB32);
    erased.fill(Qt::transparent);
    for (int x = 2; x < 46; ++x)
        erased.setPixel(x, 2, qRgba(255, 0, 0, 0));
    for (int x = 20; x < 28; ++x)
        erased.setPixel(x, 18, qRgba(0, 255, 0, 255));
    const QString erased_path = dir.filePath("erased.png");
    ASSERT_TRUE(erased.save(erased_path, "PNG"));
    QImage back(erased_path);
    ASSERT_EQ(back.convertToFormat(QImage::Format_ARGB32).pixel(5, 2), qRgba(255, 0, 0, 0))
        << "the PNG writer dropped the hidden colour; the test would prove nothing";

    const CliRun run = run_cli({image, erased_path, "-o", out});
    EXPECT_EQ(run.exit_code, 2);
    ASSERT_EQ(run.err_lines().size(), 1);
    EXPECT_EQ(run.err_lines().first(),
              QString("vellacut-cli: %1: too few Background (red) seeds: 0 pixel(s) of the stroke "
                      "colour, at least 2 needed")
                  .arg(erased_path));
    EXPECT_TRUE(folder_entries(out).isEmpty());
}

TEST_F(SingleImage, NeedsNoDisplayWhateverPlatformIsAskedFor)
{
    // A program that opened a window-system connection would fail here: there is no X server.
    const CliRun run = run_cli({image, strokes, "-o", out}, {}, {}, {"QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
    EXPECT_EQ(folder_entries(out).size(), 3);
}

TEST_F(SingleImage, ExistingResultsAreReplaced)
{
    for (const char *suffix : {"_mask.png", "_object.png", "_background.png"}) {
        QFile old(output(suffix));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    ASSERT_EQ(run_cli({image, strokes, "-o", out}).exit_code, 0);
    EXPECT_EQ(read_rgb888(output("_mask.png")), window_compute(image, strokes).mask);
    EXPECT_EQ(folder_entries(out).size(), 3);
}

TEST(CliInfo, HelpAndVersion)
{
    const CliRun help = run_cli({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(help.out.startsWith("usage: vellacut-cli IMAGE STROKES"));
    EXPECT_TRUE(help.out.contains("--stats-json FILE"));
    EXPECT_TRUE(help.err.isEmpty());

    const CliRun version = run_cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out_lines(), QStringList {"vellacut-cli " VELLACUT_VERSION});
}
