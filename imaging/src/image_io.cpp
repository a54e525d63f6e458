// Loading pictures with a sane size bound, and atomic PNG writes.
#include "imaging/image_io.h"

#include "png_decode.h"

#include <QFile>
#include <QImageReader>
#include <QSaveFile>

namespace {

// Room for max_image_pixels at 8 bytes per pixel (16-bit channels), in MiB.
constexpr int reader_allocation_limit_mib =
    static_cast<int>(max_image_pixels * 8 / (1024 * 1024)) + 1;

} // namespace

LoadedImage load_image(const QString &path)
{
    LoadedImage result;
    if (path.isEmpty()) {
        result.error = QStringLiteral("no file name given");
        return result;
    }
    // Most photos and strokes pictures are plain PNG files, which the quick reader takes without
    // Qt's reader, whose first use also loads every image format plugin.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.peek(8) == QByteArray("\x89PNG\r\n\x1a\n", 8))
        result.image = decode_png_quickly(file.readAll());
    file.close();
    if (result.image.isNull()) {
        QImageReader::setAllocationLimit(reader_allocation_limit_mib);
        QImageReader reader(path);
        const QSize size = reader.size();
        if (size.isValid()
            && static_cast<long long>(size.width()) * size.height() > max_image_pixels) {
            result.error = QStringLiteral("the picture is %1 x %2 pixels; at most %3 megapixels "
                                          "can be opened")
                               .arg(size.width())
                               .arg(size.height())
                               .arg(max_image_pixels / 1'000'000);
            return result;
        }
        result.image = reader.read();
        if (result.image.isNull()) {
            result.error = reader.errorString();
            return result;
        }
    }
    // The reader gives a file named "name@2x.png" a device pixel ratio of 2, which would show
    // and paint it at half its size. Pictures here are worked on pixel for pixel.
    result.image.setDevicePixelRatio(1.0);
    return result;
}

QString write_png(const QImage &image, const QString &path)
{
    if (image.isNull())
        return QStringLiteral("there is no picture to write");
    return write_png_bytes(encode_png(image), path);
}

QString write_png_bytes(const QByteArray &png, const QString &path)
{
    if (png.isEmpty())
        return QStringLiteral("the picture cannot be encoded as PNG");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(png) != png.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
