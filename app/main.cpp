// The program: one Window, 800 x 600. `vellacut [IMAGE [--strokes FILE]]` opens IMAGE at start-up
// and, with --strokes, the strokes picture FILE painted on it.
#include "window.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Every pointer position of a stroke counts: merged motion events would straighten curves.
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    QApplication app(argc, argv);
    QString image;
    QString strokes;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype n = 1; n < arguments.size(); ++n) {
        if (arguments.at(n) == QLatin1String("--strokes")) {
            if (n + 1 == arguments.size()) {
                std::fprintf(stderr, "vellacut: --strokes needs a file name\n");
                return 2;
            }
            strokes = arguments.at(++n);
        } else if (image.isEmpty()) {
            image = arguments.at(n);
        }
    }
    if (!strokes.isEmpty() && image.isEmpty()) {
        std::fprintf(stderr,
                     "vellacut: --strokes needs a picture to go with: vellacut IMAGE "
                     "--strokes FILE\n");
        return 2;
    }

    Window window;
    window.resize(800, 600);
    window.show();
    if (!image.isEmpty()) {
        QMetaObject::invokeMethod(&window, "open_file", Qt::DirectConnection,
                                  Q_ARG(QString, image));
        if (!strokes.isEmpty() && window.file_name == image)
            window.open_strokes_file(strokes);
    }
    return QApplication::exec();
}
