// The main window: its widget tree and connections, the draw-mode and brush slots, opening and
// clearing pictures, collecting seeds, COMPUTE with its result views, and saving.
#include "window.h"

#include <canvas/gview.h>
#include <imaging/console.h>
#include <imaging/image_io.h>
#include <imaging/labels.h>
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
#include <QTabWidget>
#include <QUrl>

#include <cmath>
#include <initializer_list>
#include <limits>

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
    auto *brush_validator = new QDoubleValidator(1.0, 128.0, 4, this);

    auto *central = new QWidget(this);
    auto *layout = new QBoxLayout(QBoxLayout::TopToBottom);

    StripGroup first_row(6, QString(), central);
    StripGroup draw_mode_group(2, QStringLiteral("Draw Mode:"), first_row.box);
    first_row.add(draw_mode_group.box);
    background_button =
        draw_mode_group.add(new QPushButton(QStringLiteral("Background"), draw_mode_group.box));
    background_button->setCheckable(true);
    connect(background_button, &QPushButton::clicked, this, &Window::forgrdmode_event);
    object_button =
        draw_mode_group.add(new QPushButton(QStringLiteral("Object"), draw_mode_group.box));
    object_button->setCheckable(true);
    connect(object_button, &QPushButton::clicked, this, &Window::backgrdmode_event);
    StripGroup brush_group(6, QStringLiteral("Brush Size:"), first_row.box);
    first_row.add(brush_group.box);
    brush_edit = brush_group.add(new QLineEdit(QStringLiteral("5.0"), brush_group.box));
    brush_edit->setValidator(brush_validator);
    connect(brush_edit, &QLineEdit::textChanged, this, &Window::brush_slot);

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
    file_menu->addAction(save_action);

    // The max-flow solver of COMPUTE, remembered between sessions.
    QSettings settings(QStringLiteral("Vellacut"), QStringLiteral("Vellacut"));
    parse_solver_name(settings.value(QStringLiteral("solver")).toString().toLatin1().constData(),
                      segmenter.solver);
    QMenu *solver_menu = menuBar()->addMenu(tr("S&olver"));
    auto *solver_group = new QActionGroup(this);
    for (const SolverChoice choice : {SolverChoice::fast, SolverChoice::reference}) {
        QAction *action = solver_menu->addAction(
            choice == SolverChoice::fast ? tr("&Fast (pixel grid)") : tr("&Reference"));
        action->setObjectName(QStringLiteral("solver_%1").arg(QLatin1String(solver_name(choice))));
        action->setCheckable(true);
        action->setChecked(segmenter.solver == choice);
        solver_group->addAction(action);
        connect(action, &QAction::triggered, this, [this, choice] {
            segmenter.solver = choice;
            QSettings(QStringLiteral("Vellacut"), QStringLiteral("Vellacut"))
                .setValue(QStringLiteral("solver"), QLatin1String(solver_name(choice)));
        });
    }

    connect(source_image, &GView::gview_addpoint_signal, this, &Window::gview_addpoint_slot);
    source_image->disc_painted = [this](QPointF centre, int width, int mode) {
        record_disc(centre, width, mode);
    };

    // Zoom on the shown view: Ctrl++ (also Ctrl+= where + needs Shift), Ctrl+-, Ctrl+0.
    const auto add_zoom_key = [this](const QKeySequence &keys, void (GView::*step)()) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, step] { zoom_current(step); });
    };
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Plus), &GView::gview_zoomin_slot);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Equal), &GView::gview_zoomin_slot);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Minus), &GView::gview_zoomout_slot);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_0), &GView::gview_zoomreset_slot);

    setAcceptDrops(true);
}

Window::~Window() = default;

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
    source_image->draw_mode = -1;
    if (background_button->isChecked()) {
        source_image->draw_mode = 1;
        object_button->setChecked(false);
    }
}

void Window::backgrdmode_event()
{
    source_image->draw_mode = -1;
    if (object_button->isChecked()) {
        source_image->draw_mode = 2;
        background_button->setChecked(false);
    }
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

void Window::record_disc(QPointF centre, int width, int mode)
{
    // Discs painted on the placeholder (no picture open) belong to no picture.
    if (has_image() && source_image->pixmap == &source_pixmap)
        labels.paint_disc(centre, width, mode);
}

void Window::zoom_current(void (GView::*step)())
{
    if (auto *view = qobject_cast<GView *>(tabs->currentWidget()))
        (view->*step)();
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
    file_name = fn;
    unpainted_image = std::move(loaded.image);
    source_pixmap.convertFromImage(unpainted_image, Qt::AutoColor);
    tabs->setCurrentIndex(0);
    source_image->set_pixmap(&source_pixmap);
    console_print("WxH: %d, %d\n", unpainted_image.width(), unpainted_image.height());
    copy_grey_levels(unpainted_image, segmenter);
    clear_event();
}

void Window::clear_event()
{
    tabs->setCurrentIndex(0);
    if (has_image()) {
        // The strokes are replaced by the picture's own pixels, kept in memory since the open.
        source_pixmap.convertFromImage(unpainted_image, Qt::AutoColor);
        source_image->set_pixmap(&source_pixmap);
        if (labels.width() == unpainted_image.width()
            && labels.height() == unpainted_image.height())
            labels.clear();
        else
            labels = LabelLayer(unpainted_image.width(), unpainted_image.height());
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
    ::build_labels(labels, unpainted_image, segmenter, use_bbox);
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
    tabs->setCurrentIndex(1);
}

void Window::save()
{
    const QString directory = ask_save_directory();
    if (directory.isEmpty())
        return;
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
    QStringList failures;
    for (const Output &output : outputs) {
        const QString path = QDir(directory).filePath(base + QLatin1String(output.suffix));
        const QString error = write_png(output.view->pixmap->toImage(), path);
        if (error.isEmpty())
            continue;
        console_print("Could not write %s: %s\n", local_text(path).constData(),
                      error.toLocal8Bit().constData());
        failures << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error);
    }
    if (!failures.isEmpty())
        show_warning(tr("Could not write:\n%1").arg(failures.join(QLatin1Char('\n'))));
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
