#pragma once

#include "records.h"

#include <QString>
#include <QStringList>

class QWidget;

// Lists saved as CSV: UTF-8 (with the byte-order mark spreadsheet programs
// look for), RFC 4180 quoting, a header row, CRLF line ends; a cell that a
// spreadsheet would run as a formula goes out as text, after an apostrophe.

// Writes the whole list to `path` as one ordered read, dates as ISO dates
// (2026-12-09, which every spreadsheet reads as a date), showing the progress
// with a Cancel button; the window stays responsive.
// A cancelled or failed export leaves no file behind. Returns true when written.
bool export_list_csv(QWidget* parent, const ListQuery& list, const QStringList& headings,
                     const QString& path);
