#pragma once

#include "report_rows.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QString>
#include <QStringList>

#include <optional>

// A report file (.rpt): UTF-8 XML holding the page settings, the report's own
// named SQL queries, a stylesheet, header and footer bands and a mustache HTML
// body. The laboratory edits these files; the program only names them.
//
//   <report title="Blood sugar report">
//     <page size="A4" orientation="portrait" margins="15 15 15 15"/>     (millimetres)
//     <query name="report" single="true">SELECT … WHERE {selection}</query>
//     <query name="sections" group-by="test_table,lab_id" children="items">…</query>
//     <style>CSS</style>
//     <header include="letterhead.html"/>  or  <header height="40"/> (an empty band)
//     <footer>… {{page}} of {{pages}} …</footer>
//     <body>mustache HTML</body>
//   </report>
//
// `{selection}` in a query marks where the record-selection formula goes; a
// request without a formula selects everything there.

struct ReportQuery {
    QString name;
    QString sql;
    bool single = false;  // its first row's fields also stand at the top level
    QStringList group_by; // rows with equal values here become one entry…
    QString children;     // …holding the rows themselves under this name
    qint64 line = 0;
};

// A chart drawn from a query's rows, shown where the body (or a band) has
// <img src="chart:NAME">: the rows' day (ISO) and value as a line over the
// dates, the band between low and high shaded, a point whose flag is not
// empty marked. Its size on paper, in millimetres.
struct ReportChart {
    QString name, query;
    double width_mm = 180, height_mm = 60;
};

struct ReportFile {
    QString path;
    QString folder; // where included files and images are found
    QString title;
    QPageSize::PageSizeId page_size = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QMarginsF margins_mm{15, 12, 15, 12};
    QList<ReportQuery> queries;
    QList<ReportChart> charts;
    QString style;
    QString header;           // mustache HTML, may be empty
    double header_min_mm = 0; // the band's height at least (pre-printed stationery)
    double header_top_mm = 0; // blank space above the band's content, inside that height
    QString footer;
    double footer_min_mm = 0;
    QString body;
};

struct ParsedReportFile {
    std::optional<ReportFile> file;
    QString error; // names the file and, for XML faults, the line
};

// Where a report file named by a request is: "\" separators become the
// system's, and a bare name is looked for in the working folder, then in the
// program folder. Empty when the file is not found.
QString resolve_report_path(const QString& file_path);
// A report file's path as this machine writes paths, for messages.
QString readable_path(const QString& path);

// Limits that keep a damaged or hostile report file from taking the program
// down: the file, an included file, and the nesting of the body's sections.
inline constexpr qint64 kMaxReportFileBytes = 1024 * 1024;
inline constexpr qint64 kMaxIncludedBytes = 256 * 1024;
inline constexpr int kMaxTemplateDepth = 16;
// What one report may ask of the program, whatever its file says: the rows
// and bytes its queries return, the time they run, how many times its
// sections may repeat in all, the size of the page text, the longest word.
// (The rows, bytes and time of the queries: report_rows.h.)
inline constexpr double kMaxSectionRepeats = 2e6;
inline constexpr qint64 kMaxRenderedBytes = 16 * 1024 * 1024;
inline constexpr int kMaxWordLength = 2000;

ParsedReportFile read_report_file(const QString& path);
