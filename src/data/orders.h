#pragma once

#include "accounts.h"
#include "db_error.h"
#include "investigations.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// Tests ordered for a patient before any result exists. One order is saved
// as one accession per sample kind (the number on that sample's label, "A"
// and digits on screen and on paper, a series of its own, never reused and
// never given twice), each with its tests; a saved report of an ordered test
// is linked to its accession, and the accession leaves the waiting list when
// every test of it has its report. A laboratory that orders nothing never
// touches these tables.

enum class Priority { Routine, Urgent };

struct OrderRequest {
    qint64 patient_id = 0;
    QString ref_by;
    QList<const Investigation*> tests;
    Priority priority = Priority::Routine;
    QString note;
};

// "A123" for 123; the number of a typed or scanned "A123" (or "a123", or
// the digits alone), nothing for anything else.
QString accession_text(qint64 accession);
std::optional<qint64> accession_number(const QString& typed);
// The accession an analyzer's sample id names: "A123" only (bare digits are a lab id).
std::optional<qint64> accession_in_sample_id(const QString& sample_id);

// Saves the order (the Order right; the patient must be registered): one
// accession per sample kind its tests need, in the order of the catalogue,
// all of it or nothing. The accessions given, in that order.
DbResult<QList<qint64>> place_order(const Actor& who, const OrderRequest& order);

// An accession as the waiting list and its label show it.
struct OrderedSample {
    qint64 accession = 0;
    qint64 patient_id = 0;
    QString patient_name, age, sex, ref_by;
    catalogue::SampleKind sample = catalogue::SampleKind::Blood;
    bool urgent = false;
    QString ordered_at, collected_at, received_at; // ISO date and time; empty: not yet
    QList<const Investigation*> tests;             // every test of it, in the order of the catalogue
    QList<const Investigation*> waiting;           // those without a report yet
    QString note;
};

DbResult<std::optional<OrderedSample>> ordered_sample(qint64 accession);
// Whether the laboratory has ever ordered anything (what only a laboratory
// that orders is shown depends on it).
DbResult<bool> laboratory_orders();
// Every accession with a test still waiting: urgent first, then oldest;
// or `limit` of them from `offset` on in that order (a page of a long list).
DbResult<QList<OrderedSample>> waiting_samples(int limit = -1, int offset = 0);
// How many accessions have a test still waiting.
DbResult<int> waiting_count();

// Records who collected or received the accession's sample, now (the Order
// right). Once recorded, a time is kept: a second scan changes nothing.
DbError mark_collected(const Actor& who, qint64 accession);
DbError mark_received(const Actor& who, qint64 accession);

// Inside the transaction that saves a report: the report resulted `test`
// of `accession` (a NotFound error when the accession does not order it).
DbError link_report(qint64 accession, const Investigation* test, const QVariant& lab_id);

// The report `lab_id` was printed (or saved as a PDF) now: recorded as its
// ordered test's first print, once; nothing for a report no order asked for.
DbError note_printed(qint64 lab_id);

// Orders pushed to an analyzer (HL7 analyzers that take them unasked): the
// accessions whose sample was received and that have a test waiting, never
// acknowledged by `analyzer` and not sent to it since `resend_before` (ISO
// date and time), oldest first, at most `most`.
DbResult<QList<qint64>> accessions_to_push(const QString& analyzer, const QString& resend_before, int most);
// The accession went to the analyzer now, under the message control id.
DbError note_pushed(qint64 accession, const QString& analyzer, const QString& control_id);
// The analyzer acknowledged the message of that control id: it is not sent again.
DbError note_push_acknowledged(const QString& analyzer, const QString& control_id);

// How long the tests of orders placed between two days (inclusive) took, per
// test: the count resulted, and the median and 90th percentile, in minutes,
// of ordered to resulted and of resulted to verified (over the verified ones).
struct Turnaround {
    const Investigation* test = nullptr;
    int resulted = 0, verified = 0;
    double ordered_to_resulted_median = 0, ordered_to_resulted_p90 = 0;
    double resulted_to_verified_median = 0, resulted_to_verified_p90 = 0;
};
// `urgent`: only the urgent orders, or only the routine ones; none: all.
DbResult<QList<Turnaround>> turnaround(QDate from, QDate to, std::optional<bool> urgent = std::nullopt);
