#include "trend_window.h"

#include "boxes.h"
#include "dates.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

qreal when(const QDate& d) {
    return qreal(d.startOfDay().toMSecsSinceEpoch());
}

} // namespace

TrendWindow::TrendWindow(const Trend& trend, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("trend"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Trend: %1").arg(trend.item.shown()));
    apply_screen_look(this);
    resize(900, 480);

    auto* chart = new QChart;
    chart->setTitle(trend.item.shown());
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* values = new QLineSeries;
    values->setName(QStringLiteral("Result"));
    auto* flagged = new QScatterSeries;
    flagged->setName(QStringLiteral("Flagged (H, L, HH, LL)"));
    flagged->setColor(QColor(0xb4, 0x23, 0x18));
    flagged->setMarkerSize(11);
    double low = 0, high = 1;
    if (!trend.points.isEmpty()) low = high = trend.points.first().value;
    for (const TrendPoint& p : trend.points) {
        values->append(when(p.date), p.value);
        if (!p.flag.isEmpty()) flagged->append(when(p.date), p.value);
        low = std::min(low, p.value);
        high = std::max(high, p.value);
    }
    const QDate first = trend.points.isEmpty() ? today() : trend.points.first().date;
    const QDate last = trend.points.isEmpty() ? today() : trend.points.last().date;
    if (trend.normal && (trend.normal->has_low || trend.normal->has_high)) {
        // The band from the lower bound (or the lowest value) to the upper one.
        const double band_low = trend.normal->has_low ? trend.normal->low : std::min(low, 0.0);
        const double band_high = trend.normal->has_high ? trend.normal->high : high;
        auto *lower = new QLineSeries, *upper = new QLineSeries;
        for (const QDate& d : {first.addDays(-1), last.addDays(1)}) {
            lower->append(when(d), band_low);
            upper->append(when(d), band_high);
        }
        auto* band = new QAreaSeries(upper, lower);
        band->setName(QStringLiteral("Normal range"));
        band->setColor(QColor(0x0f, 0x76, 0x6e, 60));
        band->setBorderColor(QColor(0x0f, 0x76, 0x6e, 120));
        chart->addSeries(band);
        low = std::min(low, band_low);
        high = std::max(high, band_high);
    }
    chart->addSeries(values);
    chart->addSeries(flagged);
    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("d MMM yy"));
    x->setRange(first.addDays(-1).startOfDay(), last.addDays(1).startOfDay());
    auto* y = new QValueAxis;
    const double margin = std::max(1e-9, (high - low) * 0.1);
    y->setRange(low - margin, high + margin);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    view_ = new QChartView(chart, this);
    view_->setObjectName(QStringLiteral("chart"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setAccessibleName(QStringLiteral("Chart of %1").arg(trend.item.shown()));
    view_->setAccessibleDescription(
        QStringLiteral("%1 results; the table beside it lists them").arg(trend.points.size()));

    table_ = read_only_table(
        this, "points", QStringLiteral("Results of %1").arg(trend.item.shown()),
        {QStringLiteral("Date"), QStringLiteral("Lab ID"), QStringLiteral("Result"), QStringLiteral("Flag")});
    table_->setRowCount(int(trend.points.size()));
    for (int r = 0; r < trend.points.size(); ++r) {
        const TrendPoint& p = trend.points[r];
        const QStringList cells = {display_date(p.date), QString::number(p.lab_id), p.result, p.flag};
        for (int c = 0; c < cells.size(); ++c)
            table_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();

    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* split = new QSplitter(this);
    split->addWidget(view_);
    split->addWidget(table_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    view_->setMinimumWidth(420);
    split->setSizes({620, 280}); // the chart first, the table beside it
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close_button);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    table_->setFocus();
}

QChart* TrendWindow::chart() const {
    return view_->chart();
}
