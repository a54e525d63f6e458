// Pictures in every format users bring, written here by Qt's own writers, open and give the
// engine the grey levels of their pixels: 16-bit channels rounded to the nearest 8-bit level.
#include <imaging/image_io.h>
#include <imaging/labels.h>

#include <segmentation/segmenter.h>

#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// 16-bit channels spread over the whole range, most of them between two 8-bit levels, so that
// the rounding matters.
QImage sixteen_bit_picture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBX64);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint16 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[4 * x + c] = static_cast<quint16>((x * 2311 + y * 977 + c * 30011) % 65535 | 1);
        for (int x = 0; x < width; ++x)
            row[4 * x + 3] = 65535;
    }
    return image;
}

// The grey level of (x, y) worked out from the stored values, independently of Qt's conversions.
int expected_grey(const QImage &image, int x, int y)
{
    const auto level = [](int v) { return (v * 255 + 32767) / 65535; };
    const auto *shorts = reinterpret_cast<const quint16 *>(image.constScanLine(y));
    switch (image.format()) {
    case QImage::Format_RGBX64:
        return (11 * level(shorts[4 * x]) + 16 * level(shorts[4 * x + 1])
                + 5 * level(shorts[4 * x + 2]))
            / 32;
    case QImage::Format_Grayscale16:
        return level(shorts[x]);
    default:
        return qGray(image.pixel(x, y));
    }
}

} // namespace

TEST(ImageFormats, EveryKindOpensWithTheGreyLevelsOfItsPixels)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage wide = sixteen_bit_picture(29, 17);
    const QImage colour = wide.convertToFormat(QImage::Format_RGB888);
    QImage translucent = colour.convertToFormat(QImage::Format_ARGB32);
    translucent.setPixel(0, 0, qRgba(10, 200, 30, 40));
    struct Case
    {
        const char *name;
        const char *format;
        QImage picture;
        int tolerance; // grey levels a lossy format may be off by
    };
    const Case cases[] = {
        {"rgb.png", "png", colour, 0},
        {"rgba.png", "png", translucent, 0},
        {"grey.png", "png", colour.convertToFormat(QImage::Format_Grayscale8), 0},
        {"palette.png", "png", colour.convertToFormat(QImage::Format_Indexed8), 0},
        {"rgb16.png", "png", wide, 0},
        {"grey16.png", "png", wide.convertToFormat(QImage::Format_Grayscale16), 0},
        {"picture.tif", "tiff", colour, 0},
        {"picture.webp", "webp", colour, 0}, // quality 100 is lossless
        {"picture.bmp", "bmp", colour, 0},
        {"picture.jpg", "jpeg", colour, 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QImageWriter writer(dir.filePath(c.name), c.format);
        writer.setQuality(100);
        ASSERT_TRUE(writer.write(c.picture)) << writer.errorString().toStdString();
        const LoadedImage loaded = load_image(dir.filePath(c.name));
        ASSERT_TRUE(loaded.ok()) << loaded.error.toStdString();
        Segmenter segmenter;
        copy_grey_levels(loaded.image, segmenter);
        ASSERT_EQ(segmenter.width, 29);
        ASSERT_EQ(segmenter.height, 17);
        int worst = 0;
        for (int x = 0; x < 29; ++x)
            for (int y = 0; y < 17; ++y)
                worst = std::max(worst,
                                 std::abs(static_cast<int>(segmenter.get_pixel(x * 17 + y))
                                          - expected_grey(c.picture, x, y)));
        EXPECT_LE(worst, c.tolerance);
    }
}
