// Loading pictures (with the size bound) and PNG encoding.
#include <imaging/image_io.h>
#include <imaging/output_files.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>

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

// A PNG file whose header claims width x height pixels but that holds no pixel data.
QByteArray png_header(std::uint32_t width, std::uint32_t height)
{
    QByteArray header("IHDR");
    append_be32(header, width);
    append_be32(header, height);
    header.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    append_chunk(file, header);
    append_chunk(file, QByteArray("IDAT"));
    append_chunk(file, QByteArray("IEND"));
    return file;
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
