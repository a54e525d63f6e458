// The program: one Window, 800 x 600. `vellacut IMAGE` opens IMAGE at start-up.
#include "window.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char *argv[])
{
    // Every pointer position of a stroke counts: merged motion events would straighten curves.
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    QApplication app(argc, argv);
    Window window;
    window.resize(800, 600);
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        QMetaObject::invokeMethod(&window, "open_file", Qt::DirectConnection,
                                  Q_ARG(QString, arguments.at(1)));
    return QApplication::exec();
}
