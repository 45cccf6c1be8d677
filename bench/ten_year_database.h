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

// For a benchmark: the file named by --db in `args` (else
// /tmp/tavora-ten-year.mdb, or with --patients N [--reports M] a laboratory
// of that size in a file named after it), made when missing. Empty when it cannot be made
// (and said so on the standard error).
QString ten_year_database(const QStringList& args);

// For a benchmark given --server CONNINFO (a running PostgreSQL, e.g. one
// started by tools/pg_test_cluster.sh): the URL of the ten-year database
// moved to that server (moved once, by migrate; reused after). Empty when it
// cannot be made.
QString ten_year_server(const QStringList& args, const QString& file);

// For a benchmark: makes `folder` the program folder, with the ten-year
// database (a link to it, or, given --server, the server's copy named by
// tavora-lab.ini) and the built report files, answers every message
// box with OK and opens the connection. False when the database cannot be made.
bool use_ten_year_program_folder(const QStringList& args, const QString& folder);
