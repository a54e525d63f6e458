// GView driven with real mouse, wheel and resize events on its viewport.
#include <canvas/gview.h>

#include <QApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImage>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPixmap>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace {

void send_mouse(GView &view, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                Qt::MouseButtons buttons)
{
    const QPointF local(pos);
    const QPointF global(view.viewport()->mapToGlobal(pos));
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &event);
}

// Press at the first point, move through all points, release at the last.
void drag(GView &view, const std::vector<QPointF> &scene_points,
          Qt::MouseButton button = Qt::LeftButton)
{
    const QPoint first = view.mapFromScene(scene_points.front());
    send_mouse(view, QEvent::MouseButtonPress, first, button, button);
    for (const QPointF &p : scene_points)
        send_mouse(view, QEvent::MouseMove, view.mapFromScene(p), Qt::NoButton, button);
    send_mouse(view, QEvent::MouseButtonRelease, view.mapFromScene(scene_points.back()), button,
               Qt::NoButton);
}

// Counts pixels by colour class: pure red, pure green, and anything else that is not `base`.
struct ColourCount
{
    int red = 0;
    int green = 0;
    int other = 0;
};

ColourCount count_colours(const QPixmap &pixmap, QRgb base)
{
    const QImage image = pixmap.toImage();
    ColourCount n;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y) | 0xFF000000u;
            if (c == qRgb(255, 0, 0))
                ++n.red;
            else if (c == qRgb(0, 255, 0))
                ++n.green;
            else if (c != (base | 0xFF000000u))
                ++n.other;
        }
    return n;
}

class GViewTest : public ::testing::Test
{
protected:
    GViewTest()
        : view(nullptr, "source_image")
    {
        view.resize(400, 300);
        picture.fill(QColor(40, 40, 40));
        view.set_pixmap(&picture);
    }

    GView view;
    QPixmap picture {80, 60};
};

// The viewport rectangle that the whole pixmap occupies.
QRect shown_rect(const GView &view)
{
    return view.mapFromScene(view.pixmap_item->sceneBoundingRect()).boundingRect();
}

} // namespace

TEST(GViewConstruction, StartsWithBlackPlaceholderAndDefaults)
{
    GView view(nullptr, "binarymask_image");
    EXPECT_EQ(view.objectName(), QStringLiteral("binarymask_image"));
    EXPECT_EQ(view.draw_mode, -1);
    EXPECT_EQ(view.brush_width, 5);
    EXPECT_EQ(view.pressed, 0);
    ASSERT_NE(view.pixmap, nullptr);
    EXPECT_EQ(view.pixmap->size(), QSize(128, 128));
    const ColourCount n = count_colours(*view.pixmap, qRgb(0, 0, 0));
    EXPECT_EQ(n.red + n.green + n.other, 0);
    EXPECT_EQ(view.scene->backgroundBrush().color(), QColor(Qt::black));
    EXPECT_EQ(view.scene->items().size(), 1);
    EXPECT_EQ(view.scene->sceneRect(), QRectF(0, 0, 128, 128));
    EXPECT_TRUE(view.isVisible());
}

TEST_F(GViewTest, ClickWithoutMovementPaintsNothing)
{
    view.draw_mode = 1;
    const QPoint p = view.mapFromScene(QPointF(40, 30));
    send_mouse(view, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(view.pressed, 1);
    send_mouse(view, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(view.pressed, 0);
    const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
    EXPECT_EQ(n.red + n.green + n.other, 0);
    EXPECT_EQ(view.last_x, p.x());
    EXPECT_EQ(view.last_y, p.y());
}

TEST_F(GViewTest, DragPaintsOnlyPureRedInBackgroundModeAndChainsItsSegments)
{
    view.draw_mode = 1;
    drag(view, {{20, 20}, {30, 20}, {40, 25}});
    const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
    EXPECT_GT(n.red, 0);
    EXPECT_EQ(n.green, 0);
    EXPECT_EQ(n.other, 0) << "strokes must not be antialiased";
    EXPECT_EQ(view.pressed, 0);

    // With a painter installed, each move hands over the segment from the previous position.
    std::vector<std::pair<QPointF, QPointF>> segments;
    int finished = 0;
    view.segment_painter = [&segments](QPointF from, QPointF to, int width, int mode) {
        segments.emplace_back(from, to);
        EXPECT_EQ(width, 5);
        EXPECT_EQ(mode, 1);
    };
    view.stroke_finished = [&finished] { ++finished; };
    drag(view, {{20, 20}, {30, 20}, {40, 25}});
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(finished, 1);
    for (std::size_t k = 1; k < segments.size(); ++k)
        EXPECT_EQ(segments[k].first, segments[k - 1].second);
    EXPECT_NEAR(segments[2].second.x(), 40, 1.0);
    EXPECT_NEAR(segments[2].second.y(), 25, 1.0);
}

TEST_F(GViewTest, EveryModeOtherThanOneAndMinusOnePaintsGreen)
{
    for (const int mode : {2, 0, 7}) {
        picture.fill(QColor(40, 40, 40));
        view.set_pixmap(&picture);
        view.gview_drawmode_slot(mode);
        EXPECT_EQ(view.draw_mode, mode);
        drag(view, {{40, 30}});
        const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
        EXPECT_GT(n.green, 0) << "mode " << mode;
        EXPECT_EQ(n.red + n.other, 0) << "mode " << mode;
    }
}

TEST_F(GViewTest, NoPaintingWithoutModeOrWithOtherButtons)
{
    drag(view, {{20, 20}, {40, 30}}); // draw_mode -1
    view.draw_mode = 2;
    drag(view, {{20, 20}, {40, 30}}, Qt::RightButton);
    drag(view, {{20, 20}, {40, 30}}, Qt::MiddleButton);
    const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
    EXPECT_EQ(n.red + n.green + n.other, 0);
    const QPoint last = view.mapFromScene(QPointF(40, 30));
    EXPECT_EQ(view.last_x, last.x());
    EXPECT_EQ(view.last_y, last.y());
}

TEST_F(GViewTest, FastMovesPaintOneContinuousStrokeOfTheBrushWidth)
{
    view.draw_mode = 1;
    view.brush_width = 9;
    drag(view, {{20.5, 30.5}, {60.5, 30.5}});
    const QImage image = picture.toImage();
    // One round-capped line from 20.5 to 60.5: the row through it is red from about 16 to 65.
    int red_in_row = 0;
    for (int x = 0; x < image.width(); ++x)
        red_in_row += image.pixel(x, 30) == qRgb(255, 0, 0) ? 1 : 0;
    EXPECT_GE(red_in_row, 40 + 8);
    EXPECT_LE(red_in_row, 40 + 10);
    EXPECT_EQ(image.pixel(40, 30), qRgb(255, 0, 0));
    const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
    // 40 x 9 for the body and about pi * 4.5^2 = 64 for the two caps.
    EXPECT_GT(n.red, 360 + 50);
    EXPECT_LT(n.red, 360 + 80);
}

TEST_F(GViewTest, ZeroWidthPaintsSinglePixels)
{
    view.draw_mode = 2;
    view.brush_width = 0;
    drag(view, {{10.5, 10.5}});
    const ColourCount n = count_colours(picture, qRgb(40, 40, 40));
    EXPECT_EQ(n.green, 1);
}

TEST(GViewNullPixmap, DragOverNullPixmapPaintsNothing)
{
    GView view(nullptr, "source_image");
    view.resize(200, 200);
    QPixmap empty;
    view.set_pixmap(&empty);
    view.draw_mode = 1;
    drag(view, {{1, 1}, {2, 2}});
    EXPECT_TRUE(empty.isNull());
}

TEST(GViewPlaceholder, PaintingBeforeAnyPictureLandsOnThePlaceholder)
{
    GView view(nullptr, "source_image");
    view.resize(200, 200);
    view.draw_mode = 1;
    drag(view, {{64, 64}});
    EXPECT_GT(count_colours(*view.pixmap, qRgb(0, 0, 0)).red, 0);
    view.show_placeholder();
    EXPECT_EQ(count_colours(*view.pixmap, qRgb(0, 0, 0)).red, 0);
}

TEST_F(GViewTest, SetPixmapFitsTheWholePictureWhateverTheZoom)
{
    view.gview_zoomin_slot();
    view.gview_zoomin_slot();
    QPixmap tall(30, 90);
    tall.fill(Qt::white);
    view.set_pixmap(&tall);
    EXPECT_EQ(view.pixmap, &tall);
    EXPECT_EQ(view.scene->sceneRect(), QRectF(0, 0, 30, 90));
    const QRect shown = shown_rect(view);
    const QRect viewport = view.viewport()->rect();
    EXPECT_TRUE(viewport.adjusted(-1, -1, 1, 1).contains(shown));
    // Aspect ratio kept and the limiting side (height) fills the view.
    EXPECT_NEAR(view.transform().m11(), view.transform().m22(), 1e-9);
    EXPECT_GE(shown.height(), viewport.height() - 8);
    EXPECT_NEAR(shown.center().x(), viewport.center().x(), 2);
}

TEST_F(GViewTest, ResizeRefitsAFittedPictureAndKeepsAZoomedOne)
{
    view.gview_zoomin_slot();
    const double zoomed = view.transform().m11();
    view.resize(300, 200);
    QResizeEvent kept(QSize(300, 200), QSize(400, 300));
    QApplication::sendEvent(&view, &kept);
    EXPECT_NEAR(view.transform().m11(), zoomed, 1e-9);
    view.gview_zoomreset_slot();
    view.resize(200, 150);
    QResizeEvent event(QSize(200, 150), QSize(400, 300));
    QApplication::sendEvent(&view, &event);
    const QRect shown = shown_rect(view);
    EXPECT_TRUE(view.viewport()->rect().adjusted(-1, -1, 1, 1).contains(shown));
    // fitInView keeps a margin of a few pixels.
    EXPECT_GE(shown.width(), view.viewport()->width() - 8);
}

TEST_F(GViewTest, ZoomInThenOutRestoresTheScale)
{
    const double before = view.transform().m11();
    view.gview_zoomin_slot();
    EXPECT_NEAR(view.transform().m11(), before * 1.2, 1e-9);
    view.gview_zoomout_slot();
    EXPECT_NEAR(view.transform().m11(), before, 1e-9);
    view.gview_zoomin_slot();
    view.gview_zoomreset_slot();
    EXPECT_NEAR(view.transform().m11(), before, 1e-9);
}

TEST_F(GViewTest, CtrlWheelZoomsOnThePointerAndPlainWheelDoesNot)
{
    const double before = view.transform().m11();
    const QPointF target(20, 15);
    const QPointF pos(view.mapFromScene(target));
    const QPointF global(view.viewport()->mapToGlobal(pos.toPoint()));
    QWheelEvent plain(pos, global, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &plain);
    EXPECT_NEAR(view.transform().m11(), before, 1e-9);

    QWheelEvent in(pos, global, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &in);
    EXPECT_NEAR(view.transform().m11(), before * 1.2, 1e-9);
    EXPECT_NEAR(view.zoom_center.x(), target.x(), 1.0);
    EXPECT_NEAR(view.zoom_center.y(), target.y(), 1.0);

    QWheelEvent out(pos, global, QPoint(), QPoint(0, -120), Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &out);
    EXPECT_NEAR(view.transform().m11(), before, 1e-9);
}

TEST(GViewConstruction, MetaObjectMethodsInTheirFixedOrder)
{
    // The zoom slots are reachable through the meta-object only, so its method table (order,
    // kinds and parameter names) is the canvas's interface.
    const QMetaObject &meta = GView::staticMetaObject;
    EXPECT_STREQ(meta.className(), "GView");
    struct Expected
    {
        QMetaMethod::MethodType type;
        const char *signature;
        const char *parameters;
        QMetaMethod::Access access;
    };
    const Expected expected[] = {
        // Qt 6 declares every signal public.
        {QMetaMethod::Signal, "gview_addpoint_signal(int,int,int)", "mode,index,value",
         QMetaMethod::Public},
        {QMetaMethod::Slot, "gview_drawmode_slot(int)", "mode", QMetaMethod::Public},
        {QMetaMethod::Slot, "gview_zoomin_slot()", "", QMetaMethod::Public},
        {QMetaMethod::Slot, "gview_zoomout_slot()", "", QMetaMethod::Public},
        {QMetaMethod::Slot, "gview_zoomreset_slot()", "", QMetaMethod::Public},
    };
    ASSERT_EQ(meta.methodCount() - meta.methodOffset(), 5);
    for (int n = 0; n < 5; ++n) {
        const QMetaMethod method = meta.method(meta.methodOffset() + n);
        SCOPED_TRACE(n);
        EXPECT_EQ(method.methodType(), expected[n].type);
        EXPECT_EQ(method.methodSignature().toStdString(), expected[n].signature);
        EXPECT_EQ(method.parameterNames().join(',').toStdString(), expected[n].parameters);
        EXPECT_EQ(method.access(), expected[n].access);
    }
}
