// Helpers for the window tests: a Window whose dialogs and warnings are answered by the test,
// mouse drags on a canvas, and small test pictures on disk.
#pragma once

#include "window.h"

#include <canvas/gview.h>

#include <QImage>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"

// A Window whose open and save dialogs return prepared answers and whose warnings are recorded
// instead of shown.
class TestWindow : public Window
{
public:
    TestWindow();

    QStringList open_answers; // taken one per open dialog; empty means cancelled
    QString save_answer; // the directory the save dialog returns; empty means cancelled
    int open_asks = 0;
    int save_asks = 0;
    QStringList warnings;
    bool overwrite_answer = false; // the answer to "replace the existing files?"
    QStringList overwrite_asks; // the files each such question named, joined by ';'
    QString strokes_answer; // the file either strokes dialog returns; empty means cancelled
    // Answers to the unsaved-work question, taken one per question; Discard when none is left.
    std::vector<UnsavedAnswer> unsaved_answers;
    int unsaved_asks = 0;

    // Calls one of the window's slots by name, with at most one QString argument.
    void call(const char *slot);
    void call(const char *slot, const QString &argument);
    // Waits, with a generous timeout, until no COMPUTE runs or waits; false on a timeout.
    bool wait_for_compute();

protected:
    QString ask_open_file_name() override;
    QString ask_save_directory() override;
    void show_warning(const QString &text) override;
    bool ask_overwrite(const QStringList &names) override;
    QString ask_strokes_file_to_open() override;
    QString ask_strokes_file_to_save() override;
    UnsavedAnswer ask_unsaved_work(bool can_save) override;
};

// Left-button drag on the canvas: press at the first scene point, a move to each point, release.
void drag(GView &view, const std::vector<QPointF> &scene_points,
          Qt::MouseButton button = Qt::LeftButton);

// Sends one wheel notch (+1 up, -1 down) at scene point `at` with `modifiers`.
void wheel(GView &view, QPointF at, int notch, Qt::KeyboardModifiers modifiers);

// The test picture: `width` x `height`, left half dark and right half bright with some texture,
// no pure red or green pixel, and a white pixel at (3, 3).
QImage two_tone_picture(int width, int height);

// Writes `image` as a PNG at `path` and returns the path.
QString write_picture(const QImage &image, const QString &path);

// Runs `action` with standard output captured and returns what it printed.
template<class Action>
std::string printed_by(Action action)
{
    return console_text_of([&] { action(); });
}
