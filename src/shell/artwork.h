#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// Small drawing helpers for the pictures the program paints at run time.
namespace artwork {

inline const QColor kInk{0x1d, 0x3b, 0x53};
inline const QColor kAccent{0x0f, 0x76, 0x6e};
inline const QColor kPaper{0xf4, 0xf8, 0xf7};

// Draws `text` centred in `box`, with the largest font (up to `max_pixel_size`)
// that lets it fit inside, so a label never leaves its box.
void fitted_text(QPainter& p, const QRectF& box, const QString& text, double max_pixel_size,
                 bool bold = false);

// A rounded tile with a fitted label: the look of every clickable name.
void tile(QPainter& p, const QRectF& box, const QString& text, const QColor& fill, const QColor& ink,
          double max_pixel_size = 13);

// The background wash shared by the login and menu pictures.
void paper(QPainter& p, const QRectF& area);

// A flask: the laboratory's emblem on the pictures.
void emblem(QPainter& p, const QRectF& box);

} // namespace artwork
