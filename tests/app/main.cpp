// Test entry point: a QApplication on the offscreen platform unless another one is asked for.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Settings the window remembers (last folder, live mode) stay out of the user's own.
    QTemporaryDir settings_dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
