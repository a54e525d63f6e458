// Writes synthetic photo and strokes pairs for trying vellacut-cli by hand and for timing it:
//   make_test_pairs DIR COUNT WIDTH HEIGHT
// gives DIR/photoN.png, DIR/photoN-strokes.png for N = 1..COUNT and DIR/list.txt, a batch list.
#include "test_pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: make_test_pairs DIR COUNT WIDTH HEIGHT\n");
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
        if (!write_test_pair(dir, name, width, height, static_cast<unsigned>(n)))
            return 1;
        const QDir folder(dir);
        list.write(
            (folder.filePath(name + ".png") + ' ' + folder.filePath(name + "-strokes.png") + '\n')
                .toLocal8Bit());
    }
    return 0;
}
