#include "report_chart.h"

#include "report_file.h"

#include <QDate>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr double kDotsPerMm = 300 / 25.4;

struct Point {
    QDate date;
    double value = 0;
    QString flag;
};

std::optional<double> number(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional(v) : std::nullopt;
}

} // namespace

QImage draw_chart(const ReportChart& chart, const QStringList& columns, const QList<QStringList>& rows) {
    const QSize size(int(chart.width_mm * kDotsPerMm), int(chart.height_mm * kDotsPerMm));
    QImage image(size, QImage::Format_RGB32);
    image.setDotsPerMeterX(int(kDotsPerMm * 1000));
    image.setDotsPerMeterY(int(kDotsPerMm * 1000));
    image.fill(Qt::white);
    const auto at = [&](const QStringList& row, const char* column) {
        return row.value(int(columns.indexOf(QLatin1String(column))));
    };
    QList<Point> points;
    std::optional<double> low, high;
    for (const QStringList& row : rows) {
        const QDate date = QDate::fromString(at(row, "day").left(10), Qt::ISODate);
        const auto value = number(at(row, "value"));
        if (!date.isValid() || !value) continue;
        points << Point{date, *value, at(row, "flag").trimmed()};
        if (!low) low = number(at(row, "low"));
        if (!high) high = number(at(row, "high"));
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(2.6 * kDotsPerMm));
    p.setFont(font);
    const QColor ink(0x1f, 0x2d, 0x3a), teal(0x0f, 0x76, 0x6e), band(0xdc, 0xef, 0xec), red(0xb4, 0x23, 0x18);
    if (points.isEmpty()) {
        p.setPen(ink);
        p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("No results that are numbers to draw."));
        return image;
    }
    // The value scale takes in every point and the band, with a little room.
    double lo = points[0].value, hi = lo;
    for (const Point& pt : points)
        lo = std::min(lo, pt.value), hi = std::max(hi, pt.value);
    if (low) lo = std::min(lo, *low);
    if (high) hi = std::max(hi, *high);
    if (hi - lo < 1e-9) lo -= 1, hi += 1;
    const double pad = (hi - lo) * 0.1;
    lo -= pad, hi += 2.5 * pad; // room above the highest point for its flag
    const QRectF plot(14 * kDotsPerMm, 3 * kDotsPerMm, size.width() - 18 * kDotsPerMm,
                      size.height() - 10 * kDotsPerMm);
    const qint64 first = points.first().date.toJulianDay(), last = points.last().date.toJulianDay();
    // The first and last points stand a little inside the frame.
    const QRectF span = plot.adjusted(4 * kDotsPerMm, 0, -4 * kDotsPerMm, 0);
    const auto x_of = [&](const QDate& d) {
        return last == first
                   ? span.center().x()
                   : span.left() + span.width() * double(d.toJulianDay() - first) / double(last - first);
    };
    const auto y_of = [&](double v) { return plot.bottom() - plot.height() * (v - lo) / (hi - lo); };
    // The normal band, then the frame and the scale's ends.
    if (low || high) {
        const double top = y_of(high.value_or(hi)), bottom = y_of(low.value_or(lo));
        p.fillRect(QRectF(plot.left(), top, plot.width(), bottom - top), band);
    }
    p.setPen(QPen(ink, 0.25 * kDotsPerMm));
    p.drawRect(plot);
    const auto scale_label = [&](double v) {
        const QRectF box(0, y_of(v) - 2 * kDotsPerMm, plot.left() - 1.5 * kDotsPerMm, 4 * kDotsPerMm);
        p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 4));
    };
    for (const std::optional<double>& v : {low, high})
        if (v) scale_label(*v);
    const auto date_label = [&](const QDate& d, Qt::Alignment side) {
        const double x = x_of(d);
        QRectF box(x - 20 * kDotsPerMm, plot.bottom() + 1 * kDotsPerMm, 40 * kDotsPerMm, 5 * kDotsPerMm);
        if (side == Qt::AlignLeft) box.moveLeft(x);
        if (side == Qt::AlignRight) box.moveRight(x);
        p.drawText(box, side | Qt::AlignTop, d.toString(QStringLiteral("d MMM yyyy")));
    };
    date_label(points.first().date, points.size() > 1 ? Qt::AlignLeft : Qt::AlignHCenter);
    if (points.size() > 1) date_label(points.last().date, Qt::AlignRight);
    // The line through the values, and each point: flagged ones in red with their flag.
    QPainterPath line;
    line.moveTo(x_of(points.first().date), y_of(points.first().value));
    for (const Point& pt : points.mid(1))
        line.lineTo(x_of(pt.date), y_of(pt.value));
    p.setPen(QPen(teal, 0.5 * kDotsPerMm));
    p.drawPath(line);
    for (const Point& pt : points) {
        const QPointF c(x_of(pt.date), y_of(pt.value));
        const bool flagged = !pt.flag.isEmpty();
        p.setPen(Qt::NoPen);
        p.setBrush(flagged ? red : teal);
        p.drawEllipse(c, (flagged ? 1.1 : 0.8) * kDotsPerMm, (flagged ? 1.1 : 0.8) * kDotsPerMm);
        if (flagged) {
            p.setPen(red);
            p.drawText(
                QRectF(c.x() - 5 * kDotsPerMm, c.y() - 5.5 * kDotsPerMm, 10 * kDotsPerMm, 4 * kDotsPerMm),
                Qt::AlignCenter, pt.flag);
        }
    }
    return image;
}
