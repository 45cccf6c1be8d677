#pragma once

#include <QString>

// A laboratory database of ten years' work, for the benchmarks: 100,000
// patients and 400,000 reports over the twelve tests (about six million
// result rows), with realistic names, doctors, dates and result texts.
// Made once and reused: building it takes a while.
struct TenYearSize {
    int patients = 100000;
    int reports = 400000;
};

// Creates the file at `path` unless it exists already. Returns an empty text,
// or what went wrong.
QString make_ten_year_database(const QString& path, TenYearSize size = {});
