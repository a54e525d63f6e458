// GView is the image view of the window: one pixmap fitted to the view on black. As the source
// canvas it also paints round red or green brush discs into that pixmap while the left button
// is held down.
#pragma once

#include <QGraphicsView>
#include <QPainter>
#include <QPixmap>
#include <QPointF>

#include <functional>

class QGraphicsPixmapItem;
class QGraphicsScene;

// A view shows exactly one pixmap. Pixmaps handed to set_pixmap() stay the caller's: the view
// keeps the pointer, paints into that very pixmap and never deletes it, so the caller keeps it
// alive while the view shows it. Until then the view shows its own 128 x 128 black placeholder.
class GView : public QGraphicsView
{
    Q_OBJECT

public:
    GView(QWidget *parent, const char *name);
    ~GView() override;

    // Shows `shown` fitted into the view (any zoom is dropped) and paints into it from now on.
    void set_pixmap(QPixmap *shown);

    // Shows the view's own placeholder again, refilled with black.
    void show_placeholder();

    int brush_width = 5; // pen width of painted discs, in pixmap pixels; 0 is a 1-pixel pen
    QGraphicsScene *scene = nullptr; // child of the view
    QPainter painter; // open only while one disc is painted
    QGraphicsPixmapItem *pixmap_item = nullptr; // the scene's only item, at the origin
    QPixmap *pixmap = nullptr; // the pixmap shown and painted on
    // Scene point the zoom slots centre on: the last mouse position over the view, or the
    // middle of the pixmap until the mouse has been there.
    QPointF zoom_center;
    int last_x = 0; // last mouse position from a press or a move, viewport coordinates
    int last_y = 0;
    int pressed = 0; // 1 from a left-button press until the next release
    int draw_mode = -1; // -1 no painting, 1 red (Background), any other value green (Object)
    // Called after every disc painted into the pixmap with its centre in pixmap coordinates, the
    // pen width and the draw mode it was painted with. A plain callback rather than a signal, so
    // that the meta-object holds only the view's fixed set of methods.
    std::function<void(QPointF centre, int width, int mode)> disc_painted;

signals:
    // Declared for reporting one seed point; painting does not emit it.
    void gview_addpoint_signal(int mode, int index, int value);

public slots:
    void gview_drawmode_slot(int mode);
    void gview_zoomin_slot();
    void gview_zoomout_slot();
    void gview_zoomreset_slot();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Ctrl + wheel zooms on the pointer; without Ctrl the wheel scrolls as usual.
    void wheelEvent(QWheelEvent *event) override;

private:
    void init_canvas();
    void fit_pixmap();

    QPixmap placeholder;
};
