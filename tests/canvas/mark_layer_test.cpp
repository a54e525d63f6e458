// Mark layers over a shrunken picture, and the view's zoom limit, 1:1 and places.
#include <canvas/gview.h>
#include <canvas/mark_layer.h>

#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(MarkLayer, ThinMarksStayVisibleOnAShrunkenPictureAndTheViewZooms)
{
    GView view(nullptr, "source_image");
    view.resize(220, 170);
    QPixmap picture(2000, 1500);
    picture.fill(Qt::black);
    view.set_pixmap(&picture);
    ASSERT_LT(view.transform().m11(), 0.15);
    auto *marks = new MarkLayer;
    view.scene->addItem(marks);
    marks->reset(picture.size());
    // A one-pixel vertical line; smooth scaling alone would fade it to almost nothing.
    for (int y = 200; y < 1300; ++y)
        marks->image().setPixel(1001, y, qRgb(0, 255, 0));
    marks->changed(QRect(1001, 200, 1, 1100));

    const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint middle = view.mapFromScene(QPointF(1001.5, 750));
    int green = 0;
    for (int x = middle.x() - 3; x <= middle.x() + 3; ++x)
        green += shown.pixel(x, middle.y()) == qRgb(0, 255, 0) ? 1 : 0;
    EXPECT_GE(green, 1);
    EXPECT_LE(green, 2);

    // The same view at its zoom limit, at 1:1, and back at a place it was.
    view.zoom_at(1e6, QPointF(100, 80));
    EXPECT_DOUBLE_EQ(view.transform().m11(), 64.0);
    view.show_actual_size();
    EXPECT_DOUBLE_EQ(view.transform().m11(), 1.0);
    const GView::Place place = view.place();
    view.fit_pixmap();
    view.set_place(place);
    EXPECT_DOUBLE_EQ(view.transform().m11(), 1.0);
    EXPECT_NEAR(view.mapToScene(view.viewport()->rect().center()).x(), place.centre.x(), 1.0);
}
