// The road of a segmentation through the window: open, paint, collect seeds, COMPUTE, save; the
// drop of files; and the failures the window must survive without losing the user's work.
#include "window_support.h"

#include <imaging/image_io.h>
#include <imaging/label_layer.h>
#include <imaging/output_files.h>

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGraphicsScene>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <set>

namespace {

constexpr int picture_width = 40;
constexpr int picture_height = 30;

class WindowRoad : public ::testing::Test
{
protected:
    WindowRoad()
    {
        EXPECT_TRUE(dir.isValid());
        picture = two_tone_picture(picture_width, picture_height);
        // The base name stops at the first dot.
        picture_path = write_picture(picture, dir.filePath("photo.v2.png"));
    }

    void open_picture()
    {
        window.open_answers << picture_path;
        printed_by([this] { window.open_action->trigger(); });
        ASSERT_EQ(window.file_name, picture_path);
    }

    void paint(int mode, const std::vector<QPointF> &points)
    {
        window.source_image->draw_mode = mode;
        drag(*window.source_image, points);
    }

    // Red strokes down the dark left side, green strokes down the bright right side.
    void paint_both_sides()
    {
        paint(1, {{5, 8}, {6, 14}, {5, 20}, {7, 25}});
        paint(2, {{33, 6}, {32, 12}, {34, 18}, {33, 24}});
    }

    // Clicks COMPUTE and waits for the worker; returns the console lines of the whole run.
    std::string compute()
    {
        return printed_by([this] {
            QTest::mouseClick(window.compute_button, Qt::LeftButton);
            EXPECT_TRUE(window.wait_for_compute());
        });
    }

    int grey(int x, int y) const { return qGray(picture.pixel(x, y)); }

    QTemporaryDir dir;
    QImage picture;
    QString picture_path;
    TestWindow window;
};

QRgb at(const QPixmap &pixmap, int x, int y)
{
    return pixmap.toImage().pixel(x, y) | 0xFF000000u;
}

QImage read_png(const QString &path)
{
    QImage image(path);
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST_F(WindowRoad, OpeningShowsThePictureAndFillsTheEngine)
{
    window.tabs->setCurrentIndex(2);
    window.open_answers << picture_path;
    const std::string out = printed_by([this] { window.open_action->trigger(); });
    EXPECT_EQ(out, "WxH: 40, 30\n");
    EXPECT_EQ(window.tabs->currentIndex(), 0);
    EXPECT_EQ(window.source_image->pixmap, &window.source_pixmap);
    EXPECT_EQ(window.source_pixmap.toImage().convertToFormat(QImage::Format_RGB32), picture);
    ASSERT_EQ(window.segmenter.width, picture_width);
    ASSERT_EQ(window.segmenter.height, picture_height);
    EXPECT_EQ(window.segmenter.get_pixel(7 * picture_height + 11), grey(7, 11));
    EXPECT_EQ(window.labels.width(), picture_width);
    EXPECT_EQ(window.labels.count(Label::none), picture_width * picture_height);
}

TEST_F(WindowRoad, LabelLayerCoversExactlyThePixelsTurnedRedOrGreen)
{
    open_picture();
    window.brush_edit->setText(QStringLiteral("7"));
    paint(1, {{10.3, 10.7}, {14.1, 12.2}, {18.8, 15.5}, {0.2, 29.6}});
    paint(2, {{16.4, 13.1}, {25.0, 20.0}, {39.5, 0.5}}); // over the red strokes in part
    const QImage shown = window.source_pixmap.toImage();
    int red = 0;
    int green = 0;
    for (int y = 0; y < picture_height; ++y)
        for (int x = 0; x < picture_width; ++x) {
            const QRgb c = shown.pixel(x, y) | 0xFF000000u;
            const Label label = window.labels.at(x, y);
            if (c == qRgb(255, 0, 0)) {
                ++red;
                EXPECT_EQ(label, Label::background) << x << "," << y;
            } else if (c == qRgb(0, 255, 0)) {
                ++green;
                EXPECT_EQ(label, Label::object) << x << "," << y;
            } else {
                EXPECT_EQ(label, Label::none) << x << "," << y;
                EXPECT_EQ(c, picture.pixel(x, y) | 0xFF000000u);
            }
        }
    EXPECT_GT(red, 50);
    EXPECT_GT(green, 50);
}

TEST_F(WindowRoad, PictureNamedForHighDensityScreensIsStillPaintedPixelForPixel)
{
    // Qt's reader gives a file named "...@2x.png" a device pixel ratio of 2. The picture must
    // still be shown and painted one pixel per pixel, or the strokes, the label layer and the
    // seeds would disagree about where the user painted.
    const QString hidpi = write_picture(picture, dir.filePath("photo@2x.png"));
    window.open_answers << hidpi;
    printed_by([this] { window.open_action->trigger(); });
    ASSERT_EQ(window.file_name, hidpi);
    EXPECT_EQ(window.source_pixmap.devicePixelRatio(), 1.0);
    EXPECT_EQ(window.source_image->scene->sceneRect(), QRectF(0, 0, picture_width, picture_height));
    window.brush_edit->setText(QStringLiteral("5"));
    paint(1, {{30.5, 20.5}});
    const QImage shown = window.source_pixmap.toImage();
    EXPECT_EQ(shown.pixel(30, 20) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(window.labels.at(30, 20), Label::background);
    for (int y = 0; y < picture_height; ++y)
        for (int x = 0; x < picture_width; ++x)
            EXPECT_EQ(window.labels.at(x, y) == Label::background,
                      (shown.pixel(x, y) | 0xFF000000u) == qRgb(255, 0, 0))
                << x << "," << y;
}

TEST_F(WindowRoad, SeedsComeFromTheStrokesWithGreyLevelsFromThePicture)
{
    open_picture();
    window.brush_edit->setText(QStringLiteral("5"));
    paint(1, {{10.5, 10.5}});
    paint(2, {{12.5, 10.5}}); // covers part of the red disc: the later colour wins there
    const std::string out = printed_by([this] { window.call("build_labels"); });

    const Segmenter &s = window.segmenter;
    ASSERT_FALSE(s.indices_bg.empty());
    ASSERT_FALSE(s.indices_fg.empty());
    std::set<int> background(s.indices_bg.begin(), s.indices_bg.end());
    std::set<int> object(s.indices_fg.begin(), s.indices_fg.end());
    EXPECT_EQ(background.size(), s.indices_bg.size());
    for (const int i : s.indices_fg)
        EXPECT_EQ(background.count(i), 0u) << "pixel " << i << " has both classes";
    EXPECT_EQ(object.count(12 * picture_height + 10), 1u); // (12, 10): both discs, green last
    EXPECT_EQ(background.count(9 * picture_height + 10), 1u);
    // The white pixel at (3, 3) is nobody's stroke and no seed.
    EXPECT_EQ(background.count(3 * picture_height + 3), 0u);
    EXPECT_EQ(object.count(3 * picture_height + 3), 0u);
    // Grey levels of the picture, not of red (87) or green (127).
    for (std::size_t n = 0; n < s.indices_bg.size(); ++n) {
        const int i = s.indices_bg[n];
        EXPECT_EQ(s.histogram_bg[n], grey(i / picture_height, i % picture_height));
    }
    for (std::size_t n = 0; n < s.indices_fg.size(); ++n) {
        const int i = s.indices_fg[n];
        EXPECT_EQ(s.histogram_fg[n], grey(i / picture_height, i % picture_height));
    }
    // Ascending indices: column by column, top to bottom.
    EXPECT_TRUE(std::is_sorted(s.indices_bg.begin(), s.indices_bg.end()));
    EXPECT_EQ(out.rfind("BB: ", 0), 0u) << out;
    EXPECT_EQ(s.roi_x_begin, 8); // disc of diameter 5 around x = 10.5 starts at column 8
    EXPECT_EQ(s.roi_x_end, 14);
}

TEST_F(WindowRoad, TheCheckBoxDecidesTheRegion)
{
    open_picture();
    window.bbox_check->setChecked(false);
    printed_by([this] { window.call("build_labels"); });
    EXPECT_FALSE(window.use_bbox);
    EXPECT_EQ(window.segmenter.roi_x_begin, 0);
    EXPECT_EQ(window.segmenter.roi_x_end, picture_width);
    EXPECT_EQ(window.segmenter.roi_y_begin, 0);
    EXPECT_EQ(window.segmenter.roi_y_end, picture_height);
}

TEST_F(WindowRoad, OpenPaintComputeSave)
{
    open_picture();
    paint_both_sides();
    window.w_edit->setText(QStringLiteral("1e0"));
    const std::string out = compute();

    // Console: the seed box first, the flow from the engine, the size last.
    const auto bb = out.find("BB: ");
    const auto flow = out.find("Flow = ");
    const auto size = out.rfind("WxH: 40, 30\n");
    ASSERT_NE(bb, std::string::npos) << out;
    ASSERT_NE(flow, std::string::npos) << out;
    ASSERT_NE(size, std::string::npos) << out;
    EXPECT_LT(bb, flow);
    EXPECT_LT(flow, size);
    EXPECT_EQ(size + 12, out.size());

    EXPECT_EQ(window.tabs->currentIndex(), 1);
    EXPECT_EQ(window.segmenter.graph, nullptr);
    EXPECT_EQ(window.segmenter.w, 1.0);
    for (const QPixmap &pixmap : window.result_pixmaps)
        EXPECT_EQ(pixmap.size(), QSize(picture_width, picture_height));
    EXPECT_EQ(window.binarymask_image->pixmap, &window.result_pixmaps[0]);
    EXPECT_EQ(window.segmented_image->pixmap, &window.result_pixmaps[1]);
    EXPECT_EQ(window.bg_segmented_image->pixmap, &window.result_pixmaps[5]);
    EXPECT_EQ(window.fg_segmented_image->pixmap, &window.result_pixmaps[6]);

    // Inside the seeds' box and away from the step between the halves the cut is plain: left
    // Background, right Object.
    for (const int y : {9, 15, 21})
        for (const int x : {8, 15, 24, 30}) {
            const int g = grey(x, y);
            const bool object = x >= picture_width / 2;
            SCOPED_TRACE(testing::Message() << x << "," << y);
            EXPECT_EQ(at(*window.binarymask_image->pixmap, x, y),
                      object ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
            EXPECT_EQ(at(*window.segmented_image->pixmap, x, y),
                      object ? qRgb(255, 0, 0) : qRgb(g, g, g));
            EXPECT_EQ(at(*window.fg_segmented_image->pixmap, x, y),
                      object ? qRgb(g, g, g) : qRgb(0, 0, 0));
            EXPECT_EQ(at(*window.bg_segmented_image->pixmap, x, y),
                      object ? qRgb(0, 0, 0) : qRgb(g, g, g));
        }
    // Outside the box no pixel gets an edge: even on the bright side it counts as Background.
    EXPECT_EQ(at(*window.binarymask_image->pixmap, 38, 1), qRgb(0, 0, 0));
    // The strokes stay on the canvas.
    EXPECT_EQ(at(window.source_pixmap, 5, 14), qRgb(255, 0, 0));

    QTemporaryDir out_dir;
    ASSERT_TRUE(out_dir.isValid());
    window.save_answer = out_dir.path();
    const std::string saved = printed_by([this] { window.save_action->trigger(); });
    EXPECT_EQ(saved, "fileName: photo\n");
    EXPECT_TRUE(window.warnings.isEmpty()) << window.warnings.join("; ").toStdString();
    const QDir d(out_dir.path());
    EXPECT_EQ(read_png(d.filePath("photo_mask.png")),
              window.binarymask_image->pixmap->toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(read_png(d.filePath("photo_object.png")),
              window.fg_segmented_image->pixmap->toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(read_png(d.filePath("photo_background.png")),
              window.bg_segmented_image->pixmap->toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(d.entryList(QDir::Files).size(), 3);
    // The command-line tool encodes the same pixels held as RGB888: the files are the same bytes.
    QFile mask(d.filePath("photo_mask.png"));
    ASSERT_TRUE(mask.open(QIODevice::ReadOnly));
    EXPECT_EQ(mask.readAll(),
              encode_png(window.binarymask_image->pixmap->toImage().convertToFormat(
                  QImage::Format_RGB888)));
}

TEST_F(WindowRoad, SecondComputeReplacesTheResultsWithEqualOnes)
{
    open_picture();
    paint_both_sides();
    compute();
    const QImage first = window.result_pixmaps[0].toImage();
    const qint64 first_key = window.result_pixmaps[0].cacheKey();
    compute();
    EXPECT_NE(window.result_pixmaps[0].cacheKey(), first_key);
    EXPECT_EQ(window.result_pixmaps[0].toImage(), first);
    EXPECT_EQ(window.binarymask_image->pixmap, &window.result_pixmaps[0]);
}

TEST_F(WindowRoad, ClearLabelsRestoresThePictureAndForgetsTheStrokes)
{
    open_picture();
    paint_both_sides();
    printed_by([this] { window.call("build_labels"); });
    ASSERT_FALSE(window.segmenter.indices_bg.empty());
    window.tabs->setCurrentIndex(3);
    QTest::mouseClick(window.clear_button, Qt::LeftButton);
    EXPECT_EQ(window.tabs->currentIndex(), 0);
    EXPECT_EQ(window.source_pixmap.toImage().convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_EQ(window.labels.count(Label::none), picture_width * picture_height);
    EXPECT_TRUE(window.segmenter.indices_bg.empty());
    EXPECT_TRUE(window.segmenter.indices_fg.empty());
}

TEST_F(WindowRoad, DropOfTwoFilesOpensTheFirst)
{
    const QString second = write_picture(two_tone_picture(12, 9), dir.filePath("second.png"));
    const QString first = write_picture(two_tone_picture(16, 11), dir.filePath("first.png"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    const std::string out = printed_by([&] { QApplication::sendEvent(&window, &drop); });
    EXPECT_EQ(out, "WxH: 16, 11\n");
    EXPECT_EQ(window.file_name, first);
    EXPECT_EQ(window.segmenter.width, 16);
}

TEST_F(WindowRoad, DropOnTheCanvasReachesTheWindow)
{
    // Users drop files on the picture itself; the canvas passes the drag on to the window.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(picture_path)});
    QWidget *target = window.source_image->viewport();
    const QPoint centre = target->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    const std::string out = printed_by([&] { QApplication::sendEvent(target, &drop); });
    EXPECT_EQ(out, "WxH: 40, 30\n");
    EXPECT_EQ(window.file_name, picture_path);
}

TEST_F(WindowRoad, DropOfARemoteUrlOpensNothing)
{
    open_picture();
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://example.org/a.png"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_EQ(window.file_name, picture_path);
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("example.org"));
}

TEST_F(WindowRoad, CancelledOpenKeepsPictureAndStrokes)
{
    open_picture();
    paint_both_sides();
    const long long painted = window.labels.count(Label::background);
    const QImage shown = window.source_pixmap.toImage();
    window.open_answers << QString();
    const std::string out = printed_by([this] { window.open_action->trigger(); });
    EXPECT_EQ(window.open_asks, 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(window.file_name, picture_path);
    EXPECT_EQ(window.source_pixmap.toImage(), shown);
    EXPECT_EQ(window.labels.count(Label::background), painted);
    EXPECT_EQ(window.segmenter.width, picture_width);
    EXPECT_TRUE(window.warnings.isEmpty());
}

TEST_F(WindowRoad, UnreadableFileIsNamedInAWarningAndChangesNothing)
{
    open_picture();
    paint_both_sides();
    const long long painted = window.labels.count(Label::object);
    const QImage shown = window.source_pixmap.toImage();
    QFile bad(dir.filePath("broken.png"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    window.open_answers << bad.fileName();
    const std::string out = printed_by([this] { window.open_action->trigger(); });
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains(QDir::toNativeSeparators(bad.fileName())))
        << window.warnings[0].toStdString();
    EXPECT_NE(out.find("broken.png"), std::string::npos) << out;
    EXPECT_EQ(window.file_name, picture_path);
    EXPECT_EQ(window.source_image->pixmap, &window.source_pixmap);
    EXPECT_EQ(window.source_pixmap.toImage(), shown);
    EXPECT_EQ(window.labels.count(Label::object), painted);
    EXPECT_EQ(window.segmenter.width, picture_width);
    // The strokes still segment.
    compute();
    EXPECT_EQ(window.tabs->currentIndex(), 1);
}

TEST_F(WindowRoad, FailedSaveNamesTheFileAndKeepsTheOldSet)
{
    open_picture();
    paint_both_sides();
    compute();
    QTemporaryDir out_dir;
    ASSERT_TRUE(out_dir.isValid());
    window.save_answer = out_dir.path();
    printed_by([this] { window.save_action->trigger(); });
    QFile mask(QDir(out_dir.path()).filePath("photo_mask.png"));
    ASSERT_TRUE(mask.open(QIODevice::ReadOnly));
    const QByteArray old_mask = mask.readAll();
    mask.close();
    ASSERT_FALSE(old_mask.isEmpty());
    // The next save fails at putting the object picture in place: nothing changes.
    set_write_fault_hook([](WriteStep step, const QString &path) {
        return step == WriteStep::rename && path.endsWith("photo_object.png") ? ENOSPC : 0;
    });
    window.k_edit->setText("5");
    compute();
    window.overwrite_answer = true;
    const std::string out = printed_by([this] { window.save_action->trigger(); });
    set_write_fault_hook({});
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("photo_object.png"));
    EXPECT_TRUE(window.warnings[0].contains("No space left on device"));
    EXPECT_NE(out.find("Could not write"), std::string::npos) << out;
    ASSERT_TRUE(mask.open(QIODevice::ReadOnly));
    EXPECT_EQ(mask.readAll(), old_mask);

    window.warnings.clear();
    window.save_answer = out_dir.filePath("missing/dir");
    printed_by([this] { window.save_action->trigger(); });
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("missing/dir")) << window.warnings[0].toStdString();
}

TEST_F(WindowRoad, ParametersThatCannotSegmentAreRefusedAndTheStrokesStay)
{
    open_picture();
    paint_both_sides();
    const QImage painted = window.source_pixmap.toImage();
    for (QLineEdit *field : {window.k_edit, window.w_edit}) {
        window.warnings.clear();
        const QString good = field->text();
        field->setText(field == window.k_edit ? "-2" : "inf");
        const std::string out = compute();
        field->setText(good);
        ASSERT_EQ(window.warnings.size(), 1);
        EXPECT_TRUE(window.warnings[0].startsWith("Cannot compute"));
        EXPECT_EQ(out.find("Flow = "), std::string::npos) << out;
        EXPECT_EQ(window.source_pixmap.toImage(), painted);
    }
}

TEST_F(WindowRoad, CancelledSaveWritesNothing)
{
    open_picture();
    paint_both_sides();
    compute();
    window.save_answer.clear();
    const std::string out = printed_by([this] { window.save_action->trigger(); });
    EXPECT_EQ(window.save_asks, 1);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(window.warnings.isEmpty());
}

TEST_F(WindowRoad, SaveIsDisabledUntilAComputeFinishesOnTheOpenPicture)
{
    // Placeholders are never written, and one picture's results never under another's name.
    QTemporaryDir out_dir;
    ASSERT_TRUE(out_dir.isValid());
    window.save_answer = out_dir.path();
    const auto save_writes_nothing = [&](const char *when) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(window.save_action->isEnabled());
        const std::string out = printed_by([this] { window.call("save"); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(window.save_asks, 0);
        EXPECT_TRUE(QDir(out_dir.path()).entryList(QDir::Files).isEmpty());
    };
    save_writes_nothing("no picture");
    open_picture();
    save_writes_nothing("picture, no COMPUTE");
    paint_both_sides();
    compute();
    EXPECT_TRUE(window.save_action->isEnabled());

    const QString other = write_picture(two_tone_picture(20, 10), dir.filePath("other.png"));
    window.open_answers << other;
    printed_by([this] { window.open_action->trigger(); });
    save_writes_nothing("another picture opened");
    for (GView *view : {window.binarymask_image, window.segmented_image, window.fg_segmented_image,
                        window.bg_segmented_image})
        EXPECT_EQ(view->pixmap->size(), QSize(128, 128));
    for (const QPixmap &pixmap : window.result_pixmaps)
        EXPECT_TRUE(pixmap.isNull());
}

TEST_F(WindowRoad, ComputeBeforeAnyPictureDoesNothingAndSaysSo)
{
    window.source_image->draw_mode = 1;
    drag(*window.source_image, {{60, 60}, {70, 70}}); // strokes on the placeholder
    const std::string out = compute();
    EXPECT_NE(out.find("No image is open"), std::string::npos) << out;
    EXPECT_TRUE(window.statusBar()->currentMessage().contains("No picture is open"));
    EXPECT_EQ(out.find("BB: "), std::string::npos);
    EXPECT_EQ(window.tabs->currentIndex(), 0);
    EXPECT_TRUE(window.segmenter.indices_bg.empty());
    EXPECT_EQ(window.segmenter.graph, nullptr);
    for (const QPixmap &pixmap : window.result_pixmaps)
        EXPECT_TRUE(pixmap.isNull());
    const std::string labels_out = printed_by([this] { window.call("build_labels"); });
    EXPECT_NE(labels_out.find("No image is open"), std::string::npos) << labels_out;
    EXPECT_TRUE(window.segmenter.indices_bg.empty());
}

TEST_F(WindowRoad, RefusedComputeNamesTheColourToPaintAndKeepsTheTabs)
{
    open_picture();
    paint(2, {{33, 6}, {32, 12}});
    compute();
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("red")) << window.warnings[0].toStdString();
    EXPECT_EQ(window.tabs->currentIndex(), 0);
    EXPECT_EQ(window.segmenter.graph, nullptr);
    for (const QPixmap &pixmap : window.result_pixmaps)
        EXPECT_TRUE(pixmap.isNull());

    QTest::mouseClick(window.clear_button, Qt::LeftButton);
    window.warnings.clear();
    paint(1, {{5, 8}, {6, 14}});
    compute();
    ASSERT_EQ(window.warnings.size(), 1);
    EXPECT_TRUE(window.warnings[0].contains("green")) << window.warnings[0].toStdString();
}
