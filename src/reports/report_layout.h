#pragma once

#include "prepared_report.h"

class QPagedPaintDevice;
class QPrinter;

// Lays a prepared report out for a paged device (a printer, a PDF file) at the
// device's own resolution and paints every page: the header band, the part of
// the body that falls on the page, and the footer band with "page x of y".
// Returns the number of pages, or 0 when the device cannot be painted on.
int paint_report(const PreparedReport& report, QPagedPaintDevice* device);

// Sets the page size, orientation and margins of the report on a printer.
void apply_page_settings(const ReportFile& file, QPagedPaintDevice* device);

// Writes the report to a PDF file. Returns an empty text, or what went wrong.
QString write_pdf(const PreparedReport& report, const QString& pdf_path);
