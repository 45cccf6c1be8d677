#pragma once

#include "trends.h"

#include <QWidget>

class QTableWidget;
class QChartView;
class QChart;

// One item's results over the report dates: a line through the values, the
// normal band shaded, the flagged points marked; the same points in a table
// beside it for the keyboard and screen readers.
class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(const Trend& trend, QWidget* parent = nullptr);

    QChart* chart() const;
    QTableWidget* table() const { return table_; }

private:
    QChartView* view_ = nullptr;
    QTableWidget* table_ = nullptr;
};
