// Window is the program's main window: the controls, the source canvas with the result tabs,
// the File menu, and the road from an opened picture through painted seeds to a saved cut.
#pragma once

#include <imaging/label_layer.h>
#include <segmentation/segmenter.h>

#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QString>

#include <array>

class GView;
class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QDragEnterEvent;
class QDropEvent;

// Owns the engine, the opened picture (kept unpainted in memory for seed grey levels and for
// clearing strokes), the shown and painted copy of it, the label layer that records the strokes,
// and the seven result pixmaps the result views point at. Every widget is a Qt child.
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

protected:
    // Asks for a picture to open; an empty answer means the user cancelled.
    virtual QString ask_open_file_name();
    // Asks for the directory to save into; an empty answer means the user cancelled.
    virtual QString ask_save_directory();
    // Shows a warning to the user.
    virtual void show_warning(const QString &text);

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
    void record_disc(QPointF centre, int width, int mode);
    void zoom_current(void (GView::*step)());
    // True when the w, v and k fields can segment; otherwise warns and says false.
    bool parameters_usable();
    // Tells the user, on the console and in a warning, why the save wrote nothing.
    void warn_save_failed(const QString &problem);
    bool has_image() const { return !unpainted_image.isNull(); }
};
