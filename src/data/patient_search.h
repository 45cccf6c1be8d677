#pragma once

#include "db_error.h"
#include "records.h"
#include "trends.h"

#include <QDate>
#include <QString>
#include <QStringList>

// Finding patients, their history of reports, and the cumulative view of one
// test over time. Every query is bound and finishes at once.

// The columns of the found patients, in the order shown.
inline const QStringList kFoundColumns = {QStringLiteral("patient_id"), QStringLiteral("patient_name"),
                                          QStringLiteral("age"),        QStringLiteral("sex"),
                                          QStringLiteral("phone"),      QStringLiteral("mobile"),
                                          QStringLiteral("reg_date")};

// The patients whose name (any part, any case), phone or mobile number holds
// `text`, or whose patient id, or one of whose lab ids, is `text`; every
// patient for an empty text. Ordered by `order` (one of kFoundColumns), newest
// registration first unless said otherwise. A search lists at most
// kMostFound patients: more is no help at the front desk, and typing on narrows it.
inline constexpr int kMostFound = 1000;
// One or two characters are looked for among this many latest registrations
// (from three characters on, among every patient).
inline constexpr int kRecentlyRegistered = 20000;
ListQuery patient_search(const QString& text, const QString& order = QStringLiteral("reg_date"),
                         bool descending = true);

// The patients a typed number names exactly: the patient with that number,
// then the patient of the report with that lab id (each once, only those that
// exist). Empty for anything but a whole number.
DbResult<QList<qint64>> exact_patients(const QString& typed);

// The columns of a patient's history, in the order shown.
inline const QStringList kHistoryColumns = {QStringLiteral("lab_id"), QStringLiteral("t_date"),
                                            QStringLiteral("test"), QStringLiteral("ref_by"),
                                            QStringLiteral("temp_patient")};

// Every report of the patient, newest first.
ListQuery report_history(qint64 patient_id);

// Fills the connection's own scratch tables for the cumulative report: the
// patient's reports of `test` dated `from` to `to` (one column each, oldest
// first) against every item they hold (one row each), a result or nothing in
// every cell. The columns come in blocks of kCumulativeDatesPerTable (block
// 1, 2, ...), one table each on the page: a page holds so many columns
// legibly, and laying out one table of every date grows far faster than the
// dates do. Returns the number of reports.
inline constexpr int kCumulativeDatesPerTable = 8;
// With `chart`, its points in those dates go to a third scratch table
// (cumulative_chart: t_date, lab_id, value, flag, low, high, item), which the
// report draws below its tables; without, that table is left empty.
DbResult<int> fill_cumulative(qint64 patient_id, const QString& test, const QDate& from, const QDate& to,
                              const Trend* chart = nullptr);
