#pragma once

#include <QPointF>
#include <QRect>

// Geometry from the screen layouts is in twips: 15 twips to a pixel.
inline constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline QRect twips_rect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// A rectangular click region in twips; every bound is exclusive.
struct Region {
    int x_min, x_max, y_min, y_max;

    constexpr bool contains(double x, double y) const {
        return x > x_min && x < x_max && y > y_min && y < y_max;
    }

    // Its middle, where a press by the keyboard lands.
    constexpr QPointF centre() const { return {(x_min + x_max) / 2.0, (y_min + y_max) / 2.0}; }

    // The region on a picture drawn at `sx`, `sy` pixels per twip.
    QRectF rect(double sx, double sy) const {
        return QRectF(x_min * sx, y_min * sy, (x_max - x_min) * sx, (y_max - y_min) * sy);
    }
};

// A point on a picture shown at `shown` pixels whose layout size is `layout`
// pixels, in twips: 15 per pixel at the layout size, scaled when the picture
// is shown larger or smaller.
inline QPointF to_twips(QPointF pixel, QSize layout, QSize shown) {
    return {pixel.x() * kTwipsPerPixel * layout.width() / shown.width(),
            pixel.y() * kTwipsPerPixel * layout.height() / shown.height()};
}
