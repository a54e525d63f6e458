// Window is the program's main window: the controls, the source canvas with the result tabs,
// the File menu, and the road from an opened picture through painted seeds to a saved cut.
#pragma once

#include <imaging/compute_run.h>
#include <imaging/label_edit.h>
#include <imaging/label_layer.h>
#include <segmentation/segmenter.h>

#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class ComputeJob;
class GView;
class MarkLayer;
class QAction;
class QCheckBox;
class QKeySequence;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;
class QSlider;
class QTabWidget;
class QUndoStack;
class QDragEnterEvent;
class QDropEvent;

// Owns the engine, the opened picture (kept unpainted in memory for seed grey levels and for
// clearing strokes), the shown and painted copy of it, the label layer that records the strokes,
// and the seven result pixmaps the result views point at. Every widget is a Qt child.
//
// The label layer is the one record of the strokes: the shown picture and the stroke marks over
// it are drawn from it and the unpainted picture, and every change to it goes through the undo
// stack as the tiles it altered.
//
// COMPUTE runs on the worker of compute_job; while it runs the worker alone uses `segmenter`,
// and the window asks the job to stop and waits before it changes the engine itself (opening,
// clearing, collecting seeds, closing). Results belong to the picture they were computed from:
// opening another picture drops them, and "Save files..." is enabled only while there are some.
//
// Dialogs and message boxes go through the virtual ask_/show_ functions so that tests can
// answer them without a modal loop.
class Window : public QMainWindow
{
    Q_OBJECT

public:
    Window();
    ~Window() override;

    bool use_bbox = true;
    Segmenter segmenter;
    QPixmap source_pixmap; // the opened picture as shown; strokes are painted into it
    QTabWidget *tabs = nullptr;
    GView *source_image = nullptr;
    GView *binarymask_image = nullptr;
    GView *segmented_image = nullptr;
    GView *fg_segmented_image = nullptr;
    GView *bg_segmented_image = nullptr;
    GView *edge_image = nullptr; // hidden, on no tab
    GView *histo_image = nullptr; // hidden, on no tab
    GView *prob_image = nullptr; // hidden, on no tab
    QString file_name;
    QAction *open_action = nullptr;
    QAction *save_action = nullptr;
    QAction *open_strokes_action = nullptr;
    QAction *save_strokes_action = nullptr;
    QAction *compute_action = nullptr; // Ctrl+Return: COMPUTE, stopping one that runs
    QAction *cancel_action = nullptr; // Esc: stops the running COMPUTE
    QAction *live_action = nullptr; // checkable: COMPUTE whenever a stroke ends
    QPushButton *background_button = nullptr;
    QPushButton *object_button = nullptr;
    QPushButton *clear_button = nullptr;
    QPushButton *compute_button = nullptr;
    QLineEdit *k_edit = nullptr;
    QLineEdit *v_edit = nullptr;
    QLineEdit *w_edit = nullptr;
    QLineEdit *brush_edit = nullptr;
    QCheckBox *bbox_check = nullptr;

    QImage unpainted_image; // the opened picture as read from its file; null until one opens
    LabelLayer labels; // the strokes on unpainted_image, same size
    // Result pixmaps in build order: mask, segmented, edge, histo, prob, background, object.
    // A result view points at its entry, which is replaced only when a new one is handed over.
    std::array<QPixmap, 7> result_pixmaps;

    // The source canvas's draw mode for erasing; 1 and 2 paint Background and Object.
    static constexpr int erase_mode = 3;
    // What the source canvas shows of the last result over the picture.
    enum class CutOverlay { off, tint, outline };

    QPushButton *eraser_button = nullptr;
    QUndoStack *undo_stack = nullptr; // label edits: strokes, Clear Labels, Open Strokes
    QAction *undo_action = nullptr;
    QAction *redo_action = nullptr;
    QAction *quit_action = nullptr;
    QMenu *recent_menu = nullptr;
    MarkLayer *stroke_marks = nullptr; // the strokes, above the cut overlay
    MarkLayer *cut_marks = nullptr; // the last result's Object region, tinted or outlined
    CutOverlay cut_overlay = CutOverlay::off;
    QPushButton *overlay_button = nullptr; // names the overlay mode and cycles it
    QSlider *overlay_slider = nullptr; // tint opacity, percent
    QLabel *pointer_label = nullptr; // status bar: pixel, grey level and label under the pointer
    QImage cut_mask; // binary mask of the last result; null until a COMPUTE succeeds
    bool results_unsaved = false; // a COMPUTE finished since the last save
    // The pictures "Save files..." writes, exactly as computed (mask, object, background); null
    // until a COMPUTE has finished on the current picture.
    QImage saved_mask;
    QImage saved_object;
    QImage saved_background;
    ComputeJob *compute_job = nullptr;

    // Reads a strokes picture into the label layer as one undoable step; refuses (with a
    // warning, changing nothing) one that cannot be read or whose size is not the picture's.
    // True when it was taken.
    bool open_strokes_file(const QString &path);

    // Replaces the whole label layer by `replacement` (same size as the picture) as one step
    // named `step` that undo reverts; nothing is recorded when no label changes.
    void replace_labels(const QString &step, const LabelLayer &replacement);
    // Sets the draw mode from a key or from code: -1 none, 1 Background, 2 Object, erase_mode.
    void set_draw_mode(int mode);
    // Grows (steps > 0) or shrinks the brush by about 20% a step, within 1 to 500.
    void step_brush(int steps);
    void set_cut_overlay(CutOverlay overlay);
    // Strokes or results that would be lost by closing or opening another picture.
    bool has_unsaved_work() const;

    enum class UnsavedAnswer { save, discard, cancel };

protected:
    // Asks what to do with unsaved work; `can_save` tells whether there are results to save.
    virtual UnsavedAnswer ask_unsaved_work(bool can_save);
    void closeEvent(QCloseEvent *event) override;

    // Asks for a picture to open; an empty answer means the user cancelled.
    virtual QString ask_open_file_name();
    // Asks for the directory to save into; an empty answer means the user cancelled.
    virtual QString ask_save_directory();
    // Shows a warning to the user.
    virtual void show_warning(const QString &text);
    // Asks whether to replace the existing files `names`; true for yes.
    virtual bool ask_overwrite(const QStringList &names);
    // Asks for a strokes picture to read, or a file name to write the strokes to; an empty
    // answer means the user cancelled.
    virtual QString ask_strokes_file_to_open();
    virtual QString ask_strokes_file_to_save();

private slots:
    void open();
    void open_file(QString fn);
    void save();
    void forgrdmode_event();
    void backgrdmode_event();
    void compute_event();
    void clear_event();
    void build_labels();
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void brush_slot(QString text);

public slots:
    // Declared after the private slots: the meta-object numbers slots in declaration order, and
    // this one comes last.
    void gview_addpoint_slot(int mode, int index, int value);

private:
    // True when the w, v and k fields can segment; otherwise warns and says false.
    bool parameters_usable();
    // Tells the user, on the console and in a warning, why the save wrote nothing.
    void warn_save_failed(const QString &problem);
    bool has_image() const { return !unpainted_image.isNull(); }
    // The user's choices that outlive a session: recent files, the last save folder, live mode.
    static QSettings settings();

    // COMPUTE on the worker (window.cpp).
    void build_compute_menu();
    void compute_finished(const ComputeOutcome &outcome);
    void compute_cancelled();
    // Button text, actions and cursor as a COMPUTE runs or not.
    void update_compute_controls();
    // Back to the placeholders: no results, nothing to save.
    void drop_results();
    // In live mode, COMPUTE once both classes have their two seeds.
    void live_compute();
    void open_strokes();
    void save_strokes();
    // A window-wide shortcut; single keys stay with a field that is being typed into.
    void add_key(const QKeySequence &keys, std::function<void()> action);

    // Painting (window_paint.cpp).
    void setup_painting();
    void mode_button_clicked(QPushButton *button, int mode);
    void paint_segment(QPointF from, QPointF to, int width, int mode);
    void finish_stroke();
    void apply_label_edit(const LabelEdit &edit, bool after);
    void push_label_edit(const QString &step, LabelEdit edit);
    // Redraws the shown picture and the stroke marks within `pixels` from the labels.
    void refresh_shown(const QRect &pixels);
    // A fresh, empty label layer for the open picture, with no undo history.
    void reset_labels();
    void show_pointer(QPointF position);
    void rebuild_cut_overlay();

    // Views (window_views.cpp).
    void setup_views();
    void follow_tab(int index);
    GView *shown_view() const;

    // Unsaved work and recent files (unsaved_work.cpp).
    // Adds Open Recent to `file_menu` and makes the Quit action.
    void setup_file_extras(QMenu *file_menu);
    void update_title();
    // True when there is nothing to lose or the user chose to save or discard it.
    bool confirm_unsaved_work();
    bool save_results();
    void remember_recent(const QString &path);
    void fill_recent_menu();

    std::unique_ptr<LabelEditRecorder> stroke_recorder; // open while a stroke is painted
    int stroke_mode = -1;
    GView *followed_view = nullptr; // the view whose place the next shown tab takes
    bool has_results = false;
    bool live_running = false; // the running COMPUTE was started by live mode
};
