// GView: the fitted pixmap view and the brush that paints seed strokes into the source image.
#include "canvas/gview.h"

#include <QBrush>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPen>
#include <QResizeEvent>
#include <QWheelEvent>

namespace {

constexpr double zoom_step = 1.2;

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
    pixmap_item = scene->addPixmap(*pixmap);
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
    pixmap_item->setPixmap(*pixmap);
    scene->setSceneRect(pixmap_item->sceneBoundingRect());
    zoom_center = pixmap_item->sceneBoundingRect().center();
    fit_pixmap();
}

void GView::show_placeholder()
{
    placeholder.fill(Qt::black);
    set_pixmap(&placeholder);
}

void GView::fit_pixmap()
{
    centerOn(pixmap_item);
    fitInView(pixmap_item, Qt::KeepAspectRatio);
    update();
}

void GView::gview_drawmode_slot(int mode)
{
    draw_mode = mode;
}

void GView::gview_zoomin_slot()
{
    scale(zoom_step, zoom_step);
    centerOn(zoom_center);
    update();
}

void GView::gview_zoomout_slot()
{
    scale(1.0 / zoom_step, 1.0 / zoom_step);
    centerOn(zoom_center);
    update();
}

void GView::gview_zoomreset_slot()
{
    centerOn(pixmap_item);
    fitInView(pixmap_item, Qt::KeepAspectRatio);
}

void GView::mousePressEvent(QMouseEvent *event)
{
    last_x = event->pos().x();
    last_y = event->pos().y();
    zoom_center = mapToScene(event->pos());
    if (event->button() & Qt::LeftButton) {
        pressed = 1;
        update();
    }
}

void GView::mouseReleaseEvent(QMouseEvent *)
{
    if (pressed == 1)
        pressed = 0;
}

void GView::mouseMoveEvent(QMouseEvent *event)
{
    last_x = event->pos().x();
    last_y = event->pos().y();
    zoom_center = mapToScene(event->pos());
    if (draw_mode == -1 || pressed == 0)
        return;

    const QPointF centre = mapToScene(QPoint(last_x, last_y));
    // A null pixmap cannot be painted on; nothing is drawn then.
    if (pixmap->isNull() || !painter.begin(pixmap))
        return;
    const QColor colour = draw_mode == 1 ? QColor(Qt::red) : QColor(Qt::green);
    // No render hints: the disc is not antialiased, so each touched pixel is exactly red or green.
    painter.setPen(QPen(QBrush(colour, Qt::SolidPattern), brush_width, Qt::SolidLine, Qt::RoundCap,
                        Qt::RoundJoin));
    painter.drawPoints(&centre, 1);
    painter.end();
    pixmap_item->setPixmap(*pixmap);
    update();
    if (disc_painted)
        disc_painted(centre, brush_width, draw_mode);
}

void GView::resizeEvent(QResizeEvent *)
{
    fitInView(pixmap_item, Qt::KeepAspectRatio);
}

void GView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    const int delta = event->angleDelta().y();
    zoom_center = mapToScene(event->position().toPoint());
    if (delta > 0)
        gview_zoomin_slot();
    else if (delta < 0)
        gview_zoomout_slot();
    event->accept();
}
