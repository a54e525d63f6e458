// GView is the image view of the window: one pixmap on black, fitted to the view until the user
// zooms. As the source canvas it also paints round-capped strokes while the left button is held
// down, shows the brush at the pointer, and pans with the middle button or Space held down.
#pragma once

#include <QGraphicsView>
#include <QPainter>
#include <QPixmap>
#include <QPointF>
#include <QTransform>

#include <functional>

class QGraphicsPixmapItem;
class QGraphicsScene;

// A view shows exactly one pixmap. Pixmaps handed to set_pixmap() stay the caller's: the view
// keeps the pointer, paints into that very pixmap and draws it straight from there (no copy), so
// the caller keeps it alive while the view shows it and calls refresh() after changing it. Until
// then the view shows its own 128 x 128 black placeholder.
class GView : public QGraphicsView
{
    Q_OBJECT

public:
    // Where a view looks: its scale and the scene point at its centre, or fitted to the view.
    struct Place
    {
        QTransform transform;
        QPointF centre;
        bool fitted = true;
    };

    GView(QWidget *parent, const char *name);
    ~GView() override;

    // Shows `shown` fitted into the view (any zoom is dropped) and paints into it from now on.
    void set_pixmap(QPixmap *shown);

    // Shows the view's own placeholder again, refilled with black.
    void show_placeholder();

    // Redraws the part of the shown pixmap within `pixels` after its owner changed it.
    void refresh(const QRect &pixels);

    // Paints one round-capped segment into the shown pixmap in the colour of `mode` (1 red,
    // other modes green), without antialiasing, and refreshes it; nothing on a null pixmap.
    void paint_into_pixmap(QPointF from, QPointF to, int width, int mode);

    // Zoom keeping the scene point under `viewport_point` where it is; the scale stays within
    // 1/200 and 64 screen pixels per picture pixel.
    void zoom_at(double factor, QPointF viewport_point);
    // Zoom about the pointer when it is over the view, else about the view's centre.
    void zoom_at_pointer(double factor);
    // One picture pixel per screen pixel, keeping the centre of the view.
    void show_actual_size();
    // Fits the whole pixmap into the view; resizes refit it until the user zooms or pans.
    void fit_pixmap();

    Place place() const;
    void set_place(const Place &where);

    // Shows the brush outline at the pointer while a draw mode is set (source canvas).
    void set_brush_outline(bool shown);

    int brush_width = 5; // pen width of painted strokes, in pixmap pixels; 0 is a 1-pixel pen
    QGraphicsScene *scene = nullptr; // child of the view
    QPainter painter; // open only while one segment is painted
    QGraphicsPixmapItem *pixmap_item = nullptr; // draws *pixmap; the scene's bottom item
    QPixmap *pixmap = nullptr; // the pixmap shown and painted on
    // Scene point the zoom slots centre on: the last mouse position over the view, or the
    // middle of the pixmap until the mouse has been there.
    QPointF zoom_center;
    int last_x = 0; // last mouse position from a press or a move, viewport coordinates
    int last_y = 0;
    int pressed = 0; // 1 from a left-button press until the next release
    int draw_mode = -1; // -1 no painting, 1 red (Background), any other value green (Object)

    // Plain callbacks rather than signals, so that the meta-object holds only the view's fixed
    // set of methods. Positions are in pixmap pixels (scene coordinates).
    //
    // Paints one segment of a stroke instead of paint_into_pixmap(); a drag gives one call per
    // mouse move, from the previous position (the press for the first) to the new one.
    std::function<void(QPointF from, QPointF to, int width, int mode)> segment_painter;
    std::function<void()> stroke_finished; // the release that ends a left-button drag
    std::function<void()> paint_refused; // a left press while draw_mode is -1
    std::function<void(QPointF position)> pointer_moved; // also without buttons held
    std::function<void()> pointer_left;
    std::function<void(int steps)> brush_wheel; // Shift + wheel: + grows, - shrinks

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
    // Ctrl + wheel zooms at the pointer, Shift + wheel sizes the brush, the plain wheel scrolls.
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void drawForeground(QPainter *outline, const QRectF &rect) override;

private:
    void init_canvas();
    QPointF scene_point(QPointF viewport_point) const;
    QRect brush_outline_rect() const; // viewport pixels the outline covers
    void move_brush_outline(QPointF position, bool inside);
    void update_cursor();
    // Space held down turns a left drag into panning; true when `event` was that key.
    bool space_key(QKeyEvent *event, bool down);

    QPixmap placeholder;
    bool fitted = true; // refit on resize until the user zooms or pans
    bool show_brush = false;
    bool pointer_inside = false;
    QPointF pointer; // last pointer position, scene coordinates
    QPointF stroke_last; // end of the last painted segment, scene coordinates
    bool space_held = false;
    bool panning = false;
    QPointF pan_last; // viewport position of the last panning move
};
