// The main window: its widget tree and connections, the draw-mode and brush slots, opening and
// clearing pictures, collecting seeds, COMPUTE with its result views, and saving.
#include "window.h"

#include "compute_job.h"

#include <canvas/gview.h>
#include <flowgraph/console.h>
#include <imaging/image_io.h>
#include <imaging/labels.h>
#include <imaging/output_files.h>
#include <imaging/result_images.h>

#include <QAction>
#include <QActionGroup>
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
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>
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

const QString save_directory_key = QStringLiteral("save_directory");
const QString live_key = QStringLiteral("live");
const QString solver_key = QStringLiteral("solver");

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
    // The button reads "Cancel" while a COMPUTE runs, and then stops it.
    connect(compute_button, &QPushButton::clicked, this, [this] {
        if (compute_job->computing())
            compute_job->cancel();
        else
            compute_event();
    });

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
    open_strokes_action = new QAction(tr("Open S&trokes..."), this);
    open_strokes_action->setStatusTip(tr("Read the strokes from a PNG file"));
    connect(open_strokes_action, &QAction::triggered, this, &Window::open_strokes);
    save_strokes_action = new QAction(tr("Save St&rokes..."), this);
    save_strokes_action->setStatusTip(tr("Write the strokes as a PNG file"));
    connect(save_strokes_action, &QAction::triggered, this, &Window::save_strokes);
    file_menu->addAction(open_strokes_action);
    file_menu->addAction(save_strokes_action);
    file_menu->addSeparator();
    file_menu->addAction(quit_action);

    connect(source_image, &GView::gview_addpoint_signal, this, &Window::gview_addpoint_slot);
    setup_painting();
    setup_views();
    compute_job = new ComputeJob(segmenter, this);
    build_compute_menu();

    // The max-flow solver of COMPUTE, remembered between sessions; compute_event reads the
    // checked action.
    const QString remembered = settings().value(solver_key).toString();
    QMenu *solver_menu = menuBar()->addMenu(tr("S&olver"));
    auto *solver_group = new QActionGroup(this);
    for (const SolverChoice choice : {SolverChoice::fast, SolverChoice::reference}) {
        const QString name = QLatin1String(solver_name(choice));
        QAction *action = solver_menu->addAction(
            choice == SolverChoice::fast ? tr("&Fast (pixel grid)") : tr("&Reference"));
        action->setObjectName(QStringLiteral("solver_") + name);
        action->setCheckable(true);
        action->setChecked(remembered.isEmpty() ? choice == default_solver : remembered == name);
        solver_group->addAction(action);
        connect(action, &QAction::triggered, this,
                [name] { settings().setValue(solver_key, name); });
    }
    actions_group.add(new QToolButton(actions_group.box))->setDefaultAction(live_action);
    drop_results();

    setAcceptDrops(true);
}

Window::~Window()
{
    // The worker uses the engine, a member destroyed before the job (a child object) would be.
    compute_job->cancel_and_wait();
    // Children go after this class's part: their last signals (the undo stack emptying, the
    // tabs losing their pages) must not reach it.
    undo_stack->disconnect();
    tabs->disconnect(this);
}

void Window::build_compute_menu()
{
    compute_action = new QAction(tr("&Compute"), this);
    compute_action->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    compute_action->setStatusTip(tr("Segment the picture from the strokes"));
    connect(compute_action, &QAction::triggered, this, &Window::compute_event);
    cancel_action = new QAction(tr("C&ancel"), this);
    cancel_action->setShortcut(QKeySequence(Qt::Key_Escape));
    cancel_action->setStatusTip(tr("Stop the running computation"));
    connect(cancel_action, &QAction::triggered, this, [this] { compute_job->cancel(); });
    live_action = new QAction(tr("Live"), this);
    live_action->setCheckable(true);
    live_action->setChecked(settings().value(live_key, false).toBool());
    live_action->setStatusTip(tr("Compute whenever a stroke ends"));
    connect(live_action, &QAction::toggled, this,
            [](bool on) { settings().setValue(live_key, on); });
    QMenu *compute_menu = menuBar()->addMenu(tr("&Compute"));
    compute_menu->addAction(compute_action);
    compute_menu->addAction(cancel_action);
    compute_menu->addAction(live_action);

    connect(compute_job, &ComputeJob::started, this, &Window::update_compute_controls);
    connect(compute_job, &ComputeJob::progress, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(compute_job, &ComputeJob::finished, this, &Window::compute_finished);
    connect(compute_job, &ComputeJob::cancelled, this, &Window::compute_cancelled);
    update_compute_controls();
}

QString Window::ask_open_file_name()
{
    return QFileDialog::getOpenFileName(this, tr("Open a PNG file."), QString(),
                                        tr("All Files (*.png)"));
}

QString Window::ask_save_directory()
{
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Choose a directory to save to."),
                                             settings().value(save_directory_key).toString(),
                                             QFileDialog::ShowDirsOnly);
}

bool Window::ask_overwrite(const QStringList &names)
{
    const QString text =
        tr("These files exist already:\n%1\nReplace them?").arg(names.join(QLatin1Char('\n')));
    return QMessageBox::question(this, tr("Vellacut"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

QString Window::ask_strokes_file_to_open()
{
    return QFileDialog::getOpenFileName(this, tr("Open a strokes file."),
                                        settings().value(save_directory_key).toString(),
                                        tr("Strokes (*.png)"));
}

QString Window::ask_strokes_file_to_save()
{
    const QString start =
        QDir(settings().value(save_directory_key).toString())
            .filePath(QFileInfo(file_name).baseName() + QStringLiteral("_strokes.png"));
    return QFileDialog::getSaveFileName(this, tr("Save the strokes."), start,
                                        tr("Strokes (*.png)"));
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
    compute_job->cancel_and_wait();
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
    // The engine gets the new picture: whatever the worker does with the old one stops first.
    compute_job->cancel_and_wait();
    drop_results();
    file_name = fn;
    unpainted_image = std::move(loaded.image);
    tabs->setCurrentIndex(0);
    reset_labels();
    console_print("WxH: %d, %d\n", unpainted_image.width(), unpainted_image.height());
    copy_grey_levels(unpainted_image, segmenter);
    remember_recent(fn);
    clear_event();
    update_title();
    compute_job->warm_up();
}

void Window::clear_event()
{
    compute_job->cancel_and_wait();
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
    compute_job->cancel_and_wait();
    scan_seeds(labels, unpainted_image, segmenter, use_bbox);
}

void Window::compute_event()
{
    live_running = false;
    if (!has_image()) {
        console_print("No image is open: nothing to compute.\n");
        statusBar()->showMessage(tr("No picture is open: open one and paint strokes first."));
        return;
    }
    if (!parameters_usable())
        return;
    use_bbox = bbox_check->isChecked();
    ComputeRequest request;
    request.unpainted = unpainted_image;
    request.labels = labels;
    request.k = k_edit->text().toDouble();
    request.v = v_edit->text().toDouble();
    request.w = w_edit->text().toDouble();
    request.use_bbox = use_bbox;
    request.solver = findChild<QAction *>(QStringLiteral("solver_fast"))->isChecked()
        ? SolverChoice::fast
        : SolverChoice::reference;
    compute_job->start(std::move(request));
}

void Window::compute_finished(const ComputeOutcome &outcome)
{
    const bool live = std::exchange(live_running, false);
    update_compute_controls();
    if (outcome.result != ComputeResult::done) {
        const bool background = outcome.result == ComputeResult::too_few_background_seeds;
        const QString text = background
            ? tr("Too few Background seeds: press \"Background\" and paint at least two pixels "
                 "red before COMPUTE.")
            : tr("Too few Object seeds: press \"Object\" and paint at least two pixels green "
                 "before COMPUTE.");
        statusBar()->showMessage(text);
        show_warning(text);
        return;
    }
    const ResultImages &images = outcome.images;
    const QImage *const built[] = {&images.binary_mask, &images.segmented, &images.edge,
                                   &images.histo,       &images.prob,      &images.bg_segmented,
                                   &images.fg_segmented};
    GView *const views[] = {binarymask_image, segmented_image,    edge_image,        histo_image,
                            prob_image,       bg_segmented_image, fg_segmented_image};
    for (std::size_t n = 0; n < result_pixmaps.size(); ++n) {
        result_pixmaps[n] = QPixmap::fromImage(*built[n], Qt::AutoColor);
        views[n]->set_pixmap(&result_pixmaps[n]);
    }
    saved_mask = images.binary_mask;
    saved_object = images.fg_segmented;
    saved_background = images.bg_segmented;
    cut_mask = images.binary_mask;
    has_results = true;
    results_unsaved = true;
    save_action->setEnabled(true);
    rebuild_cut_overlay();
    update_title();
    // Live results wait on their tabs: the user is painting on the source canvas.
    if (!live)
        tabs->setCurrentIndex(1);
    statusBar()->showMessage(tr("Computed in %1 s").arg(compute_job->elapsed_seconds(), 0, 'f', 1));
}

void Window::compute_cancelled()
{
    live_running = false;
    console_print("Compute cancelled\n");
    update_compute_controls();
    statusBar()->showMessage(tr("Compute cancelled"));
}

void Window::update_compute_controls()
{
    const bool running = compute_job->computing();
    compute_button->setText(running ? QStringLiteral("Cancel") : QStringLiteral("COMPUTE"));
    cancel_action->setEnabled(running);
    // The busy cursor shows over the pictures only: the controls stay as usable as ever.
    if (running)
        tabs->setCursor(Qt::BusyCursor);
    else
        tabs->unsetCursor();
}

void Window::drop_results()
{
    for (QPixmap &pixmap : result_pixmaps)
        pixmap = QPixmap();
    for (GView *view : {binarymask_image, segmented_image, edge_image, histo_image, prob_image,
                        bg_segmented_image, fg_segmented_image})
        view->show_placeholder();
    saved_mask = QImage();
    saved_object = QImage();
    saved_background = QImage();
    cut_mask = QImage();
    has_results = false;
    results_unsaved = false;
    save_action->setEnabled(false);
    rebuild_cut_overlay();
}

void Window::live_compute()
{
    if (!live_action->isChecked() || !has_image())
        return;
    // Below two seeds of a class the engine would refuse; live mode waits for more strokes.
    if (labels.count(Label::background) < 2 || labels.count(Label::object) < 2)
        return;
    compute_event();
    live_running = true;
}

bool Window::open_strokes_file(const QString &path)
{
    if (!has_image()) {
        show_warning(tr("Open a picture before its strokes."));
        return false;
    }
    LoadedStrokes loaded = load_strokes(path);
    if (!loaded.ok()) {
        show_warning(
            tr("Cannot open \"%1\":\n%2").arg(QDir::toNativeSeparators(path), loaded.error));
        return false;
    }
    if (loaded.labels.width() != unpainted_image.width()
        || loaded.labels.height() != unpainted_image.height()) {
        show_warning(tr("The strokes in \"%1\" are %2 x %3 pixels, but the picture is %4 x %5: "
                        "nothing was changed.")
                         .arg(QDir::toNativeSeparators(path))
                         .arg(loaded.labels.width())
                         .arg(loaded.labels.height())
                         .arg(unpainted_image.width())
                         .arg(unpainted_image.height()));
        return false;
    }
    tabs->setCurrentIndex(0);
    replace_labels(tr("Open Strokes"), loaded.labels);
    statusBar()->showMessage(tr("Strokes read from %1").arg(QDir::toNativeSeparators(path)));
    return true;
}

void Window::open_strokes()
{
    const QString path = ask_strokes_file_to_open();
    if (!path.isEmpty())
        open_strokes_file(path);
}

void Window::save_strokes()
{
    if (!has_image()) {
        statusBar()->showMessage(tr("No picture is open: there are no strokes to save."));
        return;
    }
    const QString path = ask_strokes_file_to_save();
    if (path.isEmpty())
        return;
    const QString error = write_png(labels.to_strokes_image(), path);
    if (!error.isEmpty()) {
        show_warning(tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    settings().setValue(save_directory_key, QFileInfo(path).absolutePath());
    statusBar()->showMessage(tr("Strokes saved to %1").arg(QDir::toNativeSeparators(path)));
}

bool Window::parameters_usable()
{
    const char *problem = parameter_problem(w_edit->text().toDouble(), v_edit->text().toDouble(),
                                            k_edit->text().toDouble());
    if (problem == nullptr)
        return true;
    // Nothing is computed and the strokes stay, so the user can mend the field and go on.
    console_print("Cannot compute: %s\n", problem);
    show_warning(tr("Cannot compute: %1.").arg(QLatin1String(problem)));
    return false;
}

void Window::save()
{
    save_results();
}

bool Window::save_results()
{
    // Only results of the current picture are saved: never placeholders, never another
    // picture's results under this one's name.
    if (!has_results) {
        statusBar()->showMessage(tr("Nothing to save yet: COMPUTE first."));
        return false;
    }
    const QString directory = ask_save_directory();
    if (directory.isEmpty())
        return false;
    settings().setValue(save_directory_key, directory);
    const QString base = QFileInfo(file_name).baseName();

    struct Output
    {
        const char *suffix;
        const QImage *image;
    };
    const Output outputs[] = {{"_mask.png", &saved_mask},
                              {"_object.png", &saved_object},
                              {"_background.png", &saved_background}};
    QStringList existing;
    for (const Output &output : outputs) {
        const QString path = QDir(directory).filePath(base + QLatin1String(output.suffix));
        if (QFileInfo::exists(path))
            existing << QDir::toNativeSeparators(path);
    }
    if (!existing.isEmpty() && !ask_overwrite(existing))
        return false;
    console_print("fileName: %s\n", base.toLocal8Bit().constData());
    // The pictures as computed, so that the files equal what the command-line tool writes,
    // written together or not at all, so that an old set is never mixed with a new one.
    const QImage *const pictures[3] = {outputs[0].image, outputs[1].image, outputs[2].image};
    QStringList names;
    for (const Output &output : outputs)
        names << base + QLatin1String(output.suffix);
    const QString problem = write_png_set(directory, names, pictures);
    if (!problem.isEmpty()) {
        warn_save_failed(problem);
        return false;
    }
    // The saved cut was made from these strokes, so they count as saved with it.
    results_unsaved = false;
    undo_stack->setClean();
    update_title();
    return true;
}

void Window::warn_save_failed(const QString &problem)
{
    console_print("Could not write %s\n", local_text(problem).constData());
    show_warning(tr("Could not write the files; any files of the same names were kept as they "
                    "were.\n%1")
                     .arg(QDir::toNativeSeparators(problem)));
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
