// Loading pictures (with the size bound) and PNG encoding.
#include <imaging/image_io.h>
#include <imaging/labels.h>
#include <imaging/output_files.h>
#include <segmentation/segmenter.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::uint32_t crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void append_be32(QByteArray &bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFFu));
}

void append_chunk(QByteArray &file, const QByteArray &chunk)
{
    append_be32(file, static_cast<std::uint32_t>(chunk.size() - 4));
    file.append(chunk);
    append_be32(file, crc32(chunk));
}

// A PNG file of width x height pixels, 8 bits per channel of colour type `colour`, with
// `stream` as its image data.
QByteArray png_file(std::uint32_t width, std::uint32_t height, char colour,
                    const QByteArray &stream)
{
    QByteArray header("IHDR");
    append_be32(header, width);
    append_be32(header, height);
    header.append(char(8)).append(colour).append(char(0)).append(char(0)).append(char(0));
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    append_chunk(file, header);
    append_chunk(file, "IDAT" + stream);
    append_chunk(file, QByteArray("IEND"));
    return file;
}

// A PNG file whose header claims width x height pixels but that holds no pixel data.
QByteArray png_header(std::uint32_t width, std::uint32_t height)
{
    return png_file(width, height, 2, QByteArray());
}

} // namespace

TEST(ImageIo, EncodedPngReadsBackIdentically)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage image(7, 5, QImage::Format_RGB888);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            image.setPixel(x, y, qRgb(x * 30, y * 50, 77));
    const QString path = dir.filePath("a.png");
    EXPECT_EQ(write_output_set(dir.path(), {{"a.png", encode_png(image)}}), QString());
    const LoadedImage loaded = load_image(path);
    ASSERT_TRUE(loaded.ok()) << loaded.error.toStdString();
    EXPECT_TRUE(loaded.error.isEmpty());
    EXPECT_EQ(loaded.image.convertToFormat(QImage::Format_RGB888), image);
    EXPECT_TRUE(encode_png(QImage()).isEmpty());
    // A name in the high-density screen form does not change the picture's scale.
    const QString hidpi = dir.filePath("b@2x.png");
    ASSERT_TRUE(image.save(hidpi, "PNG"));
    ASSERT_EQ(QImage(hidpi).devicePixelRatio(), 2.0) << "Qt no longer reads the name; test moot";
    EXPECT_EQ(load_image(hidpi).image.devicePixelRatio(), 1.0);
}

TEST(ImageIo, UnreadableFilesCarryTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const LoadedImage none = load_image(QString());
    EXPECT_FALSE(none.ok());
    EXPECT_FALSE(none.error.isEmpty());
    // Missing, a folder, not openable, not decodable: four different reasons.
    EXPECT_EQ(load_image(dir.filePath("missing.png")).error, "no such file");
    EXPECT_EQ(load_image(dir.path()).error, "is a directory, not a picture");
    QFile text(dir.filePath("notes.png"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is no picture\n");
    text.close();
    const LoadedImage garbage = load_image(text.fileName());
    EXPECT_FALSE(garbage.ok());
    EXPECT_TRUE(garbage.error.startsWith("cannot be read as a picture: "))
        << garbage.error.toStdString();
    // A path through a file fails to open for a reason that even root meets.
    EXPECT_EQ(load_image(text.fileName() + "/x.png").error, "cannot be opened: Not a directory");
}

TEST(ImageIo, AbsurdSizesAreRefusedBeforeDecoding)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile huge(dir.filePath("huge.png"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write(png_header(20000, 10000)); // 200 megapixels
    huge.close();
    const LoadedImage loaded = load_image(huge.fileName());
    EXPECT_FALSE(loaded.ok());
    EXPECT_TRUE(loaded.error.contains("20000 x 10000")) << loaded.error.toStdString();
    EXPECT_TRUE(loaded.error.contains("100 megapixels")) << loaded.error.toStdString();
}

TEST(ImageIo, LargePhotosAboveQtsDefaultLimitOpen)
{
    // 8200 x 8200 = 67 megapixels, read as 32-bit pixels: 269 MB, beyond Qt's default reader
    // allocation limit of 256 MiB. A one-colour PNG keeps the file small.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage big(8200, 8200, QImage::Format_RGB888);
    big.fill(QColor(90, 20, 200));
    const QString path = dir.filePath("big.png");
    QImageWriter writer(path, "png");
    writer.setQuality(90); // light compression: quick to write and to read
    ASSERT_TRUE(writer.write(big)) << writer.errorString().toStdString();
    big = QImage();

    const int ours = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(256);
    EXPECT_TRUE(QImageReader(path).read().isNull()) << "Qt's default limit should refuse it";
    QImageReader::setAllocationLimit(ours);

    const LoadedImage loaded = load_image(path);
    ASSERT_TRUE(loaded.ok()) << loaded.error.toStdString();
    EXPECT_EQ(loaded.image.size(), QSize(8200, 8200));
    EXPECT_EQ(loaded.image.pixel(8199, 8199) | 0xFF000000u, qRgb(90, 20, 200));
}

namespace {

// Qt's own PNG writer at its default settings: the reference for colour type, depth and pixels.
QByteArray qt_png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

// A photo-like picture: smooth shading, a little noise, a dark block and a translucent corner.
QImage photo_like(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>((state >> 16) % 7);
            const bool dark = x > width / 2 && y > height / 2;
            const int r = dark ? 0 : (x * 200 / width + noise) % 256;
            const int g = dark ? 0 : (y * 180 / height + noise) % 256;
            image.setPixel(x, y, qRgba(r, g, (r + g) / 2, x < 4 && y < 4 ? 100 : 255));
        }
    return image;
}

} // namespace

TEST(ImageIo, EncodedPngKeepsQtsColourTypeDepthAndPixels)
{
    // A photo, and a cut-out of it: mostly black, which deflates at the other level and leaves
    // its black rows unfiltered.
    QImage cut_out = photo_like(97, 61);
    for (int y = 0; y < cut_out.height(); ++y)
        for (int x = 0; x < cut_out.width(); ++x)
            if (x < 70 || y < 40)
                cut_out.setPixel(x, y, qRgba(0, 0, 0, 255));
    for (const QImage &photo : {photo_like(97, 61), cut_out}) {
        const QImage::Format formats[] = {
            QImage::Format_RGB888,      QImage::Format_RGB32,
            QImage::Format_ARGB32,      QImage::Format_ARGB32_Premultiplied,
            QImage::Format_RGBA8888,    QImage::Format_RGBX8888,
            QImage::Format_BGR888,      QImage::Format_RGB16,
            QImage::Format_Grayscale8,  QImage::Format_Indexed8,
            QImage::Format_Mono,        QImage::Format_RGBA64,
            QImage::Format_Grayscale16,
        };
        for (const QImage::Format format : formats) {
            SCOPED_TRACE(testing::Message() << "format " << format);
            const QImage image = photo.convertToFormat(format);
            const QByteArray ours = encode_png(image);
            const QByteArray theirs = qt_png(image);
            ASSERT_GT(ours.size(), 33);
            // Bytes 24 and 25 of the file are the header's bit depth and colour type.
            EXPECT_EQ(ours.mid(0, 26), theirs.mid(0, 26));
            const QImage decoded = QImage::fromData(ours, "PNG");
            const QImage reference = QImage::fromData(theirs, "PNG");
            EXPECT_EQ(decoded.format(), reference.format());
            EXPECT_EQ(decoded, reference);
            EXPECT_LE(ours.size(), theirs.size() * 3 / 2);
        }
    }
}

TEST(ImageIo, SamePixelsGiveTheSameFileWhateverTheOpaqueFormat)
{
    const QImage photo = photo_like(50, 40).convertToFormat(QImage::Format_RGB888);
    const QByteArray rgb888 = encode_png(photo);
    EXPECT_EQ(encode_png(photo.convertToFormat(QImage::Format_RGB32)), rgb888);
    EXPECT_EQ(encode_png(photo.convertToFormat(QImage::Format_RGBX8888)), rgb888);
    EXPECT_TRUE(encode_png(QImage()).isEmpty());

    // Side by side on the cores, each file is what encode_png gives alone.
    const QImage grey = photo.convertToFormat(QImage::Format_Grayscale8);
    const QImage empty;
    const QImage *const images[] = {&photo, &grey, &empty, &photo};
    const std::vector<QByteArray> files = encode_pngs(images);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], rgb888);
    EXPECT_EQ(files[1], encode_png(grey));
    EXPECT_TRUE(files[2].isEmpty());
    EXPECT_EQ(files[3], rgb888);
}

namespace {

// A PNG file of `image` (Grayscale8, RGB888 or RGBA8888) whose row y uses filter type y % 5, or
// filters[y % size] when given, filtered here by the textbook definitions, so that the reader
// meets every filter. With `cut`, the deflate stream loses that many bytes at its end.
QByteArray png_with_every_filter(const QImage &image, char colour, int bpp, qsizetype cut = 0,
                                 const std::vector<int> &filters = {0, 1, 2, 3, 4})
{
    const auto row_bytes = static_cast<qsizetype>(image.width() * bpp);
    QByteArray raw;
    QByteArray zeros(row_bytes, '\0');
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = image.constScanLine(y);
        const auto *up = y == 0 ? reinterpret_cast<const uchar *>(zeros.constData())
                                : image.constScanLine(y - 1);
        const int filter = filters[static_cast<std::size_t>(y) % filters.size()];
        raw.append(static_cast<char>(filter));
        for (qsizetype n = 0; n < row_bytes; ++n) {
            const int a = n >= bpp ? row[n - bpp] : 0;
            const int b = up[n];
            const int c = n >= bpp ? up[n - bpp] : 0;
            const int p = a + b - c;
            const int paeth =
                std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c) ? a
                : std::abs(p - b) <= std::abs(p - c)                                     ? b
                                                                                         : c;
            const int predictor[5] = {0, a, b, (a + b) / 2, paeth};
            raw.append(static_cast<char>(row[n] - predictor[filter]));
        }
    }
    // qCompress puts the size first.
    return png_file(static_cast<std::uint32_t>(image.width()),
                    static_cast<std::uint32_t>(image.height()), colour,
                    qCompress(raw).mid(4).chopped(cut));
}

} // namespace

TEST(ImageIo, PngFilesOpenAsQtsReaderOpensThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage photo = photo_like(41, 23);
    const QImage rgba = photo.convertToFormat(QImage::Format_RGBA8888);
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
    const QImage grey = photo.convertToFormat(QImage::Format_Grayscale8);
    QByteArray damaged = qt_png(rgb);
    damaged[damaged.size() - 30] = static_cast<char>(damaged.at(damaged.size() - 30) ^ 0x55);
    QByteArray short_data = png_with_every_filter(rgb, 2, 3);
    short_data.chop(12 + 5); // IEND and the stream's end go
    append_chunk(short_data, QByteArray("IEND"));
    // Strokes: pure red and green, transparent red, half-transparent green and near misses.
    QImage strokes(37, 19, QImage::Format_ARGB32);
    const QRgb kinds[] = {qRgba(0, 0, 0, 0),   qRgb(255, 0, 0),       qRgb(0, 255, 0),
                          qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 100), qRgb(254, 0, 0),
                          qRgb(0, 255, 1)};
    for (int y = 0; y < strokes.height(); ++y)
        for (int x = 0; x < strokes.width(); ++x)
            strokes.setPixel(x, y, kinds[(x / 3 + y) % 7]);
    const QImage strokes_rgba = strokes.convertToFormat(QImage::Format_RGBA8888);
    const std::vector<int> chained_pairs = {1, 1, 1, 3, 1, 4, 3, 1, 3, 3, 3, 4, 4, 1, 4, 3, 4, 4};
    // Large pictures too, one of them with its stream cut short.
    const QImage large = photo_like(700, 520).convertToFormat(QImage::Format_RGBA8888);
    const std::pair<const char *, QByteArray> files[] = {
        {"large-filters-rgba", png_with_every_filter(large, 6, 4)},
        {"large-qt-rgb", qt_png(large.convertToFormat(QImage::Format_RGB888))},
        {"large-cut-stream", png_with_every_filter(large, 6, 4, 5000)},
        {"strokes-rgba", png_with_every_filter(strokes_rgba, 6, 4)},
        {"strokes-rgb",
         png_with_every_filter(strokes_rgba.convertToFormat(QImage::Format_RGB888), 2, 3)},
        {"filters-rgb", png_with_every_filter(rgb, 2, 3)},
        // Every pair of filters whose pixels wait on their left neighbour, row above row.
        {"chained-pairs-rgba", png_with_every_filter(rgba, 6, 4, 0, chained_pairs)},
        {"chained-pairs-rgb", png_with_every_filter(rgb, 2, 3, 0, chained_pairs)},
        {"filters-rgba", png_with_every_filter(rgba, 6, 4)},
        {"filters-grey", png_with_every_filter(grey, 0, 1)},
        {"qt-rgb", qt_png(rgb)},
        {"qt-rgba", qt_png(photo)},
        {"qt-grey", qt_png(grey)},
        {"qt-palette", qt_png(photo.convertToFormat(QImage::Format_Indexed8))},
        {"damaged", damaged},
        {"short-data", short_data},
    };
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        QFile file(dir.filePath(QString(name) + ".png"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const QImage qt = QImageReader(file.fileName()).read();
        const LoadedImage ours = load_image(file.fileName());
        EXPECT_EQ(ours.ok(), !qt.isNull());
        EXPECT_EQ(ours.image.format(), qt.format());
        EXPECT_EQ(ours.image, qt);
        EXPECT_EQ(ours.image.dotsPerMeterX(), qt.dotsPerMeterX());
        // Read for the engine alone, the picture gives the engine the same grey levels.
        const LoadedImage levels = load_image(file.fileName(), LoadFor::grey_levels);
        ASSERT_EQ(levels.ok(), !qt.isNull());
        Segmenter from_qt;
        Segmenter from_levels;
        copy_grey_levels(qt, from_qt);
        copy_grey_levels(levels.image, from_levels);
        ASSERT_EQ(from_levels.node_count, from_qt.node_count);
        EXPECT_TRUE(std::equal(from_qt.grey.get(), from_qt.grey.get() + from_qt.node_count,
                               from_levels.grey.get()));
        // Read as strokes, it gives the labels of Qt's picture.
        const LoadedStrokes labels = load_strokes(file.fileName());
        ASSERT_EQ(labels.ok(), !qt.isNull());
        EXPECT_EQ(labels.labels.to_strokes_image(),
                  LabelLayer::from_strokes_image(qt).to_strokes_image());
    }
}
