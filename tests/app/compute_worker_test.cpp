// COMPUTE on the worker thread: progress, cancel, latest wins, closing mid-compute, the overwrite
// question, strokes files, live mode, and the window's files against the command-line tool's.
// Waits on the worker are generous and no duration is asserted.
#include "window_support.h"

#include "compute_job.h"

#include "test_pictures.h" // the command-line tests' synthetic photos and strokes

#include <imaging/label_layer.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The strokes of a strokes picture, as Open Strokes takes them.
void take_strokes(Window &window, const QImage &strokes)
{
    window.replace_labels(QStringLiteral("Open Strokes"), LabelLayer::from_strokes_image(strokes));
}

// Noisy, overlapping grey levels: a solve of a few hundred milliseconds even in an optimised
// build, so that a stop asked for at the start of the solve lands inside it.
constexpr int hard_width = 800;
constexpr int hard_height = 600;

class ComputeWorker : public ::testing::Test
{
protected:
    ComputeWorker()
    {
        EXPECT_TRUE(dir.isValid());
        photo_path =
            write_picture(synthetic_photo(hard_width, hard_height, 3), dir.filePath("hard.png"));
        window.open_answers << photo_path;
        printed_by([this] { window.open_action->trigger(); });
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Strokes over the whole picture (a hard solve), or two small patches near its middle (a
    // region of a few pixels, computed at once).
    void paint_hard() { take_strokes(window, synthetic_strokes(hard_width, hard_height)); }
    void paint_easy()
    {
        QImage strokes(hard_width, hard_height, QImage::Format_ARGB32);
        strokes.fill(Qt::transparent);
        for (int y = 300; y < 304; ++y) {
            strokes.setPixel(400, y, qRgb(0, 255, 0));
            strokes.setPixel(394, y, qRgb(255, 0, 0));
        }
        take_strokes(window, strokes);
    }

    // Runs a COMPUTE to its end; returns its console lines.
    std::string compute_to_end()
    {
        return printed_by([this] {
            window.call("compute_event");
            EXPECT_TRUE(window.wait_for_compute());
        });
    }

    // Starts a COMPUTE and returns once its solve runs.
    void start_and_reach_solve()
    {
        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return window.compute_job->progress_text().contains("solve"); }, 60000));
    }

    QTemporaryDir dir;
    QString photo_path;
    TestWindow window;
};

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(ComputeWorker, ProgressThenCancelKeepsEarlierResultsStrokesAndSave)
{
    paint_easy();
    const std::string first = compute_to_end();
    ASSERT_TRUE(window.save_action->isEnabled()) << first;
    const QImage earlier = window.result_pixmaps[0].toImage();
    paint_hard();
    const long long strokes = window.labels.count(Label::object);

    const std::string out = printed_by([this] {
        start_and_reach_solve();
        // While it runs: the button offers Cancel, the pictures show a busy cursor, the status
        // bar names the stage.
        EXPECT_EQ(window.compute_button->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(window.tabs->cursor().shape(), Qt::BusyCursor);
        EXPECT_TRUE(QTest::qWaitFor(
            [this] {
                return window.statusBar()->currentMessage().startsWith("Computing: solve, ");
            },
            60000));
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_TRUE(window.wait_for_compute());
    });
    EXPECT_NE(out.find("Building Edge Capacities...\nCompute cancelled\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("Flow = "), std::string::npos) << out;
    EXPECT_EQ(window.compute_button->text(), QStringLiteral("COMPUTE"));
    EXPECT_EQ(window.statusBar()->currentMessage(), QStringLiteral("Compute cancelled"));
    EXPECT_EQ(window.segmenter.graph, nullptr);
    EXPECT_EQ(window.result_pixmaps[0].toImage(), earlier);
    EXPECT_EQ(window.labels.count(Label::object), strokes);
    EXPECT_TRUE(window.save_action->isEnabled());
}

TEST_F(ComputeWorker, LatestWinsWithTheStrokesAsTheyAreThen)
{
    paint_hard();
    const std::string out = printed_by([this] {
        start_and_reach_solve();
        paint_easy();
        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        EXPECT_TRUE(window.wait_for_compute());
    });
    // The hard run stopped; the easy one ran from its own seeds to the end.
    const auto cancelled = out.find("Compute cancelled\n");
    ASSERT_NE(cancelled, std::string::npos) << out;
    EXPECT_EQ(out.find("Compute cancelled", cancelled + 1), std::string::npos) << out;
    EXPECT_NE(out.find("histogram_bg.size(): 4\n", cancelled), std::string::npos) << out;
    EXPECT_NE(out.find("Flow = ", cancelled), std::string::npos) << out;
    EXPECT_EQ(window.tabs->currentIndex(), 1);
    EXPECT_EQ(window.result_pixmaps[0].size(), QSize(hard_width, hard_height));
}

TEST_F(ComputeWorker, ClosingOrDestroyingMidComputeStopsTheWorker)
{
    paint_hard();
    const std::string out = printed_by([this] {
        start_and_reach_solve();
        window.close();
    });
    EXPECT_NE(out.find("Compute cancelled"), std::string::npos) << out;
    EXPECT_FALSE(window.compute_job->computing());
    EXPECT_EQ(window.segmenter.graph, nullptr);
    // A window destroyed mid-compute must not leave the worker on a destroyed engine.
    auto other = std::make_unique<TestWindow>();
    other->call("open_file", photo_path);
    take_strokes(*other, synthetic_strokes(hard_width, hard_height));
    printed_by([&] {
        other->call("compute_event");
        other.reset();
    });
}

TEST_F(ComputeWorker, OverwriteAsksFirstAndNoKeepsTheFiles)
{
    paint_easy();
    compute_to_end();
    window.save_answer = dir.path();
    const QString mask = dir.filePath("hard_mask.png");
    QFile old(mask);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("older results");
    old.close();
    window.overwrite_answer = false;
    EXPECT_EQ(printed_by([this] { window.save_action->trigger(); }), "");
    ASSERT_EQ(window.overwrite_asks, QStringList {QDir::toNativeSeparators(mask)});
    EXPECT_EQ(file_bytes(mask), QByteArray("older results"));
    EXPECT_FALSE(QFile::exists(dir.filePath("hard_object.png")));
    window.overwrite_answer = true;
    printed_by([this] { window.save_action->trigger(); });
    EXPECT_EQ(QImage(mask).size(), QSize(hard_width, hard_height));
    // The next save dialog starts here.
    EXPECT_EQ(QSettings("Vellacut", "Vellacut").value("save_directory").toString(), dir.path());
}

TEST_F(ComputeWorker, StrokesRoundTripAndOtherSizesAreRefused)
{
    window.source_image->draw_mode = 2;
    drag(*window.source_image, {{300, 200}, {320, 230}});
    window.source_image->draw_mode = 1;
    drag(*window.source_image, {{100, 100}, {110, 150}});
    const QImage painted = window.source_pixmap.toImage();
    window.strokes_answer = dir.filePath("strokes.png");
    window.save_strokes_action->trigger();
    QTest::mouseClick(window.clear_button, Qt::LeftButton);
    ASSERT_EQ(window.labels.count(Label::none), hard_width * hard_height);

    window.open_strokes_action->trigger();
    EXPECT_GT(window.labels.count(Label::object), 0);
    EXPECT_EQ(window.labels.to_strokes_image(), QImage(window.strokes_answer));
    EXPECT_EQ(window.source_pixmap.toImage(), painted);

    const long long before = window.labels.count(Label::background);
    window.strokes_answer = write_picture(synthetic_strokes(80, 60), dir.filePath("small.png"));
    window.open_strokes_action->trigger();
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("80 x 60")) << window.warnings[0].toStdString();
    EXPECT_EQ(window.labels.count(Label::background), before);
    EXPECT_EQ(window.source_pixmap.toImage(), painted);
}

TEST_F(ComputeWorker, LiveModeComputesWhenAStrokeEndsAndIsRemembered)
{
    EXPECT_FALSE(window.live_action->isChecked());
    window.live_action->setChecked(true);
    window.source_image->draw_mode = 2;
    drag(*window.source_image, {{400, 300}, {402, 304}});
    QApplication::processEvents();
    EXPECT_FALSE(window.compute_job->computing()); // one class has no seeds yet
    window.source_image->draw_mode = 1;
    const std::string out = printed_by([this] {
        drag(*window.source_image, {{380, 300}, {382, 304}});
        EXPECT_TRUE(QTest::qWaitFor([this] { return window.save_action->isEnabled(); }, 60000));
    });
    EXPECT_NE(out.find("Flow = "), std::string::npos) << out;
    EXPECT_EQ(window.tabs->currentIndex(), 0); // painting goes on where it was
    TestWindow next;
    EXPECT_TRUE(next.live_action->isChecked());
    next.live_action->setChecked(false);
}

TEST_F(ComputeWorker, SavedFilesEqualTheCommandLineToolsByteForByte)
{
    const QString small = write_picture(synthetic_photo(120, 90, 5), dir.filePath("small.png"));
    window.call("open_file", small);
    take_strokes(window, synthetic_strokes(120, 90));
    window.k_edit->setText("500");
    window.v_edit->setText("0.3");
    window.w_edit->setText("1.5");
    window.bbox_check->setChecked(false);
    QDir(dir.path()).mkdir("window");
    QDir(dir.path()).mkdir("cli");
    compute_to_end();
    printed_by([this] {
        window.save_answer = dir.filePath("window");
        window.save_action->trigger();
        window.strokes_answer = dir.filePath("small-strokes.png");
        window.save_strokes_action->trigger();
    });
    QProcess cli;
    cli.start(QStringLiteral(VELLACUT_CLI_PATH),
              {small, window.strokes_answer, "-o", dir.filePath("cli"), "-k", "500", "-v", "0.3",
               "-w", "1.5", "--no-bbox"});
    ASSERT_TRUE(cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    for (const char *name : {"small_mask.png", "small_object.png", "small_background.png"}) {
        const QByteArray from_window = file_bytes(dir.filePath("window/") + name);
        EXPECT_FALSE(from_window.isEmpty()) << name;
        EXPECT_EQ(from_window, file_bytes(dir.filePath("cli/") + name)) << name;
    }
}
