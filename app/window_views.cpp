// The window's views: zoom keys on the shown view, and result tabs that take the zoom and
// position of the view shown before them, so the same spot stays in view across tabs.
#include "window.h"

#include <canvas/gview.h>

#include <QKeySequence>
#include <QTabWidget>

#include <functional>

void Window::setup_views()
{
    const auto add_zoom_key = [this](const QKeySequence &keys, std::function<void(GView &)> step) {
        add_key(keys, [this, step] {
            if (GView *view = shown_view())
                step(*view);
        });
    };
    const auto zoom_in = [](GView &view) { view.zoom_at_pointer(1.2); };
    const auto zoom_out = [](GView &view) { view.zoom_at_pointer(1.0 / 1.2); };
    // Ctrl++ also as Ctrl+= where + needs Shift.
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Plus), zoom_in);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Equal), zoom_in);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_Minus), zoom_out);
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_0), [](GView &view) { view.fit_pixmap(); });
    add_zoom_key(QKeySequence(Qt::CTRL | Qt::Key_1), [](GView &view) { view.show_actual_size(); });

    followed_view = shown_view();
    connect(tabs, &QTabWidget::currentChanged, this, &Window::follow_tab);
}

GView *Window::shown_view() const
{
    return qobject_cast<GView *>(tabs->currentWidget());
}

void Window::follow_tab(int)
{
    GView *now = shown_view();
    if (now == nullptr)
        return;
    // Only pictures of one size share places; a result view still showing its placeholder
    // keeps its own.
    if (followed_view != nullptr && followed_view != now
        && followed_view->pixmap->size() == now->pixmap->size())
        now->set_place(followed_view->place());
    followed_view = now;
}
