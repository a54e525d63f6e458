// GView: the pixmap view, its zoom and pan, and the brush that paints seed strokes.
#include "canvas/gview.h"

#include <QApplication>
#include <QBrush>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPen>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleOptionGraphicsItem>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double zoom_step = 1.2;
constexpr double min_scale = 1.0 / 200.0;
constexpr double max_scale = 64.0;

// Draws the view's current pixmap straight from the view's pointer. A plain pixmap item keeps a
// shared copy, so every stroke painted into the pixmap afterwards would copy the whole picture.
class ShownPixmapItem : public QGraphicsPixmapItem
{
public:
    explicit ShownPixmapItem(QPixmap *const *view_pixmap)
        : shown(view_pixmap)
    {
    }

    void picture_changed() { prepareGeometryChange(); }

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), (*shown)->size()); }
    QPainterPath shape() const override
    {
        QPainterPath path;
        path.addRect(boundingRect());
        return path;
    }

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *) override
    {
        const QPixmap &pixmap = **shown;
        if (pixmap.isNull())
            return;
        const QRect exposed = option->exposedRect.toAlignedRect().intersected(pixmap.rect());
        painter->drawPixmap(exposed, pixmap, exposed);
    }

private:
    QPixmap *const *shown;
};

} // namespace

GView::GView(QWidget *parent, const char *name)
    : QGraphicsView(parent)
{
    setObjectName(QString::fromLatin1(name));
    scene = new QGraphicsScene(this);
    scene->setBackgroundBrush(QBrush(Qt::black, Qt::SolidPattern));
    setScene(scene);
    // The scene has no use for drops; refusing them lets a file dropped on the picture reach
    // the window, which opens it.
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    draw_mode = -1;
    pressed = 0;
    brush_width = 5;
    init_canvas();
    show();
}

GView::~GView()
{
    if (painter.isActive())
        painter.end();
}

void GView::init_canvas()
{
    placeholder = QPixmap(128, 128);
    placeholder.fill(Qt::black);
    pixmap = &placeholder;
    auto *item = new ShownPixmapItem(&pixmap);
    item->setFlag(QGraphicsItem::ItemUsesExtendedStyleOption);
    scene->addItem(item);
    pixmap_item = item;
    scene->setSceneRect(pixmap_item->sceneBoundingRect());
    zoom_center = pixmap_item->sceneBoundingRect().center();
    centerOn(pixmap_item);
    fitInView(pixmap_item, Qt::KeepAspectRatio);
    // The shown pixmap is scaled, so draw it smoothly; painting into it stays unsmoothed.
    setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
    update();
}

void GView::set_pixmap(QPixmap *shown)
{
    resetTransform();
    pixmap = shown;
    static_cast<ShownPixmapItem *>(pixmap_item)->picture_changed();
    scene->setSceneRect(pixmap_item->sceneBoundingRect());
    zoom_center = pixmap_item->sceneBoundingRect().center();
    fit_pixmap();
}

void GView::show_placeholder()
{
    placeholder.fill(Qt::black);
    set_pixmap(&placeholder);
}

void GView::refresh(const QRect &pixels)
{
    pixmap_item->update(QRectF(pixels));
}

void GView::fit_pixmap()
{
    fitted = true;
    centerOn(pixmap_item);
    fitInView(pixmap_item, Qt::KeepAspectRatio);
    update();
}

GView::Place GView::place() const
{
    return {transform(), mapToScene(viewport()->rect().center()), fitted};
}

void GView::set_place(const Place &where)
{
    if (where.fitted) {
        fit_pixmap();
        return;
    }
    fitted = false;
    setTransform(where.transform);
    centerOn(where.centre);
}

void GView::set_brush_outline(bool shown)
{
    show_brush = shown;
    setMouseTracking(shown);
    viewport()->setMouseTracking(shown);
    update_cursor();
}

void GView::gview_drawmode_slot(int mode)
{
    draw_mode = mode;
}

void GView::gview_zoomin_slot()
{
    fitted = false;
    scale(zoom_step, zoom_step);
    centerOn(zoom_center);
    update();
}

void GView::gview_zoomout_slot()
{
    fitted = false;
    scale(1.0 / zoom_step, 1.0 / zoom_step);
    centerOn(zoom_center);
    update();
}

void GView::gview_zoomreset_slot()
{
    fit_pixmap();
}

void GView::zoom_at(double factor, QPointF viewport_point)
{
    const double now = transform().m11();
    const double wanted = std::clamp(now * factor, min_scale, max_scale);
    if (!(now > 0.0) || wanted == now)
        return;
    const QPointF anchor = scene_point(viewport_point);
    fitted = false;
    scale(wanted / now, wanted / now);
    // Put the anchor back under the same viewport point: centre on the scene point that now
    // lies at the viewport's centre when the anchor sits at viewport_point.
    const QPointF offset = QPointF(viewport()->rect().center()) - viewport_point;
    centerOn(anchor + offset / wanted);
    zoom_center = anchor;
    viewport()->update();
}

void GView::zoom_at_pointer(double factor)
{
    const QPoint inside = viewport()->mapFromGlobal(QCursor::pos());
    zoom_at(factor,
            viewport()->rect().contains(inside) ? QPointF(inside)
                                                : QPointF(viewport()->rect().center()));
}

void GView::show_actual_size()
{
    const QPointF centre = mapToScene(viewport()->rect().center());
    fitted = false;
    resetTransform();
    centerOn(centre);
}

QPointF GView::scene_point(QPointF viewport_point) const
{
    return viewportTransform().inverted().map(viewport_point);
}

void GView::paint_into_pixmap(QPointF from, QPointF to, int width, int mode)
{
    // A null pixmap cannot be painted on; nothing is drawn then.
    if (pixmap->isNull() || !painter.begin(pixmap))
        return;
    const QColor colour = mode == 1 ? QColor(Qt::red) : QColor(Qt::green);
    // No render hints: the stroke is not antialiased, so each touched pixel is exactly red or
    // green.
    painter.setPen(
        QPen(QBrush(colour, Qt::SolidPattern), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (from == to)
        painter.drawPoints(&to, 1);
    else
        painter.drawLine(from, to);
    painter.end();
    const double reach = width / 2.0 + 2.0;
    refresh(QRectF(from, to).normalized().adjusted(-reach, -reach, reach, reach).toAlignedRect());
}

void GView::mousePressEvent(QMouseEvent *event)
{
    last_x = event->pos().x();
    last_y = event->pos().y();
    const QPointF position = scene_point(event->position());
    zoom_center = position;
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && space_held)) {
        panning = true;
        pan_last = event->position();
        update_cursor();
        return;
    }
    if (!(event->button() & Qt::LeftButton))
        return;
    if (show_brush && !hasFocus())
        setFocus(Qt::MouseFocusReason);
    pressed = 1;
    stroke_last = position;
    if (draw_mode == -1 && paint_refused)
        paint_refused();
    update();
}

void GView::mouseReleaseEvent(QMouseEvent *event)
{
    if (panning && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        panning = false;
        update_cursor();
        return;
    }
    if (pressed == 1) {
        pressed = 0;
        if (stroke_finished)
            stroke_finished();
    }
}

void GView::mouseMoveEvent(QMouseEvent *event)
{
    last_x = event->pos().x();
    last_y = event->pos().y();
    const QPointF position = scene_point(event->position());
    zoom_center = position;
    if (panning) {
        const QPointF moved = event->position() - pan_last;
        pan_last = event->position();
        fitted = false;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - qRound(moved.x()));
        verticalScrollBar()->setValue(verticalScrollBar()->value() - qRound(moved.y()));
        return;
    }
    move_brush_outline(position, true);
    if (draw_mode != -1 && pressed == 1) {
        // Each move paints the segment from the previous position, so a stroke is one
        // continuous line however fast the pointer went.
        const QPointF from = stroke_last;
        stroke_last = position;
        if (segment_painter)
            segment_painter(from, position, brush_width, draw_mode);
        else
            paint_into_pixmap(from, position, brush_width, draw_mode);
    }
    if (pointer_moved)
        pointer_moved(position);
}

void GView::resizeEvent(QResizeEvent *event)
{
    // A picture the user has zoomed or panned stays where it is; a fitted one is fitted anew.
    if (fitted)
        fitInView(pixmap_item, Qt::KeepAspectRatio);
    else
        QGraphicsView::resizeEvent(event);
}

void GView::wheelEvent(QWheelEvent *event)
{
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (event->modifiers() & Qt::ControlModifier) {
        zoom_center = scene_point(event->position());
        if (delta != 0)
            zoom_at(delta > 0 ? zoom_step : 1.0 / zoom_step, event->position());
        event->accept();
        return;
    }
    if ((event->modifiers() & Qt::ShiftModifier) && brush_wheel) {
        if (delta != 0)
            brush_wheel(delta > 0 ? 1 : -1);
        event->accept();
        return;
    }
    QGraphicsView::wheelEvent(event);
}

void GView::keyPressEvent(QKeyEvent *event)
{
    if (!space_key(event, true))
        QGraphicsView::keyPressEvent(event);
}

void GView::keyReleaseEvent(QKeyEvent *event)
{
    if (!space_key(event, false))
        QGraphicsView::keyReleaseEvent(event);
}

bool GView::space_key(QKeyEvent *event, bool down)
{
    if (event->key() != Qt::Key_Space)
        return false;
    if (!event->isAutoRepeat()) {
        space_held = down;
        update_cursor();
    }
    event->accept();
    return true;
}

void GView::enterEvent(QEnterEvent *event)
{
    // Space pans without a click first, unless the user is typing into a field.
    if (show_brush && qobject_cast<QLineEdit *>(QApplication::focusWidget()) == nullptr)
        setFocus(Qt::MouseFocusReason);
    QGraphicsView::enterEvent(event);
}

void GView::leaveEvent(QEvent *event)
{
    move_brush_outline(pointer, false);
    if (pointer_left)
        pointer_left();
    QGraphicsView::leaveEvent(event);
}

QRect GView::brush_outline_rect() const
{
    const double radius = std::max(brush_width / 2.0, 0.5);
    const QRectF circle(pointer.x() - radius, pointer.y() - radius, 2 * radius, 2 * radius);
    return mapFromScene(circle).boundingRect().adjusted(-3, -3, 3, 3);
}

void GView::move_brush_outline(QPointF position, bool inside)
{
    if (!show_brush)
        return;
    viewport()->update(brush_outline_rect());
    pointer = position;
    pointer_inside = inside;
    viewport()->update(brush_outline_rect());
}

void GView::drawForeground(QPainter *outline, const QRectF &)
{
    if (!show_brush || !pointer_inside || draw_mode == -1 || panning || space_held)
        return;
    const double radius = std::max(brush_width / 2.0, 0.5);
    outline->save();
    outline->setRenderHint(QPainter::Antialiasing, true);
    outline->setBrush(Qt::NoBrush);
    // A light and a dark dashed ring, so the outline shows on any picture.
    QPen light(Qt::white, 0);
    outline->setPen(light);
    outline->drawEllipse(pointer, radius, radius);
    QPen dark(Qt::black, 0, Qt::DashLine);
    outline->setPen(dark);
    outline->drawEllipse(pointer, radius, radius);
    outline->restore();
}

void GView::update_cursor()
{
    if (panning)
        viewport()->setCursor(Qt::ClosedHandCursor);
    else if (space_held)
        viewport()->setCursor(Qt::OpenHandCursor);
    else if (show_brush)
        viewport()->setCursor(Qt::CrossCursor);
    else
        viewport()->unsetCursor();
}
