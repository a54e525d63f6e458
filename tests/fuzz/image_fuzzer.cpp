// Fuzz target: a picture and a strokes picture read through the program's loader from files,
// then the seed scan, and the segmentation itself when the pictures are small. The input is
// two bytes giving the length of the picture's file, the picture's file, then the strokes'.
#include <imaging/image_io.h>
#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <segmentation/segmenter.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file in memory holding `size` bytes, read through its /proc path like any other file.
class MemoryFile
{
public:
    MemoryFile(const std::uint8_t *data, std::size_t size)
        : fd(::memfd_create("fuzz", MFD_CLOEXEC))
    {
        if (fd >= 0 && size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size))
            std::abort();
    }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    ~MemoryFile() { ::close(fd); }

    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd); }

private:
    int fd;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t declared = data[0] + std::size_t {256} * data[1];
    const std::size_t picture_size = std::min(declared, size - 2);
    const MemoryFile picture_file(data + 2, picture_size);
    const MemoryFile strokes_file(data + 2 + picture_size, size - 2 - picture_size);
    const LoadedImage picture = load_image(picture_file.path());
    const LoadedImage strokes = load_image(strokes_file.path());
    if (picture.ok() != picture.error.isEmpty() || strokes.ok() != strokes.error.isEmpty())
        std::abort(); // exactly one of a picture and a reason
    if (!picture.ok() || !strokes.ok() || picture.image.size() != strokes.image.size())
        return 0;

    Segmenter segmenter;
    copy_grey_levels(picture.image, segmenter);
    const LabelLayer labels = LabelLayer::from_strokes_image(strokes.image);
    const LabelScan scan = scan_seeds(labels, picture.image, segmenter, data[0] % 2 == 0);
    if (!scan.valid)
        std::abort();
    if (static_cast<long long>(picture.image.width()) * picture.image.height() <= 64 * 64
        && segmenter.compute() == ComputeResult::done && segmenter.graph->flow_value() < 0.0f)
        std::abort();
    return 0;
}
