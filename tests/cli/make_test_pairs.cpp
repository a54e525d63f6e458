// Writes photo and strokes pairs for trying vellacut-cli by hand and for timing it:
//   make_test_pairs DIR COUNT WIDTH HEIGHT [PHOTO]
// gives DIR/photoN.png, DIR/photoN-strokes.png for N = 1..COUNT and DIR/list.txt, a batch list.
// The photos are synthetic, or PHOTO scaled to WIDTH x HEIGHT; the strokes are always the
// synthetic ones (a green cross in the middle, a red frame near the border).
#include "test_pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 5 && arguments.size() != 6) {
        std::fprintf(stderr, "usage: make_test_pairs DIR COUNT WIDTH HEIGHT [PHOTO]\n");
        return 2;
    }
    const QString dir = arguments.at(1);
    const int count = arguments.at(2).toInt();
    const int width = arguments.at(3).toInt();
    const int height = arguments.at(4).toInt();
    if (count < 1 || width < 3 || height < 3 || !QDir().mkpath(dir)) {
        std::fprintf(stderr, "make_test_pairs: bad arguments\n");
        return 2;
    }
    QFile list(QDir(dir).filePath("list.txt"));
    if (!list.open(QIODevice::WriteOnly))
        return 1;
    for (int n = 1; n <= count; ++n) {
        const QString name = QStringLiteral("photo%1").arg(n);
        const QDir folder(dir);
        if (arguments.size() == 6) {
            const QImage photo = QImage(arguments.at(5)).scaled(width, height);
            if (photo.isNull() || !photo.save(folder.filePath(name + ".png"), "PNG")
                || !synthetic_strokes(width, height)
                        .save(folder.filePath(name + "-strokes.png"), "PNG"))
                return 1;
        } else if (!write_test_pair(dir, name, width, height, static_cast<unsigned>(n))) {
            return 1;
        }
        list.write(
            (folder.filePath(name + ".png") + ' ' + folder.filePath(name + "-strokes.png") + '\n')
                .toLocal8Bit());
    }
    return 0;
}
