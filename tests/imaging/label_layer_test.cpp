// LabelLayer: strokes pictures, and discs rasterised exactly as a painter paints them.
#include <imaging/label_layer.h>

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The oracle: paint the disc the way the canvas does, on an ordinary RGB picture, and read the
// pure red pixels back.
QImage painted_disc(QSize size, QPointF centre, int width)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(40, 40, 40));
    QPainter painter(&image);
    painter.setPen(
        QPen(QBrush(Qt::red, Qt::SolidPattern), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPoints(&centre, 1);
    return image;
}

} // namespace

TEST(LabelLayer, StartsEmptyAndHoldsWhatIsSet)
{
    LabelLayer layer(5, 4);
    EXPECT_EQ(layer.width(), 5);
    EXPECT_EQ(layer.height(), 4);
    EXPECT_EQ(layer.count(Label::none), 20);
    layer.set(4, 3, Label::object);
    layer.set(0, 0, Label::background);
    EXPECT_EQ(layer.at(4, 3), Label::object);
    EXPECT_EQ(layer.at(0, 0), Label::background);
    EXPECT_EQ(layer.at(3, 4 - 1), Label::none);
    EXPECT_EQ(layer.count(Label::object), 1);
    layer.clear();
    EXPECT_EQ(layer.count(Label::none), 20);
    EXPECT_TRUE(LabelLayer().is_empty());
}

TEST(LabelLayer, StrokesPictureKnowsOnlyPureRedAndPureGreen)
{
    QImage strokes(6, 1, QImage::Format_ARGB32);
    strokes.setPixel(0, 0, qRgb(255, 0, 0));
    strokes.setPixel(1, 0, qRgb(0, 255, 0));
    strokes.setPixel(2, 0, qRgb(255, 255, 255)); // saturated, but no stroke
    strokes.setPixel(3, 0, qRgb(254, 0, 0));
    strokes.setPixel(4, 0, qRgba(255, 0, 0, 128)); // alpha is ignored
    strokes.setPixel(5, 0, qRgb(255, 0, 1));
    const LabelLayer layer = LabelLayer::from_strokes_image(strokes);
    ASSERT_EQ(layer.width(), 6);
    EXPECT_EQ(layer.at(0, 0), Label::background);
    EXPECT_EQ(layer.at(1, 0), Label::object);
    EXPECT_EQ(layer.at(2, 0), Label::none);
    EXPECT_EQ(layer.at(3, 0), Label::none);
    EXPECT_EQ(layer.at(4, 0), Label::background);
    EXPECT_EQ(layer.at(5, 0), Label::none);
}

TEST(LabelLayer, DiscsCoverExactlyThePixelsAPainterTurnsRed)
{
    QRandomGenerator random(12345);
    const QSize size(47, 31);
    for (int trial = 0; trial < 400; ++trial) {
        const int width = static_cast<int>(random.bounded(14));
        // Centres anywhere, also partly outside the picture, with fractional parts.
        const QPointF centre(random.generateDouble() * 57.0 - 5.0,
                             random.generateDouble() * 41.0 - 5.0);
        const QImage oracle = painted_disc(size, centre, width);
        LabelLayer layer(size.width(), size.height());
        layer.paint_disc(centre, width, 1);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const bool red = oracle.pixel(x, y) == qRgb(255, 0, 0);
                ASSERT_EQ(layer.at(x, y) == Label::background, red)
                    << "width " << width << " centre " << centre.x() << "," << centre.y()
                    << " pixel " << x << "," << y;
                ASSERT_NE(layer.at(x, y), Label::object);
            }
    }
}

TEST(LabelLayer, LaterDiscReplacesEarlierOne)
{
    LabelLayer layer(30, 30);
    layer.paint_disc(QPointF(12.5, 15.5), 9, 1);
    const long long red_alone = layer.count(Label::background);
    layer.paint_disc(QPointF(17.5, 15.5), 9, 2);
    EXPECT_EQ(layer.at(12, 15), Label::background);
    EXPECT_EQ(layer.at(15, 15), Label::object); // inside both discs
    EXPECT_EQ(layer.at(20, 15), Label::object);
    EXPECT_LT(layer.count(Label::background), red_alone);
    // Modes other than 1 record Object, as the canvas paints them green.
    layer.paint_disc(QPointF(12.5, 15.5), 3, 0);
    EXPECT_EQ(layer.at(12, 15), Label::object);
}

TEST(LabelLayer, EmptyLayerIgnoresDiscs)
{
    LabelLayer layer;
    layer.paint_disc(QPointF(1, 1), 5, 1);
    EXPECT_TRUE(layer.is_empty());
    EXPECT_EQ(layer.count(Label::background), 0);
}
