// Benchmark pictures in the window's form.
#include "picture_case.h"

Case to_case(const Picture &picture)
{
    Case c {QImage(picture.width, picture.height, QImage::Format_RGB32),
            LabelLayer(picture.width, picture.height)};
    for (int x = 0; x < picture.width; ++x) {
        for (int y = 0; y < picture.height; ++y) {
            const auto i = static_cast<std::size_t>(x) * static_cast<std::size_t>(picture.height)
                + static_cast<std::size_t>(y);
            const int g = picture.grey[i];
            c.image.setPixel(x, y, qRgb(g, g, g));
            if (picture.strokes[i] == Stroke::background)
                c.labels.set(x, y, Label::background);
            else if (picture.strokes[i] == Stroke::object)
                c.labels.set(x, y, Label::object);
        }
    }
    return c;
}
