// The main window: its widget tree and connections, the draw-mode and brush slots, opening and
// clearing pictures, collecting seeds, COMPUTE with its result views, and saving.
#include "window.h"

#include <canvas/gview.h>
#include <flowgraph/console.h>
#include <imaging/image_io.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDir>
#include <QDoubleValidator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QUndoStack>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// A group of controls: a titled frame (or a bare container when untitled) whose children are
// placed left to right in a grid of `strips` columns, in the order they are added.
class StripGroup
{
public:
    StripGroup(int columns, const QString &title, QWidget *parent)
        : strips(columns)
    {
        if (title.isEmpty()) {
            box = new QWidget(parent);
            grid = new QGridLayout(box);
            grid->setContentsMargins(0, 0, 0, 0);
            grid->setSpacing(5);
        } else {
            box = new QGroupBox(title, parent);
            grid = new QGridLayout(box);
        }
    }

    template<class Child>
    Child *add(Child *child)
    {
        grid->addWidget(child, count / strips, count % strips);
        ++count;
        return child;
    }

    QWidget *box = nullptr;

private:
    QGridLayout *grid = nullptr;
    int strips = 1;
    int count = 0;
};

// Brush width from the brush field's text: its number truncated toward zero, 0 for text that is
// no number or a number beyond the int range (which a pen could not take anyway).
int brush_width_from(const QString &text)
{
    const double value = text.toDouble();
    if (!(value > -1.0 && value < static_cast<double>(std::numeric_limits<int>::max())))
        return 0;
    return static_cast<int>(value);
}

QByteArray local_text(const QString &text)
{
    return QDir::toNativeSeparators(text).toLocal8Bit();
}

} // namespace

Window::Window()
{
    setWindowTitle(tr("Vellacut"));
    // The brush keys reach 500, so the field takes that much too.
    auto *brush_validator = new QDoubleValidator(1.0, 500.0, 4, this);

    auto *central = new QWidget(this);
    auto *layout = new QBoxLayout(QBoxLayout::TopToBottom);

    StripGroup first_row(6, QString(), central);
    StripGroup draw_mode_group(3, QStringLiteral("Draw Mode:"), first_row.box);
    first_row.add(draw_mode_group.box);
    background_button =
        draw_mode_group.add(new QPushButton(QStringLiteral("Background"), draw_mode_group.box));
    background_button->setCheckable(true);
    // Fixed slot names, crossed: forgrdmode_event serves Background, backgrdmode_event Object.
    connect(background_button, &QPushButton::clicked, this, &Window::forgrdmode_event);
    object_button =
        draw_mode_group.add(new QPushButton(QStringLiteral("Object"), draw_mode_group.box));
    object_button->setCheckable(true);
    connect(object_button, &QPushButton::clicked, this, &Window::backgrdmode_event);
    eraser_button =
        draw_mode_group.add(new QPushButton(QStringLiteral("Eraser"), draw_mode_group.box));
    StripGroup brush_group(6, QStringLiteral("Brush Size:"), first_row.box);
    first_row.add(brush_group.box);
    brush_edit = brush_group.add(new QLineEdit(QStringLiteral("5.0"), brush_group.box));
    brush_edit->setValidator(brush_validator);
    connect(brush_edit, &QLineEdit::textChanged, this, &Window::brush_slot);
    StripGroup overlay_group(2, QStringLiteral("Cut on Photo:"), first_row.box);
    first_row.add(overlay_group.box);
    overlay_button = overlay_group.add(new QPushButton(QStringLiteral("Off"), overlay_group.box));
    overlay_button->setToolTip(tr("Show the last cut over the picture: off, tint or outline (O)"));
    overlay_slider = overlay_group.add(new QSlider(Qt::Horizontal, overlay_group.box));
    overlay_slider->setToolTip(tr("Opacity of the tint"));

    StripGroup second_row(8, QString(), central);
    StripGroup parameter_group(8, QStringLiteral("Algorithm Parameters:"), second_row.box);
    second_row.add(parameter_group.box);
    parameter_group.add(new QLabel(QStringLiteral("w: "), parameter_group.box));
    w_edit = parameter_group.add(new QLineEdit(QStringLiteral("1.0"), parameter_group.box));
    parameter_group.add(new QLabel(QStringLiteral("v: "), parameter_group.box));
    v_edit = parameter_group.add(new QLineEdit(QStringLiteral("0.45"), parameter_group.box));
    parameter_group.add(new QLabel(QStringLiteral("k: "), parameter_group.box));
    k_edit = parameter_group.add(new QLineEdit(QStringLiteral("1000.0"), parameter_group.box));
    parameter_group.add(new QLabel(QStringLiteral("BoundingBox Optim.: "), parameter_group.box));
    bbox_check = parameter_group.add(new QCheckBox(parameter_group.box));
    bbox_check->setChecked(true);
    use_bbox = true;
    StripGroup actions_group(6, QStringLiteral("Actions:"), second_row.box);
    second_row.add(actions_group.box);
    clear_button =
        actions_group.add(new QPushButton(QStringLiteral("Clear Labels"), actions_group.box));
    connect(clear_button, &QPushButton::clicked, this, &Window::clear_event);
    compute_button =
        actions_group.add(new QPushButton(QStringLiteral("COMPUTE"), actions_group.box));
    connect(compute_button, &QPushButton::clicked, this, &Window::compute_event);

    tabs = new QTabWidget(this);
    source_image = new GView(this, "source_image");
    binarymask_image = new GView(this, "binarymask_image");
    segmented_image = new GView(this, "segmented_image");
    edge_image = new GView(this, "edge_image");
    histo_image = new GView(this, "histo_image");
    prob_image = new GView(this, "prob_image");
    fg_segmented_image = new GView(this, "fg_segmented_image");
    bg_segmented_image = new GView(this, "bg_segmented_image");
    edge_image->hide();
    histo_image->hide();
    prob_image->hide();
    tabs->addTab(source_image, QStringLiteral("Source Image"));
    tabs->addTab(segmented_image, QStringLiteral("Segmented"));
    tabs->addTab(fg_segmented_image, QStringLiteral("Object"));
    tabs->addTab(bg_segmented_image, QStringLiteral("Background"));
    tabs->addTab(binarymask_image, QStringLiteral("Binary Mask"));
    tabs->adjustSize();

    layout->addWidget(first_row.box, 1);
    layout->addWidget(second_row.box, 1);
    layout->addWidget(tabs, 10);
    central->setLayout(layout);
    setCentralWidget(central);

    open_action = new QAction(QIcon(QStringLiteral(":/icons/open.png")), tr("&Open file..."), this);
    open_action->setShortcut(QKeySequence(tr("Ctrl+O")));
    open_action->setStatusTip(tr("Open a PNG file"));
    connect(open_action, &QAction::triggered, this, &Window::open);
    save_action =
        new QAction(QIcon(QStringLiteral(":/icons/save.png")), tr("&Save files..."), this);
    save_action->setShortcut(QKeySequence(tr("Ctrl+S")));
    save_action->setStatusTip(tr("Save the PNG files"));
    connect(save_action, &QAction::triggered, this, &Window::save);
    QMenu *file_menu = menuBar()->addMenu(tr("&File"));
    file_menu->addAction(open_action);
    setup_file_extras(file_menu);
    file_menu->addAction(save_action);
    file_menu->addSeparator();
    file_menu->addAction(quit_action);

    connect(source_image, &GView::gview_addpoint_signal, this, &Window::gview_addpoint_slot);
    setup_painting();
    setup_views();

    setAcceptDrops(true);
}

Window::~Window()
{
    // Children go after this class's part: their last signals (the undo stack emptying, the
    // tabs losing their pages) must not reach it.
    undo_stack->disconnect();
    tabs->disconnect(this);
}

QString Window::ask_open_file_name()
{
    return QFileDialog::getOpenFileName(this, tr("Open a PNG file."), QString(),
                                        tr("All Files (*.png)"));
}

QString Window::ask_save_directory()
{
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Choose a directory to save to."),
                                             QString(), QFileDialog::ShowDirsOnly);
}

void Window::show_warning(const QString &text)
{
    QMessageBox::warning(this, tr("Vellacut"), text);
}

void Window::forgrdmode_event()
{
    mode_button_clicked(background_button, 1);
}

void Window::backgrdmode_event()
{
    mode_button_clicked(object_button, 2);
}

void Window::brush_slot(QString text)
{
    source_image->brush_width = brush_width_from(text);
}

void Window::gview_addpoint_slot(int mode, int index, int value)
{
    const double grey = value;
    if (mode == 1)
        segmenter.add_background_seed(index, grey);
    else
        segmenter.add_object_seed(index, grey);
}

void Window::open()
{
    const QString name = ask_open_file_name();
    // A cancelled dialog keeps the current picture and its strokes.
    if (name.isEmpty())
        return;
    open_file(name);
}

void Window::open_file(QString fn)
{
    LoadedImage loaded = load_image(fn);
    if (!loaded.ok()) {
        // The current picture and its strokes stay: a bad file must not cost the user's work.
        console_print("Cannot open %s: %s\n", local_text(fn).constData(),
                      loaded.error.toLocal8Bit().constData());
        show_warning(tr("Cannot open \"%1\":\n%2").arg(QDir::toNativeSeparators(fn), loaded.error));
        return;
    }
    // The picture is good; only now may the current work go, and only if the user agrees.
    if (!confirm_unsaved_work())
        return;
    file_name = fn;
    unpainted_image = std::move(loaded.image);
    tabs->setCurrentIndex(0);
    reset_labels();
    console_print("WxH: %d, %d\n", unpainted_image.width(), unpainted_image.height());
    copy_grey_levels(unpainted_image, segmenter);
    // The last cut belongs to the previous picture.
    cut_mask = QImage();
    has_results = false;
    results_unsaved = false;
    rebuild_cut_overlay();
    remember_recent(fn);
    clear_event();
    update_title();
}

void Window::clear_event()
{
    tabs->setCurrentIndex(0);
    if (has_image()) {
        // The strokes go as one step that undo brings back.
        replace_labels(tr("Clear Labels"), LabelLayer(labels.width(), labels.height()));
    } else {
        source_image->show_placeholder();
    }
    segmenter.clear_seeds();
}

void Window::build_labels()
{
    use_bbox = bbox_check->isChecked();
    if (!has_image()) {
        console_print("No image is open: there are no labels to build.\n");
        return;
    }
    scan_seeds(labels, unpainted_image, segmenter, use_bbox);
}

void Window::compute_event()
{
    if (!has_image()) {
        console_print("No image is open: nothing to compute.\n");
        return;
    }
    segmenter.k = k_edit->text().toDouble();
    segmenter.v = v_edit->text().toDouble();
    segmenter.w = w_edit->text().toDouble();
    build_labels();

    const ComputeResult result = segmenter.compute();
    if (result != ComputeResult::done) {
        segmenter.delete_graph();
        const bool background = result == ComputeResult::too_few_background_seeds;
        show_warning(background ? tr("Too few Background seeds: press \"Background\" and paint at "
                                     "least two pixels red before COMPUTE.")
                                : tr("Too few Object seeds: press \"Object\" and paint at least "
                                     "two pixels green before COMPUTE."));
        return;
    }

    console_print("WxH: %d, %d\n", segmenter.width, segmenter.height);
    const ResultImages images = make_result_images(segmenter);
    const QImage *const built[] = {&images.binary_mask, &images.segmented, &images.edge,
                                   &images.histo,       &images.prob,      &images.bg_segmented,
                                   &images.fg_segmented};
    GView *const views[] = {binarymask_image, segmented_image,    edge_image,        histo_image,
                            prob_image,       bg_segmented_image, fg_segmented_image};
    for (std::size_t n = 0; n < result_pixmaps.size(); ++n) {
        result_pixmaps[n] = QPixmap::fromImage(*built[n], Qt::AutoColor);
        views[n]->set_pixmap(&result_pixmaps[n]);
    }
    segmenter.delete_graph();
    cut_mask = images.binary_mask;
    has_results = true;
    results_unsaved = true;
    rebuild_cut_overlay();
    update_title();
    tabs->setCurrentIndex(1);
}

void Window::save()
{
    save_results();
}

bool Window::save_results()
{
    const QString directory = ask_save_directory();
    if (directory.isEmpty())
        return false;
    const QString base = QFileInfo(file_name).baseName();
    console_print("fileName: %s\n", base.toLocal8Bit().constData());

    struct Output
    {
        const char *suffix;
        GView *view;
    };
    const Output outputs[] = {{"_mask.png", binarymask_image},
                              {"_object.png", fg_segmented_image},
                              {"_background.png", bg_segmented_image}};
    // Encoded side by side on the cores by the same encoder as the command-line tool's files,
    // the mask (flat, quick) last.
    QImage images[3];
    const QImage *pictures[3] = {};
    for (std::size_t n = 0; n < 3; ++n) {
        images[n] = outputs[2 - n].view->pixmap->toImage();
        pictures[n] = &images[n];
    }
    std::vector<QByteArray> files = encode_pngs(pictures);
    std::reverse(files.begin(), files.end());
    QStringList failures;
    for (std::size_t n = 0; n < 3; ++n) {
        const QString path = QDir(directory).filePath(base + QLatin1String(outputs[n].suffix));
        const QString error = write_png_bytes(files[n], path);
        if (error.isEmpty())
            continue;
        console_print("Could not write %s: %s\n", local_text(path).constData(),
                      error.toLocal8Bit().constData());
        failures << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error);
    }
    if (!failures.isEmpty()) {
        show_warning(tr("Could not write:\n%1").arg(failures.join(QLatin1Char('\n'))));
        return false;
    }
    // The saved cut was made from these strokes, so they count as saved with it.
    results_unsaved = false;
    undo_stack->setClean();
    update_title();
    return true;
}

void Window::dragEnterEvent(QDragEnterEvent *event)
{
    event->acceptProposedAction();
}

void Window::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (mime != nullptr && mime->hasUrls()) {
        const QList<QUrl> urls = mime->urls();
        if (!urls.isEmpty()) {
            const QUrl &url = urls.first();
            if (url.isLocalFile())
                open_file(url.toLocalFile());
            else
                show_warning(tr("Only local files can be opened: %1").arg(url.toDisplayString()));
        }
    }
    update();
}
