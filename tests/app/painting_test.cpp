// Painting in the window as in a paint program: strokes joined however fast the pointer goes,
// the eraser, mode and brush keys, undo and redo, zoomed painting, the cut overlay, and the
// question before unsaved work is lost.
#include "window_support.h"

#include <canvas/mark_layer.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

class Painting : public ::testing::Test
{
protected:
    Painting()
    {
        picture = two_tone_picture(120, 90);
        path = write_picture(picture, dir.filePath("scene.png"));
        printed_by([this] { window.call("open_file", path); });
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&window, key, modifiers);
    }

    // The labels and the shown picture, to compare states pixel for pixel.
    std::pair<QImage, QImage> state() const
    {
        QImage labels(window.labels.width(), window.labels.height(), QImage::Format_Grayscale8);
        for (int y = 0; y < labels.height(); ++y)
            std::copy_n(window.labels.row(y), labels.width(), labels.scanLine(y));
        return {labels, window.source_pixmap.toImage()};
    }

    std::string compute()
    {
        return printed_by([this] {
            QTest::mouseClick(window.compute_button, Qt::LeftButton);
            EXPECT_TRUE(window.wait_for_compute());
        });
    }

    QTemporaryDir dir;
    QImage picture;
    QString path;
    TestWindow window;
};

// A horizontal line through y = 40 from x = 10 to 100 as `events` pointer moves.
std::vector<QPointF> straight_drag(int events)
{
    std::vector<QPointF> points;
    for (int k = 0; k < events; ++k)
        points.emplace_back(10.0 + 90.0 * k / (events - 1), 40.3);
    return points;
}

} // namespace

TEST_F(Painting, ModeKeysAndButtonsAndTheHintWithoutAMode)
{
    drag(*window.source_image, {{20, 20}, {30, 30}});
    EXPECT_EQ(window.labels.count(Label::none), 120 * 90);
    EXPECT_EQ(window.statusBar()->currentMessage(),
              QStringLiteral("Choose Background (B) or Object (F) to paint"));
    const auto checked = [this] {
        return std::tuple(window.source_image->draw_mode, window.background_button->isChecked(),
                          window.object_button->isChecked(), window.eraser_button->isChecked());
    };
    key(Qt::Key_B);
    EXPECT_EQ(checked(), std::tuple(1, true, false, false));
    key(Qt::Key_F);
    EXPECT_EQ(checked(), std::tuple(2, false, true, false));
    key(Qt::Key_E);
    EXPECT_EQ(checked(), std::tuple(Window::erase_mode, false, false, true));
    key(Qt::Key_E); // a key selects; it never turns its mode off
    EXPECT_EQ(checked(), std::tuple(Window::erase_mode, false, false, true));
    QTest::mouseClick(window.eraser_button, Qt::LeftButton); // the button does
    EXPECT_EQ(checked(), std::tuple(-1, false, false, false));
    QTest::mouseClick(window.object_button, Qt::LeftButton);
    EXPECT_EQ(checked(), std::tuple(2, false, true, false));
}

TEST_F(Painting, BrushKeysAndShiftWheelStepAboutAFifthWithinOneTo500)
{
    key(Qt::Key_BracketRight);
    EXPECT_EQ(window.source_image->brush_width, 6);
    EXPECT_EQ(window.brush_edit->text(), QStringLiteral("6"));
    wheel(*window.source_image, {50, 50}, 1, Qt::ShiftModifier);
    EXPECT_EQ(window.source_image->brush_width, 7);
    key(Qt::Key_BracketLeft);
    EXPECT_EQ(window.source_image->brush_width, 6);
    window.step_brush(40);
    EXPECT_EQ(window.brush_edit->text(), QStringLiteral("500"));
    window.step_brush(-1);
    EXPECT_EQ(window.source_image->brush_width, 417);
    window.step_brush(-60);
    EXPECT_EQ(window.source_image->brush_width, 1);
}

TEST_F(Painting, AStraightDragGivesTheSameLabelsFor5Or500Events)
{
    key(Qt::Key_F);
    drag(*window.source_image, straight_drag(5));
    const auto few = state();
    window.undo_action->trigger();
    EXPECT_EQ(window.labels.count(Label::object), 0);
    drag(*window.source_image, straight_drag(500));
    EXPECT_EQ(state(), few);
    // One continuous band: every column from 10 to 100 is painted on the line.
    for (int x = 10; x <= 100; ++x)
        ASSERT_EQ(window.labels.at(x, 40), Label::object) << x;
    // The status bar names the pixel under the pointer, where the drag ended.
    const QString readout =
        QStringLiteral("(100, 40)  grey: %1  label: Object").arg(qGray(picture.pixel(100, 40)));
    EXPECT_EQ(window.pointer_label->text(), readout);
}

TEST_F(Painting, UndoAndRedoRestoreLabelsAndPictureExactlyAndNameTheirStep)
{
    const auto blank = state();
    key(Qt::Key_F);
    drag(*window.source_image, {{80, 20}, {90, 60}, {100, 30}});
    const auto object = state();
    key(Qt::Key_B);
    drag(*window.source_image, {{10, 10}, {30, 80}});
    const auto both = state();
    EXPECT_EQ(window.undo_action->text(), QStringLiteral("Undo Background stroke"));

    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state(), object);
    EXPECT_EQ(window.undo_action->text(), QStringLiteral("Undo Object stroke"));
    EXPECT_EQ(window.redo_action->text(), QStringLiteral("Redo Background stroke"));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state(), blank);
    EXPECT_FALSE(window.undo_action->isEnabled());
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(state(), object);
    key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(state(), both);

    QTest::mouseClick(window.clear_button, Qt::LeftButton);
    EXPECT_EQ(state(), blank);
    EXPECT_EQ(window.undo_action->text(), QStringLiteral("Undo Clear Labels"));
    window.undo_action->trigger();
    EXPECT_EQ(state(), both);
    EXPECT_EQ(window.redo_action->text(), QStringLiteral("Redo Clear Labels"));

    // A hundred steps back, every one of them.
    for (int n = 0; n < 100; ++n)
        drag(*window.source_image, {{5.0 + n, 5}, {5.0 + n, 85}});
    for (int n = 0; n < 100; ++n)
        window.undo_action->trigger();
    EXPECT_EQ(state(), both);
}

TEST_F(Painting, TheEraserRemovesBothClassesAndShowsThePictureAgain)
{
    key(Qt::Key_B);
    drag(*window.source_image, {{10, 40}, {55, 40}});
    key(Qt::Key_F);
    drag(*window.source_image, {{60, 40}, {110, 40}});
    key(Qt::Key_E);
    window.brush_edit->setText(QStringLiteral("20"));
    drag(*window.source_image, {{40, 40}, {80, 40}});
    EXPECT_EQ(window.undo_action->text(), QStringLiteral("Undo Erase stroke"));
    const QImage shown = window.source_pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    for (int x = 35; x <= 85; ++x) {
        ASSERT_EQ(window.labels.at(x, 40), Label::none) << x;
        ASSERT_EQ(shown.pixel(x, 40), picture.pixel(x, 40)) << x;
    }
    EXPECT_EQ(window.labels.at(15, 40), Label::background);
    EXPECT_EQ(window.labels.at(105, 40), Label::object);
}

TEST_F(Painting, ZoomedAndPannedPaintingLandsUnderThePointer)
{
    GView &view = *window.source_image;
    for (int n = 0; n < 6; ++n)
        wheel(view, {70, 50}, 1, Qt::ControlModifier);
    const double scale = view.transform().m11();
    EXPECT_GT(scale, 2.5);
    // Zooming kept the anchor under the pointer; a middle drag pans by the pointer's way.
    EXPECT_NEAR(view.mapToScene(view.mapFromScene(QPointF(70, 50))).x(), 70, 1.0 / scale + 0.01);
    const QPointF before = view.mapToScene(view.viewport()->rect().center());
    drag(view, {{70, 50}, {66, 48}}, Qt::MiddleButton);
    const QPointF after = view.mapToScene(view.viewport()->rect().center());
    EXPECT_NEAR(after.x() - before.x(), 4, 1.0);
    EXPECT_NEAR(after.y() - before.y(), 2, 1.0);
    EXPECT_EQ(window.labels.count(Label::none), 120 * 90);

    key(Qt::Key_B);
    window.brush_edit->setText(QStringLiteral("3"));
    const QPoint spot(view.viewport()->width() / 3, view.viewport()->height() / 2);
    const QPointF target = view.mapToScene(spot);
    drag(view, {target, target});
    EXPECT_EQ(window.labels.at(static_cast<int>(target.x()), static_cast<int>(target.y())),
              Label::background);
    EXPECT_LE(window.labels.count(Label::background), 9);

    // The result tabs take the canvas's place.
    key(Qt::Key_F);
    drag(view, {target + QPointF(4, 0), target + QPointF(4, 3)});
    compute();
    window.tabs->setCurrentIndex(0);
    wheel(view, target, 1, Qt::ControlModifier);
    window.tabs->setCurrentIndex(4);
    EXPECT_NEAR(window.binarymask_image->transform().m11(), view.transform().m11(), 1e-9);
    EXPECT_NEAR(window.binarymask_image->mapToScene(spot).x(), view.mapToScene(spot).x(), 1.0);
}

TEST_F(Painting, TheCutOverlayIsDrawnApartAndNeverBecomesSeeds)
{
    key(Qt::Key_B);
    drag(*window.source_image, {{10, 10}, {12, 80}});
    key(Qt::Key_F);
    drag(*window.source_image, {{100, 10}, {102, 80}});
    compute();
    const auto seeds = std::tuple(window.segmenter.indices_bg, window.segmenter.indices_fg,
                                  window.segmenter.histogram_bg, window.segmenter.histogram_fg);
    const auto painted = state();
    for (const auto overlay : {Window::CutOverlay::tint, Window::CutOverlay::outline}) {
        key(Qt::Key_O);
        EXPECT_EQ(window.cut_overlay, overlay);
        window.overlay_slider->setValue(30);
        EXPECT_NEAR(window.cut_marks->opacity(), overlay == Window::CutOverlay::tint ? 0.3 : 1,
                    1e-9);
        compute();
        EXPECT_EQ(std::tuple(window.segmenter.indices_bg, window.segmenter.indices_fg,
                             window.segmenter.histogram_bg, window.segmenter.histogram_fg),
                  seeds);
        EXPECT_EQ(state(), painted);
    }
    // The outline marks the Object side's border and lies under the strokes.
    EXPECT_LT(window.cut_marks->zValue(), window.stroke_marks->zValue());
    const QImage &outline = window.cut_marks->image();
    EXPECT_EQ(qAlpha(outline.pixel(100, 45)), 0);
    EXPECT_NE(qAlpha(outline.pixel(60, 45)), 0); // the two-tone edge
    key(Qt::Key_O);
    EXPECT_EQ(window.cut_overlay, Window::CutOverlay::off);
    EXPECT_FALSE(window.cut_marks->isVisible());
}

TEST_F(Painting, UnsavedWorkAsksBeforeItIsLostAndTheTitleShowsIt)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("scene.png[*] - Vellacut"));
    EXPECT_FALSE(window.isWindowModified());
    key(Qt::Key_F);
    drag(*window.source_image, {{80, 20}, {90, 60}});
    EXPECT_TRUE(window.isWindowModified());

    // Cancel keeps the window and the strokes; Save with no results to save keeps them too.
    window.unsaved_answers = {Window::UnsavedAnswer::cancel, Window::UnsavedAnswer::save};
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.close());
    EXPECT_EQ(window.unsaved_asks, 2);
    // Opening another picture asks too; Cancel keeps the current one.
    const QString other = write_picture(picture.mirrored(), dir.filePath("other.png"));
    window.unsaved_answers = {Window::UnsavedAnswer::cancel};
    printed_by([&] { window.call("open_file", other); });
    EXPECT_EQ(window.file_name, path);
    EXPECT_GT(window.labels.count(Label::object), 0);

    // Save writes the results and ends the question; the saved state is clean.
    key(Qt::Key_B);
    drag(*window.source_image, {{10, 10}, {12, 80}});
    compute();
    window.save_answer = dir.path();
    window.unsaved_answers = {Window::UnsavedAnswer::save};
    printed_by([&] { EXPECT_TRUE(window.close()); });
    EXPECT_EQ(window.save_asks, 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("scene_mask.png")));
    EXPECT_FALSE(window.isWindowModified());

    // Discard lets another picture open, which then heads Open Recent.
    window.show();
    drag(*window.source_image, {{30, 10}, {30, 80}});
    window.unsaved_answers = {Window::UnsavedAnswer::discard};
    printed_by([&] { window.call("open_file", other); });
    EXPECT_EQ(window.unsaved_asks, 5);
    EXPECT_EQ(window.file_name, other);
    EXPECT_EQ(window.labels.count(Label::none), 120 * 90);
    EXPECT_FALSE(window.undo_action->isEnabled());
    ASSERT_GE(window.recent_menu->actions().size(), 2);
    EXPECT_TRUE(window.recent_menu->actions().at(0)->text().endsWith(QStringLiteral("other.png")));
}
