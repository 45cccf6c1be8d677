#pragma once

#include "records.h"

#include <QString>
#include <QStringList>

class QWidget;

// Lists saved as CSV: UTF-8 (with the byte-order mark spreadsheet programs
// look for), RFC 4180 quoting, a header row, CRLF line ends.

// One line: every field in double quotes, quotes inside doubled.
QString csv_line(const QStringList& fields);

// A value as a CSV cell: one that a spreadsheet would take for a formula
// (starting with =, +, -, @, a tab or a carriage return) gets a leading apostrophe.
QString csv_cell(const QString& value);

// Writes the whole list to `path` as one ordered read, dates as ISO dates
// (2026-12-09, which every spreadsheet reads as a date), showing the progress
// with a Cancel button; the window stays responsive.
// A cancelled or failed export leaves no file behind. Returns true when written.
bool export_list_csv(QWidget* parent, const ListQuery& list, const QStringList& headings,
                     const QString& path);
