// Window is the program's main window: the controls, the source canvas with the result tabs,
// the File menu, and the road from an opened picture through painted seeds to a saved cut.
#pragma once

#include <imaging/compute_run.h>
#include <imaging/label_layer.h>
#include <segmentation/segmenter.h>

#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <array>

class ComputeJob;
class GView;
class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;

// Owns the engine, the opened picture (kept unpainted in memory for seed grey levels and for
// clearing strokes), the shown and painted copy of it, the label layer that records the strokes,
// and the seven result pixmaps the result views point at. Every widget is a Qt child.
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
    // The pictures "Save files..." writes, exactly as computed (mask, object, background); null
    // until a COMPUTE has finished on the current picture.
    QImage saved_mask;
    QImage saved_object;
    QImage saved_background;
    ComputeJob *compute_job = nullptr;

    bool has_results() const { return !saved_mask.isNull(); }
    // Replaces the strokes by those of a strokes picture of the current picture's size (pure
    // red Background, pure green Object, anything else none) and shows them on the canvas.
    void replace_labels(const QImage &strokes);
    // Reads a strokes picture into the label layer; refuses (with a warning, changing nothing)
    // one that cannot be read or whose size is not the picture's. True when it was taken.
    bool open_strokes_file(const QString &path);

protected:
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

    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

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
    void record_disc(QPointF centre, int width, int mode);
    void zoom_current(void (GView::*step)());
    bool has_image() const { return !unpainted_image.isNull(); }

    bool live_running = false; // the running COMPUTE was started by live mode
};
