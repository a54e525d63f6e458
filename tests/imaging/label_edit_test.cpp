// Round-capped segments on the label layer, and tile records of label edits.
#include <imaging/label_edit.h>
#include <imaging/label_layer.h>

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>

namespace {

bool same_labels(const LabelLayer &a, const LabelLayer &b)
{
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.at(x, y) != b.at(x, y))
                return false;
    return true;
}

} // namespace

TEST(LabelSegment, CollinearPiecesGiveTheLabelsOfTheWholeSegment)
{
    // A straight stroke cut into 1, 4 and 499 pieces, along both axes and a diagonal, for pens
    // from the one-pixel pen up.
    struct Line
    {
        QPointF from, to;
    };
    const Line lines[] = {
        {{3.3, 20.5}, {91.7, 20.5}}, {{40.25, 2.0}, {40.25, 57.0}}, {{5.0, 5.0}, {55.0, 55.0}}};
    for (const Line &line : lines)
        for (const int width : {0, 1, 2, 5, 9, 16}) {
            LabelLayer whole(100, 60);
            whole.paint_segment(line.from, line.to, width, Label::object);
            for (const int pieces : {4, 499}) {
                LabelLayer chained(100, 60);
                QPointF last = line.from;
                for (int k = 1; k <= pieces; ++k) {
                    const QPointF next = line.from + (line.to - line.from) * k / pieces;
                    chained.paint_segment(last, next, width, Label::object);
                    last = next;
                }
                EXPECT_TRUE(same_labels(whole, chained)) << "width " << width << ", " << pieces;
            }
        }
}

TEST(LabelSegment, CoversThePixelsWithinHalfThePenWidth)
{
    LabelLayer layer(40, 30);
    const QRect changed = layer.paint_segment({10.5, 15.5}, {30.5, 15.5}, 9, Label::background);
    // A 20 x 9 body and two caps of radius 4.5.
    EXPECT_EQ(layer.at(20, 11), Label::background);
    EXPECT_EQ(layer.at(20, 10), Label::none);
    EXPECT_EQ(layer.at(6, 15), Label::background);
    EXPECT_EQ(layer.at(5, 15), Label::none);
    EXPECT_EQ(layer.at(7, 12), Label::background); // 4.24 from the end
    EXPECT_EQ(layer.at(7, 11), Label::none); // 5 from the end
    EXPECT_TRUE(changed.contains(QRect(6, 11, 29, 9)));
    // A one-pixel pen marks at least the pixel a point lies in, wherever in the pixel.
    for (const QPointF point : {QPointF(3.0, 3.0), QPointF(3.99, 3.01), QPointF(3.5, 3.5)}) {
        LabelLayer dot(8, 8);
        dot.paint_segment(point, point, 0, Label::object);
        EXPECT_EQ(dot.at(3, 3), Label::object);
        EXPECT_LE(dot.count(Label::object), 4);
    }
    // Segments outside the layer change nothing.
    EXPECT_TRUE(layer.paint_segment({-50, -50}, {-20, -30}, 9, Label::object).isEmpty());
}

TEST(LabelEdit, RestoresBothSidesExactlyAndKeepsOnlyChangedTiles)
{
    QRandomGenerator random(7);
    LabelLayer layer(300, 200);
    for (int n = 0; n < 30; ++n)
        layer.paint_segment({random.bounded(300.0), random.bounded(200.0)},
                            {random.bounded(300.0), random.bounded(200.0)}, 7,
                            n % 2 ? Label::object : Label::background);
    const LabelLayer before = layer;

    LabelEditRecorder recorder(layer);
    const QPointF from(20.0, 30.0), to(120.0, 35.0);
    recorder.touch(LabelLayer::segment_bounds(from, to, 11));
    layer.paint_segment(from, to, 11, Label::none);
    const LabelEdit edit = recorder.finish();
    const LabelLayer after = layer;

    // The segment meets tiles 0 and 1 of the first tile row only.
    EXPECT_FALSE(edit.is_empty());
    EXPECT_TRUE(QRect(0, 0, 128, 64).contains(edit.bounds()));
    EXPECT_LE(edit.bytes(), 2u * 2u * 64u * 64u + 1024u);
    edit.restore_before(layer);
    EXPECT_TRUE(same_labels(layer, before));
    edit.restore_after(layer);
    EXPECT_TRUE(same_labels(layer, after));

    // Clearing a layer: the cleared side of each tile is one byte, and untouched (empty) tiles
    // are not kept at all.
    LabelLayer sparse(640, 640);
    sparse.paint_segment({10, 10}, {20, 10}, 5, Label::object);
    LabelEditRecorder clearing(sparse);
    clearing.touch(sparse.rect());
    sparse.clear();
    const LabelEdit cleared = clearing.finish();
    EXPECT_EQ(cleared.bounds(), QRect(0, 0, 64, 64));
    EXPECT_LT(cleared.bytes(), 64u * 64u + 256u);
}
