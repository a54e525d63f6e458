// The window's painting: draw modes and their keys, the brush size keys, strokes and the eraser
// on the label layer, undo and redo of label edits, the cut overlay, and the pointer readout.
#include "window.h"

#include "compute_job.h"

#include <canvas/gview.h>
#include <canvas/mark_layer.h>

#include <QAction>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr int min_brush = 1;
constexpr int max_brush = 500;
constexpr QRgb background_colour = 0xffff0000; // pure red, as Background strokes are painted
constexpr QRgb object_colour = 0xff00ff00; // pure green
constexpr QRgb outline_colour = 0xffffff00;
constexpr QRgb tint_colour = 0xff1e90ff;

// One label edit on the undo stack. The change is already made when the command is pushed, so
// its first redo does nothing.
class LabelEditCommand : public QUndoCommand
{
public:
    using Apply = std::function<void(const LabelEdit &edit, bool after)>;

    LabelEditCommand(const QString &step, LabelEdit recorded, Apply apply_edit)
        : QUndoCommand(step)
        , edit(std::move(recorded))
        , apply(std::move(apply_edit))
    {
    }

    void undo() override { apply(edit, false); }
    void redo() override
    {
        if (pushed)
            apply(edit, true);
        pushed = true;
    }

private:
    LabelEdit edit;
    Apply apply;
    bool pushed = false;
};

QString stroke_step(int mode)
{
    if (mode == Window::erase_mode)
        return QObject::tr("Erase stroke");
    return mode == 1 ? QObject::tr("Background stroke") : QObject::tr("Object stroke");
}

Label stroke_label(int mode)
{
    if (mode == Window::erase_mode)
        return Label::none;
    return mode == 1 ? Label::background : Label::object;
}

} // namespace

void Window::setup_painting()
{
    undo_stack = new QUndoStack(this);
    // Far more than the hundred steps users expect; the edits keep only changed tiles.
    undo_stack->setUndoLimit(500);
    // Own actions rather than the stack's, so a stroke still being painted is finished first.
    undo_action = new QAction(tr("Undo"), this);
    undo_action->setShortcut(QKeySequence::Undo);
    undo_action->setEnabled(false);
    connect(undo_action, &QAction::triggered, this, [this] {
        finish_stroke();
        undo_stack->undo();
    });
    redo_action = new QAction(tr("Redo"), this);
    redo_action->setShortcuts({QKeySequence(tr("Ctrl+Shift+Z")), QKeySequence(tr("Ctrl+Y"))});
    redo_action->setEnabled(false);
    connect(redo_action, &QAction::triggered, this, [this] {
        finish_stroke();
        undo_stack->redo();
    });
    connect(undo_stack, &QUndoStack::canUndoChanged, undo_action, &QAction::setEnabled);
    connect(undo_stack, &QUndoStack::canRedoChanged, redo_action, &QAction::setEnabled);
    connect(undo_stack, &QUndoStack::undoTextChanged, this, [this](const QString &step) {
        undo_action->setText(step.isEmpty() ? tr("Undo") : tr("Undo %1").arg(step));
    });
    connect(undo_stack, &QUndoStack::redoTextChanged, this, [this](const QString &step) {
        redo_action->setText(step.isEmpty() ? tr("Redo") : tr("Redo %1").arg(step));
    });
    connect(undo_stack, &QUndoStack::cleanChanged, this, [this] { update_title(); });
    QMenu *edit_menu = menuBar()->addMenu(tr("&Edit"));
    edit_menu->addAction(undo_action);
    edit_menu->addAction(redo_action);

    eraser_button->setCheckable(true);
    connect(eraser_button, &QPushButton::clicked, this,
            [this] { mode_button_clicked(eraser_button, erase_mode); });

    add_key(QKeySequence(Qt::Key_B), [this] { set_draw_mode(1); });
    add_key(QKeySequence(Qt::Key_F), [this] { set_draw_mode(2); });
    add_key(QKeySequence(Qt::Key_E), [this] { set_draw_mode(erase_mode); });
    add_key(QKeySequence(Qt::Key_BracketLeft), [this] { step_brush(-1); });
    add_key(QKeySequence(Qt::Key_BracketRight), [this] { step_brush(1); });
    add_key(QKeySequence(Qt::Key_O), [this] {
        set_cut_overlay(static_cast<CutOverlay>((static_cast<int>(cut_overlay) + 1) % 3));
    });

    cut_marks = new MarkLayer;
    cut_marks->setZValue(1);
    cut_marks->setVisible(false);
    source_image->scene->addItem(cut_marks);
    stroke_marks = new MarkLayer;
    stroke_marks->setZValue(2);
    source_image->scene->addItem(stroke_marks);
    connect(overlay_button, &QPushButton::clicked, this, [this] {
        set_cut_overlay(static_cast<CutOverlay>((static_cast<int>(cut_overlay) + 1) % 3));
    });
    overlay_slider->setRange(0, 100);
    overlay_slider->setValue(50);
    connect(overlay_slider, &QSlider::valueChanged, this, [this](int percent) {
        if (cut_overlay == CutOverlay::tint)
            cut_marks->setOpacity(percent / 100.0);
    });

    source_image->set_brush_outline(true);
    source_image->segment_painter = [this](QPointF from, QPointF to, int width, int mode) {
        paint_segment(from, to, width, mode);
    };
    source_image->stroke_finished = [this] {
        finish_stroke();
        live_compute();
    };
    source_image->paint_refused = [this] {
        statusBar()->showMessage(tr("Choose Background (B) or Object (F) to paint"), 5000);
    };
    source_image->brush_wheel = [this](int steps) { step_brush(steps); };
    source_image->pointer_moved = [this](QPointF position) { show_pointer(position); };
    source_image->pointer_left = [this] { pointer_label->clear(); };
    pointer_label = new QLabel(this);
    statusBar()->addPermanentWidget(pointer_label);
}

void Window::add_key(const QKeySequence &keys, std::function<void()> action)
{
    auto *shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, std::move(action));
}

void Window::mode_button_clicked(QPushButton *button, int mode)
{
    // The click has toggled the button already: checked selects its mode, unchecked none.
    set_draw_mode(button->isChecked() ? mode : -1);
}

void Window::set_draw_mode(int mode)
{
    finish_stroke();
    source_image->draw_mode = mode;
    background_button->setChecked(mode == 1);
    object_button->setChecked(mode == 2);
    eraser_button->setChecked(mode == erase_mode);
    source_image->viewport()->update();
}

void Window::step_brush(int steps)
{
    int width = std::clamp(source_image->brush_width, min_brush, max_brush);
    for (; steps > 0; --steps)
        width =
            std::min(max_brush, std::max(width + 1, static_cast<int>(std::lround(width * 1.2))));
    for (; steps < 0; ++steps)
        width =
            std::max(min_brush, std::min(width - 1, static_cast<int>(std::lround(width / 1.2))));
    // The field's text drives the brush, so it always shows the size in use.
    brush_edit->setText(QString::number(width));
}

void Window::paint_segment(QPointF from, QPointF to, int width, int mode)
{
    // Strokes on the placeholder (no picture open) belong to no picture: they stay paint.
    if (!has_image() || source_image->pixmap != &source_pixmap) {
        if (mode != erase_mode)
            source_image->paint_into_pixmap(from, to, width, mode);
        return;
    }
    if (stroke_recorder && stroke_mode != mode)
        finish_stroke();
    if (!stroke_recorder) {
        // A new stroke makes a running live COMPUTE stale; its end starts the next one.
        if (live_running)
            compute_job->cancel();
        stroke_recorder = std::make_unique<LabelEditRecorder>(labels);
        stroke_mode = mode;
    }
    stroke_recorder->touch(LabelLayer::segment_bounds(from, to, width));
    const QRect changed = labels.paint_segment(from, to, width, stroke_label(mode));
    refresh_shown(changed);
}

void Window::finish_stroke()
{
    if (!stroke_recorder)
        return;
    LabelEdit edit = stroke_recorder->finish();
    stroke_recorder.reset();
    push_label_edit(stroke_step(stroke_mode), std::move(edit));
}

void Window::push_label_edit(const QString &step, LabelEdit edit)
{
    if (edit.is_empty())
        return;
    undo_stack->push(
        new LabelEditCommand(step, std::move(edit), [this](const LabelEdit &e, bool after) {
            apply_label_edit(e, after);
        }));
}

void Window::apply_label_edit(const LabelEdit &edit, bool after)
{
    if (after)
        edit.restore_after(labels);
    else
        edit.restore_before(labels);
    refresh_shown(edit.bounds());
}

void Window::replace_labels(const QString &step, const LabelLayer &replacement)
{
    finish_stroke();
    if (!has_image() || replacement.width() != labels.width()
        || replacement.height() != labels.height())
        return;
    LabelEditRecorder recorder(labels);
    recorder.touch(labels.rect());
    for (int y = 0; y < labels.height(); ++y)
        std::copy_n(replacement.row(y), labels.width(), labels.row(y));
    LabelEdit edit = recorder.finish();
    refresh_shown(edit.bounds());
    push_label_edit(step, std::move(edit));
}

void Window::reset_labels()
{
    stroke_recorder.reset();
    undo_stack->clear();
    undo_stack->setClean();
    labels = LabelLayer(unpainted_image.width(), unpainted_image.height());
    stroke_marks->reset(unpainted_image.size());
    source_pixmap.convertFromImage(unpainted_image, Qt::AutoColor);
    source_image->set_pixmap(&source_pixmap);
}

void Window::refresh_shown(const QRect &pixels)
{
    const QRect area = pixels.intersected(labels.rect());
    if (area.isEmpty() || !has_image())
        return;
    QImage patch = unpainted_image.copy(area).convertToFormat(QImage::Format_RGB32);
    QImage &marks = stroke_marks->image();
    for (int y = 0; y < area.height(); ++y) {
        const std::uint8_t *label = labels.row(area.top() + y) + area.left();
        auto *shown = reinterpret_cast<QRgb *>(patch.scanLine(y));
        auto *mark = reinterpret_cast<QRgb *>(marks.scanLine(area.top() + y)) + area.left();
        for (int x = 0; x < area.width(); ++x) {
            const auto value = static_cast<Label>(label[x]);
            const QRgb colour = value == Label::background ? background_colour
                : value == Label::object                   ? object_colour
                                                           : 0;
            mark[x] = colour;
            if (colour != 0)
                shown[x] = colour;
        }
    }
    QPainter painter(&source_pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area.topLeft(), patch);
    painter.end();
    source_image->refresh(area);
    stroke_marks->changed(area);
}

void Window::show_pointer(QPointF position)
{
    const int x = static_cast<int>(std::floor(position.x()));
    const int y = static_cast<int>(std::floor(position.y()));
    if (!has_image() || !unpainted_image.rect().contains(x, y)) {
        pointer_label->clear();
        return;
    }
    const Label label = labels.at(x, y);
    const QString name = label == Label::background ? tr("Background")
        : label == Label::object                    ? tr("Object")
                                                    : tr("none");
    pointer_label->setText(tr("(%1, %2)  grey: %3  label: %4")
                               .arg(x)
                               .arg(y)
                               .arg(qGray(unpainted_image.pixel(x, y)))
                               .arg(name));
}

void Window::set_cut_overlay(CutOverlay overlay)
{
    cut_overlay = overlay;
    static const char *const names[] = {"Off", "Tint", "Outline"};
    overlay_button->setText(tr(names[static_cast<int>(overlay)]));
    rebuild_cut_overlay();
}

void Window::rebuild_cut_overlay()
{
    const bool shown = cut_overlay != CutOverlay::off && !cut_mask.isNull()
        && cut_mask.size() == unpainted_image.size();
    cut_marks->setVisible(shown);
    if (!shown)
        return;
    cut_marks->reset(cut_mask.size());
    cut_marks->keep_thin_marks = cut_overlay == CutOverlay::outline;
    cut_marks->setOpacity(cut_overlay == CutOverlay::tint ? overlay_slider->value() / 100.0 : 1.0);
    const QImage mask = cut_mask.convertToFormat(QImage::Format_Grayscale8);
    const int width = mask.width();
    const int height = mask.height();
    QImage &marks = cut_marks->image();
    const auto object = [&](int x, int y) { return mask.constScanLine(y)[x] != 0; };
    for (int y = 0; y < height; ++y) {
        auto *out = reinterpret_cast<QRgb *>(marks.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (!object(x, y))
                continue;
            if (cut_overlay == CutOverlay::tint) {
                out[x] = tint_colour;
                continue;
            }
            // The outline: Object pixels with a Background neighbour.
            const bool edge = (x > 0 && !object(x - 1, y)) || (x + 1 < width && !object(x + 1, y))
                || (y > 0 && !object(x, y - 1)) || (y + 1 < height && !object(x, y + 1));
            if (edge)
                out[x] = outline_colour;
        }
    }
    cut_marks->changed(marks.rect());
}
