// Test helpers for driving the window.
#include "window_support.h"

#include "compute_job.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

TestWindow::TestWindow()
{
    resize(800, 600);
    show();
}

void TestWindow::call(const char *slot)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(this, slot, Qt::DirectConnection)) << slot;
}

void TestWindow::call(const char *slot, const QString &argument)
{
    ASSERT_TRUE(
        QMetaObject::invokeMethod(this, slot, Qt::DirectConnection, Q_ARG(QString, argument)))
        << slot;
}

bool TestWindow::wait_for_compute()
{
    // A minute: far beyond any test picture, even under the sanitizers on a loaded machine.
    return QTest::qWaitFor([this] { return !compute_job->computing(); }, 60000);
}

bool TestWindow::ask_overwrite(const QStringList &names)
{
    overwrite_asks << names.join(QLatin1Char(';'));
    return overwrite_answer;
}

QString TestWindow::ask_strokes_file_to_open()
{
    return strokes_answer;
}

QString TestWindow::ask_strokes_file_to_save()
{
    return strokes_answer;
}

QString TestWindow::ask_open_file_name()
{
    ++open_asks;
    return open_answers.isEmpty() ? QString() : open_answers.takeFirst();
}

QString TestWindow::ask_save_directory()
{
    ++save_asks;
    return save_answer;
}

void TestWindow::show_warning(const QString &text)
{
    warnings << text;
}

Window::UnsavedAnswer TestWindow::ask_unsaved_work(bool)
{
    ++unsaved_asks;
    if (unsaved_answers.empty())
        return UnsavedAnswer::discard;
    const UnsavedAnswer answer = unsaved_answers.front();
    unsaved_answers.erase(unsaved_answers.begin());
    return answer;
}

namespace {

void send_mouse(GView &view, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                Qt::MouseButtons buttons)
{
    const QPointF local(pos);
    const QPointF global(view.viewport()->mapToGlobal(pos));
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &event);
}

} // namespace

void drag(GView &view, const std::vector<QPointF> &scene_points, Qt::MouseButton button)
{
    send_mouse(view, QEvent::MouseButtonPress, view.mapFromScene(scene_points.front()), button,
               button);
    for (const QPointF &p : scene_points)
        send_mouse(view, QEvent::MouseMove, view.mapFromScene(p), Qt::NoButton, button);
    send_mouse(view, QEvent::MouseButtonRelease, view.mapFromScene(scene_points.back()), button,
               Qt::NoButton);
}

void wheel(GView &view, QPointF at, int notch, Qt::KeyboardModifiers modifiers)
{
    const QPointF pos(view.mapFromScene(at));
    const QPointF global(view.viewport()->mapToGlobal(pos.toPoint()));
    QWheelEvent event(pos, global, QPoint(), QPoint(0, 120 * notch), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
}

QImage two_tone_picture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int level = (x < width / 2 ? 40 : 190) + ((x * 7 + y * 3) % 5) * 3;
            image.setPixel(x, y, qRgb(level, level - 10, level + 20));
        }
    image.setPixel(3, 3, qRgb(255, 255, 255));
    return image;
}

QString write_picture(const QImage &image, const QString &path)
{
    EXPECT_TRUE(image.save(path, "PNG")) << path.toStdString();
    return path;
}
