#pragma once

#include <QImage>
#include <QList>
#include <QStringList>

struct ReportChart;

// A report's chart drawn for the page (at 300 dots per inch): the rows'
// day (an ISO date: a column named so is not shown as a date) and value as a line over the dates, spaced by time; the band
// between low and high (where the rows give them) shaded; each point whose
// flag is not empty marked and labelled with it. Rows whose value is no
// number are left out; with no point left the image says so.
QImage draw_chart(const ReportChart& chart, const QStringList& columns, const QList<QStringList>& rows);
