// Unsaved work: the window title's modified mark, the Save / Discard / Cancel question before
// work would be lost, Quit, and the recently opened pictures kept in the settings.
#include "window.h"

#include "compute_job.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QUndoStack>

namespace {

constexpr int max_recent = 8;
const char *const recent_key = "recent_files";

} // namespace

QSettings Window::settings()
{
    return QSettings(QStringLiteral("Vellacut"), QStringLiteral("Vellacut"));
}

void Window::setup_file_extras(QMenu *file_menu)
{
    recent_menu = file_menu->addMenu(tr("Open &Recent"));
    connect(recent_menu, &QMenu::aboutToShow, this, &Window::fill_recent_menu);
    fill_recent_menu();
    quit_action = new QAction(tr("&Quit"), this);
    quit_action->setShortcut(QKeySequence(tr("Ctrl+Q")));
    quit_action->setStatusTip(tr("Quit the program"));
    connect(quit_action, &QAction::triggered, this, &QWidget::close);
}

bool Window::has_unsaved_work() const
{
    return results_unsaved || !undo_stack->isClean();
}

void Window::update_title()
{
    if (file_name.isEmpty()) {
        setWindowTitle(tr("Vellacut"));
        return;
    }
    // [*] shows as * while the window is modified.
    setWindowTitle(tr("%1[*] - Vellacut").arg(QFileInfo(file_name).fileName()));
    setWindowModified(has_unsaved_work());
}

Window::UnsavedAnswer Window::ask_unsaved_work(bool can_save)
{
    QMessageBox box(QMessageBox::Warning, tr("Vellacut"),
                    tr("\"%1\" has strokes or results that are not saved.")
                        .arg(QFileInfo(file_name).fileName()),
                    QMessageBox::Discard | QMessageBox::Cancel, this);
    if (can_save)
        box.addButton(QMessageBox::Save);
    box.setInformativeText(can_save ? tr("Save the results before they are lost?")
                                    : tr("Discard the strokes?"));
    box.setDefaultButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return UnsavedAnswer::save;
    case QMessageBox::Discard:
        return UnsavedAnswer::discard;
    default:
        return UnsavedAnswer::cancel;
    }
}

bool Window::confirm_unsaved_work()
{
    finish_stroke();
    if (!has_unsaved_work())
        return true;
    switch (ask_unsaved_work(has_results)) {
    case UnsavedAnswer::save:
        return has_results && save_results();
    case UnsavedAnswer::discard:
        return true;
    case UnsavedAnswer::cancel:
        break;
    }
    return false;
}

void Window::closeEvent(QCloseEvent *event)
{
    if (confirm_unsaved_work()) {
        // The window goes: a COMPUTE still running is of no use to anyone.
        compute_job->cancel_and_wait();
        event->accept();
    } else {
        event->ignore();
    }
}

void Window::remember_recent(const QString &path)
{
    QSettings store = settings();
    QStringList recent = store.value(QLatin1String(recent_key)).toStringList();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > max_recent)
        recent.removeLast();
    store.setValue(QLatin1String(recent_key), recent);
    fill_recent_menu();
}

void Window::fill_recent_menu()
{
    recent_menu->clear();
    const QStringList recent = settings().value(QLatin1String(recent_key)).toStringList();
    for (int n = 0; n < recent.size(); ++n) {
        const QString path = recent.at(n);
        QAction *entry = recent_menu->addAction(QStringLiteral("&%1 %2").arg(n + 1).arg(
            QDir::toNativeSeparators(path).replace(QLatin1Char('&'), QLatin1String("&&"))));
        connect(entry, &QAction::triggered, this, [this, path] { open_file(path); });
    }
    recent_menu->setEnabled(!recent.isEmpty());
}
