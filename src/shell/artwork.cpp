#include "artwork.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace artwork {

void fitted_text(QPainter& p, const QRectF& box, const QString& text, double max_pixel_size, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(bold);
    double size = max_pixel_size;
    for (; size > 4; size -= 0.5) {
        font.setPixelSize(int(size));
        const QRectF need = QFontMetricsF(font).boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, text);
        if (need.width() <= box.width() && need.height() <= box.height()) break;
    }
    font.setPixelSize(int(size));
    p.setFont(font);
    p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text);
}

void tile(QPainter& p, const QRectF& box, const QString& text, const QColor& fill, const QColor& ink,
          double max_pixel_size) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fill.darker(130), 1));
    p.setBrush(fill);
    const double r = std::min(box.height(), box.width()) * 0.25;
    p.drawRoundedRect(box, r, r);
    p.setPen(ink);
    fitted_text(p, box.adjusted(3, 1, -3, -1), text, std::min(max_pixel_size, box.height() * 0.62), true);
    p.restore();
}

void paper(QPainter& p, const QRectF& area) {
    QLinearGradient g(area.topLeft(), area.bottomRight());
    g.setColorAt(0, QColor(0xe6, 0xf2, 0xf0));
    g.setColorAt(1, QColor(0xfb, 0xfd, 0xfc));
    p.fillRect(area, g);
}

void emblem(QPainter& p, const QRectF& b) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath flask;
    const double w = b.width(), h = b.height();
    flask.moveTo(b.left() + w * 0.38, b.top());
    flask.lineTo(b.left() + w * 0.62, b.top());
    flask.lineTo(b.left() + w * 0.62, b.top() + h * 0.38);
    flask.lineTo(b.right(), b.bottom());
    flask.lineTo(b.left(), b.bottom());
    flask.lineTo(b.left() + w * 0.38, b.top() + h * 0.38);
    flask.closeSubpath();
    p.setPen(QPen(kInk, std::max(1.0, w * 0.05)));
    p.setBrush(QColor(0xd9, 0xf0, 0xec));
    p.drawPath(flask);
    QPainterPath liquid;
    liquid.moveTo(b.left() + w * 0.17, b.top() + h * 0.7);
    liquid.lineTo(b.right() - w * 0.17, b.top() + h * 0.7);
    liquid.lineTo(b.right(), b.bottom());
    liquid.lineTo(b.left(), b.bottom());
    liquid.closeSubpath();
    p.setBrush(kAccent);
    p.drawPath(liquid);
    p.restore();
}

} // namespace artwork
