// The grey copy of a picture and the seed scan of the label layer.
#include <imaging/labels.h>

#include <segmentation/segmenter.h>

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "console_capture.h"

namespace {

QImage grey_picture(int width, int height, int level)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(level, level, level));
    return image;
}

// Runs the scan with standard output captured; returns the printed text.
std::string scan_printing(const LabelLayer &labels, const QImage &picture, Segmenter &segmenter,
                          bool use_bbox, LabelScan *scan = nullptr)
{
    return console_text_of([&] {
        const LabelScan result = scan_seeds(labels, picture, segmenter, use_bbox);
        if (scan != nullptr)
            *scan = result;
    });
}

} // namespace

TEST(CopyGreyLevels, ColumnMajorIndicesAndQGrayLevels)
{
    // 3 x 2: index x * 2 + y, so pixels (0,0), (0,1), (1,0), (1,1), (2,0), (2,1) get 0 to 5.
    QImage image(3, 2, QImage::Format_ARGB32);
    const QRgb colours[3][2] = {{qRgb(255, 255, 255), qRgb(255, 0, 0)},
                                {qRgb(0, 255, 0), qRgb(0, 0, 255)},
                                {qRgba(200, 100, 50, 0), qRgb(0, 0, 0)}};
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y)
            image.setPixel(x, y, colours[x][y]);
    Segmenter segmenter;
    copy_grey_levels(image, segmenter);
    ASSERT_EQ(segmenter.width, 3);
    ASSERT_EQ(segmenter.height, 2);
    // White 255, red 87, green 127, blue 39; alpha ignored: (11*200 + 16*100 + 5*50) / 32 = 126.
    const double expected[6] = {255, 87, 127, 39, 126, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(segmenter.get_pixel(i), expected[i]) << "index " << i;
}

TEST(CopyGreyLevels, NullPictureGivesEmptyEngineImage)
{
    Segmenter segmenter;
    copy_grey_levels(grey_picture(4, 4, 9), segmenter);
    copy_grey_levels(QImage(), segmenter);
    EXPECT_EQ(segmenter.width, 0);
    EXPECT_EQ(segmenter.height, 0);
    EXPECT_EQ(segmenter.node_count, 0);
}

TEST(BuildLabels, SeedsInColumnOrderWithGreyLevelsFromThePicture)
{
    // Picture: grey 40 everywhere except (3,1) at 200. Labels are what the user painted.
    QImage picture = grey_picture(5, 4, 40);
    picture.setPixel(3, 1, qRgb(200, 200, 200));
    LabelLayer labels(5, 4);
    labels.set(3, 1, Label::background);
    labels.set(1, 3, Label::background);
    labels.set(1, 0, Label::background);
    labels.set(4, 2, Label::object);
    labels.set(0, 2, Label::object);

    Segmenter segmenter;
    segmenter.add_background_seed(0, 1.0); // stale seeds must go
    LabelScan scan;
    const std::string out = scan_printing(labels, picture, segmenter, true, &scan);

    // Column-major scan, x outer: (1,0)=4, (1,3)=7, (3,1)=13.
    EXPECT_EQ(segmenter.indices_bg, (std::vector<int> {4, 7, 13}));
    EXPECT_EQ(segmenter.histogram_bg, (std::vector<double> {40.0, 40.0, 200.0}));
    EXPECT_EQ(segmenter.indices_fg, (std::vector<int> {2, 18}));
    EXPECT_EQ(segmenter.histogram_fg, (std::vector<double> {40.0, 40.0}));
    EXPECT_EQ(scan.background_seeds, 3);
    EXPECT_EQ(scan.object_seeds, 2);

    // Box x 0..4, y 0..3; the ends are the largest coordinates themselves.
    EXPECT_EQ(segmenter.roi_x_begin, 0);
    EXPECT_EQ(segmenter.roi_x_end, 4);
    EXPECT_EQ(segmenter.roi_y_begin, 0);
    EXPECT_EQ(segmenter.roi_y_end, 3);
    EXPECT_EQ(out, "BB: 4, 3\n");
}

TEST(BuildLabels, WithoutBoundingBoxTheRegionIsTheWholePicture)
{
    LabelLayer labels(6, 5);
    labels.set(2, 2, Label::background);
    labels.set(3, 2, Label::object);
    Segmenter segmenter;
    const std::string out = scan_printing(labels, grey_picture(6, 5, 10), segmenter, false);
    EXPECT_EQ(segmenter.roi_x_begin, 0);
    EXPECT_EQ(segmenter.roi_x_end, 6);
    EXPECT_EQ(segmenter.roi_y_begin, 0);
    EXPECT_EQ(segmenter.roi_y_end, 5);
    // The line describes the seeds' box either way: all seeds in one row.
    EXPECT_EQ(out, "BB: 1, 0\n");
}

TEST(BuildLabels, NoStrokesGiveNoSeedsAndAnEmptyBox)
{
    // A white picture: every channel saturated, yet nothing painted means no seed at all.
    LabelLayer labels(4, 3);
    Segmenter segmenter;
    const std::string out = scan_printing(labels, grey_picture(4, 3, 255), segmenter, true);
    EXPECT_TRUE(segmenter.indices_bg.empty());
    EXPECT_TRUE(segmenter.indices_fg.empty());
    EXPECT_EQ(segmenter.roi_x_begin, 999999999);
    EXPECT_EQ(segmenter.roi_x_end, -999999999);
    EXPECT_EQ(segmenter.roi_y_begin, 999999999);
    EXPECT_EQ(segmenter.roi_y_end, -999999999);
    EXPECT_EQ(out, "BB: -1999999998, -1999999998\n");
}

TEST(BuildLabels, LayerOfAnotherSizeScansNothing)
{
    LabelLayer labels(4, 3);
    labels.set(1, 1, Label::object);
    Segmenter segmenter;
    segmenter.add_object_seed(0, 5.0);
    LabelScan scan;
    const std::string out = scan_printing(labels, grey_picture(4, 4, 0), segmenter, true, &scan);
    EXPECT_FALSE(scan.valid);
    EXPECT_TRUE(segmenter.indices_fg.empty());
    EXPECT_EQ(out, "");
}

TEST(BuildLabels, AgreesWithAScanOfAPaintedPicture)
{
    // Oracle: paint discs red and green on a picture without saturated channels, then scan the
    // painted picture pixel by pixel for red 255 / green 255, column by column.
    QRandomGenerator random(99);
    QImage picture(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const int level = static_cast<int>(random.bounded(250));
            picture.setPixel(x, y, qRgb(level, (level * 7) % 250, (level * 3) % 250));
        }
    QImage painted = picture;
    LabelLayer labels(40, 30);
    for (int n = 0; n < 25; ++n) {
        const QPointF centre(random.generateDouble() * 40, random.generateDouble() * 30);
        const int width = static_cast<int>(random.bounded(8));
        const int mode = random.bounded(2) == 0 ? 1 : 2;
        QPainter painter(&painted);
        const QColor colour = mode == 1 ? QColor(Qt::red) : QColor(Qt::green);
        painter.setPen(QPen(QBrush(colour, Qt::SolidPattern), width, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.drawPoints(&centre, 1);
        painter.end();
        labels.paint_disc(centre, width, mode);
    }
    std::vector<std::pair<int, double>> bg;
    std::vector<std::pair<int, double>> fg;
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) {
            const QRgb p = painted.pixel(x, y);
            const double g = qGray(picture.pixel(x, y));
            if (qRed(p) == 255)
                bg.emplace_back(x * 30 + y, g);
            if (qGreen(p) == 255)
                fg.emplace_back(x * 30 + y, g);
        }
    ASSERT_FALSE(bg.empty());
    ASSERT_FALSE(fg.empty());

    Segmenter segmenter;
    scan_printing(labels, picture, segmenter, true);
    ASSERT_EQ(segmenter.indices_bg.size(), bg.size());
    ASSERT_EQ(segmenter.indices_fg.size(), fg.size());
    for (std::size_t n = 0; n < bg.size(); ++n) {
        EXPECT_EQ(segmenter.indices_bg[n], bg[n].first);
        EXPECT_EQ(segmenter.histogram_bg[n], bg[n].second);
    }
    for (std::size_t n = 0; n < fg.size(); ++n) {
        EXPECT_EQ(segmenter.indices_fg[n], fg[n].first);
        EXPECT_EQ(segmenter.histogram_fg[n], fg[n].second);
    }
}
