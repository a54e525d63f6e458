// Loading pictures with a sane size bound, and PNG encoding.
#include "imaging/image_io.h"

#include "png_decode.h"

#include <imaging/output_files.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>

namespace {

// Room for max_image_pixels at 8 bytes per pixel (16-bit channels), in MiB.
constexpr int reader_allocation_limit_mib =
    static_cast<int>(max_image_pixels * 8 / (1024 * 1024)) + 1;

// load_image, with the quick reader making `pixels` of a PNG it takes; *quick (when given) says
// whether it did.
LoadedImage load(const QString &path, PngPixels pixels, bool *quick)
{
    LoadedImage result;
    if (quick != nullptr)
        *quick = false;
    if (path.isEmpty()) {
        result.error = QStringLiteral("no file name given");
        return result;
    }
    // The reader says "File not found" for anything it cannot open; the user needs to know
    // which of these it is.
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        result.error = errno == ENOENT ? QStringLiteral("no such file")
                                       : QStringLiteral("cannot be opened: %1")
                                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    if (S_ISDIR(info.st_mode)) {
        result.error = QStringLiteral("is a directory, not a picture");
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot be opened: %1").arg(file.errorString());
        return result;
    }
    // Most photos and strokes pictures are plain PNG files, which the quick reader takes without
    // Qt's reader, whose first use also loads every image format plugin.
    if (file.peek(8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        result.image = decode_png_quickly(file.readAll(), pixels);
        if (quick != nullptr)
            *quick = !result.image.isNull();
    }
    if (result.image.isNull()) {
        file.seek(0);
        // Set once: pictures may be read on several threads at a time.
        [[maybe_unused]] static const bool limit_set = [] {
            QImageReader::setAllocationLimit(reader_allocation_limit_mib);
            return true;
        }();
        QImageReader reader(&file);
        const QSize size = reader.size();
        if (size.isValid()
            && static_cast<long long>(size.width()) * size.height() > max_image_pixels) {
            result.error = QStringLiteral("cannot be read as a picture: the picture is %1 x %2 "
                                          "pixels; at most %3 megapixels can be opened")
                               .arg(size.width())
                               .arg(size.height())
                               .arg(max_image_pixels / 1'000'000);
            return result;
        }
        result.image = reader.read();
        if (result.image.isNull()) {
            const QString reason = reader.errorString();
            result.error = QStringLiteral("cannot be read as a picture: %1")
                               .arg(reason.isEmpty() ? QStringLiteral("unknown reason") : reason);
            return result;
        }
    }
    // The reader gives a file named "name@2x.png" a device pixel ratio of 2, which would show
    // and paint it at half its size. Pictures here are worked on pixel for pixel.
    result.image.setDevicePixelRatio(1.0);
    return result;
}

} // namespace

LoadedImage load_image(const QString &path, LoadFor purpose)
{
    return load(path, purpose == LoadFor::grey_levels ? PngPixels::grey_levels : PngPixels::picture,
                nullptr);
}

LoadedStrokes load_strokes(const QString &path)
{
    LoadedStrokes result;
    bool labels_read = false;
    LoadedImage loaded = load(path, PngPixels::stroke_labels, &labels_read);
    if (!loaded.ok()) {
        result.error = loaded.error;
        return result;
    }
    result.labels = labels_read ? LabelLayer::from_label_values(std::move(loaded.image))
                                : LabelLayer::from_strokes_image(loaded.image);
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
    // One file is a set of one: written, flushed and renamed into place by the one writer.
    const QFileInfo info(path);
    return write_output_set(info.path(), {{info.fileName(), png}});
}

QString write_png_set(const QString &dir, const QStringList &names,
                      std::span<const QImage *const> pictures)
{
    const std::vector<const QImage *> last_first(pictures.rbegin(), pictures.rend());
    std::vector<QByteArray> encoded = encode_pngs(last_first);
    std::reverse(encoded.begin(), encoded.end());
    return write_png_files(dir, names, std::move(encoded));
}

QString write_png_files(const QString &dir, const QStringList &names,
                        std::vector<QByteArray> encoded)
{
    QList<OutputFile> files;
    for (std::size_t n = 0; n < encoded.size(); ++n) {
        const QString &name = names.at(static_cast<qsizetype>(n));
        if (encoded[n].isEmpty())
            return QStringLiteral("%1: there is no picture to write").arg(QDir(dir).filePath(name));
        files.append({name, std::move(encoded[n])});
    }
    return write_output_set(dir, files);
}
